#include "core/render/sampling.h"

#include <algorithm>
#include <array>

namespace qm {

bool sampleAttractor(Attractor& attractor, TBitmap3D& target, std::int32_t n, SamplingMode mode) {
    const bool fitOrCentre = mode != SamplingMode::Plain;
    const bool scanning = fitOrCentre || target.isLightFamily();
    if (fitOrCentre)
        target.BeginScan(mode == SamplingMode::Fit ? ScanKind::Fit : ScanKind::Centre);
    else if (scanning)
        target.BeginScan(ScanKind::Plain);

    attractor.restart();
    const std::int64_t end = static_cast<std::int64_t>(n) + kSamplingTransient;
    std::array<Vecd, 1024> block;
    while (!attractor.diverged() && attractor.iterationCount() < end) {
        const std::int32_t before = attractor.iterationCount();
        const auto want = static_cast<std::int32_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), end - before));
        const std::int32_t got = attractor.iterateBlock(block.data(), want);
        for (std::int32_t k = 0; k < got; ++k) {
            // The point of iteration before + k + 1; the first 500 are the transient.
            if (before + k + 1 <= kSamplingTransient) continue;
            if (scanning) target.ScanPoint(block[static_cast<std::size_t>(k)]);
            target.AddPreviewPoint(block[static_cast<std::size_t>(k)]);
        }
    }
    const bool bounded = !attractor.diverged();
    if (scanning && (bounded || !fitOrCentre)) target.EndScan();
    return bounded;
}

}  // namespace qm
