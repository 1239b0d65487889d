// The random search trial and its two estimators.
#include <cmath>

#include "core/attractor/attractor.h"
#include "core/math/cr_exp_log.h"

namespace qm {

namespace {
constexpr std::int32_t kTransient = 100;         // the exponent test and the box wait for it
constexpr std::int32_t kExtentIteration = 1000;  // the box's diagonal is taken here, once
constexpr double kLyapunovThreshold = 0.001;     // bits per iteration
constexpr double kDimensionThreshold = 1.5;
// 1/(2 ln 2) and 1/ln 10 as stored constants, not the exact values: the estimates of stored
// attractors were computed with these.
constexpr double kLyapunovScale = 0.721347;
constexpr double kDimensionScale = 0.434294;
// The pair partner is taken from the 480 oldest ring entries: 20 to 499 iterations ago.
constexpr std::int32_t kPairWindow = 480;
}  // namespace

bool Attractor::search(double amount) {
    searching_ = true;  // divergence inside a trial is not reported
    params_.pushValues();
    const bool ok = randomize(amount);
    if (ok) measure();
    searching_ = false;
    if (ok && measuredChaotic()) {
        params_.dropValues();
        return true;
    }
    params_.popValues();
    return false;
}

void Attractor::measure() {
    restart();
    resetBounds();
    while (iterationCount_ < kTrialLength && !diverged_ &&
           (iterationCount_ < kTransient || lyapunov_ > kLyapunovThreshold)) {
        iterate();
        updateDimension();
        updateLyapunov();
    }
    afterSearch();
}

bool Attractor::measuredChaotic() const {
    return iterationCount_ == kTrialLength && dimension_ >= kDimensionThreshold &&
           lyapunov_ >= kLyapunovThreshold;
}

void Attractor::updateDimension() {
    if (diverged_) return;
    const std::int32_t h = iterationCount_ % kHistorySize;
    historyIndex_ = static_cast<std::int16_t>(h);
    (*history_)[static_cast<std::size_t>(h)] = currentPoint_;
    if (iterationCount_ > kTransient) extendBounds();
    if (iterationCount_ == kExtentIteration) {
        const Vecd d = maxCorner_ - minCorner_;
        extentSquared_ = d.x * d.x + d.y * d.y + d.z * d.z;
    } else if (iterationCount_ > kExtentIteration) {
        const std::int32_t j = (random31() % kPairWindow + h + 1) % kHistorySize;
        const Vecd d = currentPoint_ - (*history_)[static_cast<std::size_t>(j)];
        const double e = dot(d, d);
        // Radii of 0.001 and 0.00001 of the extent, squared, times 2^3 for three coordinates;
        // the two counts are a decade apart, so their ratio gives the slope over one decade.
        if (8 * 0.001 * extentSquared_ > e) ++nearPairs_;
        if (8 * 0.00001 * extentSquared_ >= e) {
            ++closePairs_;
            dimension_ = nearPairs_ != 0
                             ? kDimensionScale * crm::log(nearPairs_ / (closePairs_ - 0.5))
                             : 0.0;
        }
    }
}

void Attractor::updateLyapunov() {
    if (diverged_) return;
    Vecd s = shadowPoint_;
    step(s);
    if (outOfBounds(s)) {
        diverge();
        return;
    }
    const Vecd d = s - currentPoint_;
    const double q = dot(d, d);
    if (q <= 0) return;
    // Put the shadow back at 1e-6 along d; ln(1e12 q) is 2 ln(|d| / 1e-6).
    const double f = 1 / std::sqrt(1e12 * q);
    shadowPoint_ = currentPoint_ + d * f;
    logSum_ += crm::log(1e12 * q);
    ++logCount_;
    lyapunov_ = kLyapunovScale * logSum_ / logCount_;
}

}  // namespace qm
