// Fused render blocks: for a known attractor kind and render mode, one loop that steps the
// orbit and splats each point as soon as it exists, so that the splat of a point overlaps the
// computation of the next one. Points, counter, divergence and buffers are exactly those of
// iterateBlock followed by PlotBlock.
#pragma once

#include <cstdint>

#include "core/attractor/attractor.h"
#include "core/render/bitmap3d.h"

namespace qm {

// Iterates up to n points and plots each one; stops after the point at which the attractor
// diverged. Returns the number of points.
using FusedBlockFn = std::int32_t (*)(Attractor& attractor, TBitmap3D& target, std::int32_t n);

// The fused loop for this pair, or none when either object is not one of the program's own
// kinds and modes (a subclass made elsewhere takes the two-call path).
FusedBlockFn fusedBlockFunction(const Attractor& attractor, const TBitmap3D& target);

}  // namespace qm
