#include "core/attractor/attractor.h"

#include <limits>

#include "core/strings/string_table.h"

namespace qm {

Attractor::Attractor() : history_(std::make_unique<std::array<Vecd, kHistorySize>>()) {}

Attractor::~Attractor() = default;

void Attractor::setKind(AttractorKind kind) {
    kindCode_ = static_cast<std::int8_t>(kind);
    retranslate();
}

void Attractor::retranslate() {
    displayName_ = text(TextId::kKindNameFirst + kindCode_);
    for (ParamEntry& entry : params_)
        if (entry.nameTextId != 0) entry.name = text(entry.nameTextId);
}

bool Attractor::randomize(double amount) {
    params_.randomizeAll(3, amount);
    return true;
}

void Attractor::resetBounds() {
    constexpr double m = std::numeric_limits<double>::max();
    minCorner_ = {m, m, m};
    maxCorner_ = {-m, -m, -m};
}

void Attractor::extendBounds() {
    // "not (c >= min)" rather than "c < min": a NaN coordinate becomes the minimum.
    auto extend = [](double c, double& lo, double& hi) {
        if (!(c >= lo)) lo = c;
        if (c > hi) hi = c;
    };
    extend(currentPoint_.x, minCorner_.x, maxCorner_.x);
    extend(currentPoint_.y, minCorner_.y, maxCorner_.y);
    extend(currentPoint_.z, minCorner_.z, maxCorner_.z);
}

void Attractor::restart() {
    iterationCount_ = 0;
    diverged_ = false;
    logSum_ = 0.0;
    logCount_ = 0;
    lyapunov_ = 0.0;
    extentSquared_ = 0.0;
    nearPairs_ = 0;
    closePairs_ = 0;
    historyIndex_ = 0;
    dimension_ = 0.0;
    shadowPoint_ = currentPoint_ + Vecd{1e-6, 0.0, 0.0};
}

void Attractor::diverge() {
    diverged_ = true;
    if (OnDiverge && !searching_) OnDiverge(*this);
}

}  // namespace qm
