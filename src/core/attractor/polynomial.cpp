#include "core/attractor/polynomial.h"

#include <algorithm>
#include <string>

namespace qm {

namespace {
constexpr double kZero = 0, kTwo = 2, kMinus12 = -1.2, kPlus12 = 1.2;
}  // namespace

Polynomial::Polynomial(const double* minimum, const double* maximum)
    : minimum_(minimum), maximum_(maximum) {}

void Polynomial::restart() {
    currentPoint_ = {0.05, 0.05, 0.05};
    Attractor::restart();
}

void Polynomial::setCoefficientCount(std::int32_t k) {
    params_.clearParams();
    coefficients_.assign(static_cast<std::size_t>(std::max(k, 0)), 0.0);
    for (std::size_t i = 0; i < coefficients_.size(); ++i) {
        std::string name = "P";
        name += std::to_string(i);
        params_.addParam(name, ParamType::Double, &coefficients_[i], minimum_, maximum_, true);
    }
}

Polynomial_A::Polynomial_A() : KindBase(&kZero, &kTwo) {
    setKind(AttractorKind::PolynomialA);
    setCoefficientCount(3);
}

Polynomial_B::Polynomial_B() : KindBase(&kMinus12, &kPlus12) {
    setKind(AttractorKind::PolynomialB);
    setCoefficientCount(6);
}

Polynomial_C::Polynomial_C() : KindBase(&kMinus12, &kPlus12) {
    setKind(AttractorKind::PolynomialC);
    setCoefficientCount(18);
}

Polynomial_Sprott::Polynomial_Sprott(std::int8_t order) : KindBase(&kMinus12, &kPlus12) {
    setKind(AttractorKind::PolynomialSprott);
    setOrder(order);
}

void Polynomial_Sprott::setOrder(std::int8_t order) {
    order_ = std::clamp(order, kMinOrder, kMaxOrder);
    setCoefficientCount(coefficientCountFor(order_));
}

}  // namespace qm
