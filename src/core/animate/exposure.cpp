#include "core/animate/exposure.h"

#include <algorithm>
#include <cmath>

#include "core/math/cr_exp_log.h"

namespace qm {

std::vector<std::int32_t> exposureSampleFrames(const Animation& animation, std::int32_t samples) {
    const std::int64_t n = animation.frameCount();
    const std::int64_t k = std::clamp<std::int64_t>(samples, 1, n);
    std::vector<std::int32_t> frames;
    for (std::int64_t i = 0; i < k; ++i) {
        // A turntable's samples spread over the whole turn, a journey's from end to end.
        const std::int64_t f = animation.kind() == Animation::Kind::Turntable
                                   ? i * n / k
                                   : (k < 2 ? 0 : (i * (n - 1) + (k - 1) / 2) / (k - 1));
        if (frames.empty() || frames.back() != f) frames.push_back(static_cast<std::int32_t>(f));
    }
    return frames;
}

ExposurePlan::ExposurePlan(const Animation& animation, std::vector<ExposureSample> samples)
    : kind_(animation.kind()) {
    for (const ExposureSample& s : samples)
        if (s.peak > 0 && std::isfinite(s.peak)) samples_.push_back(s);
    std::sort(samples_.begin(), samples_.end(),
              [](const ExposureSample& a, const ExposureSample& b) { return a.frame < b.frame; });
    if (samples_.empty()) return;
    // The median: one frame whose densest pixel stands out (an orbit passing close to a fixed
    // point, the cloud seen edge on) does not darken the others.
    std::vector<double> peaks;
    for (const ExposureSample& s : samples_) peaks.push_back(s.peak);
    std::sort(peaks.begin(), peaks.end());
    const std::size_t m = peaks.size() / 2;
    constant_ = peaks.size() % 2 == 1 ? peaks[m] : std::sqrt(peaks[m - 1] * peaks[m]);
}

std::optional<double> ExposurePlan::at(std::int32_t frame) const {
    const std::optional<double> exact = between(frame);
    // The development holds its peak as a float: the value a frame's scene carries is the one
    // its image was developed with.
    if (!exact) return exact;
    return static_cast<double>(static_cast<float>(*exact));
}

std::optional<double> ExposurePlan::between(std::int32_t frame) const {
    if (samples_.empty()) return std::nullopt;
    if (kind_ == Animation::Kind::Turntable) return constant_;
    // A journey: geometric between the samples around the frame, the nearest one outside them.
    if (frame <= samples_.front().frame) return samples_.front().peak;
    if (frame >= samples_.back().frame) return samples_.back().peak;
    const auto after =
        std::upper_bound(samples_.begin(), samples_.end(), frame,
                         [](std::int32_t f, const ExposureSample& s) { return f < s.frame; });
    const ExposureSample& b = *after;
    const ExposureSample& a = *(after - 1);
    if (a.frame == frame) return a.peak;
    const double s = static_cast<double>(frame - a.frame) / (b.frame - a.frame);
    return crm::exp((1 - s) * crm::log(a.peak) + s * crm::log(b.peak));
}

}  // namespace qm
