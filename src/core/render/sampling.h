// The preview sampling: a short run of the attractor whose points fill the render target's
// preview ring and, when the view is to be fitted or centred (or the mode needs statistics),
// its scan.
#pragma once

#include <cstdint>

#include "core/attractor/attractor.h"
#include "core/render/bitmap3d.h"

namespace qm {

enum class SamplingMode : std::uint8_t { Plain = 1, Centre = 2, Fit = 3 };

inline constexpr std::int32_t kPreviewIterations = 20000;
inline constexpr std::int32_t kSamplingTransient = 500;

// Restarts the attractor and iterates it n + 500 times, or until it diverges. The points of
// iterations 501 on go to AddPreviewPoint, and first to ScanPoint when bounds are needed: for
// a fit or a centring, and for the statistics of the Light family in plain mode. A fit or a
// centring ends its scan (moving the camera) only when the orbit stayed bounded; the
// statistics scan always ends. Returns true when the attractor did not diverge.
bool sampleAttractor(Attractor& attractor, TBitmap3D& target, std::int32_t n, SamplingMode mode);

}  // namespace qm
