#include "core/attractor/ifs.h"
#include "core/attractor/julia.h"
#include "core/attractor/kinds.h"
#include "core/attractor/polynomial.h"

namespace qm {

std::unique_ptr<Attractor> createAttractor(std::int8_t kindCode, std::int8_t option) {
    switch (static_cast<AttractorKind>(kindCode)) {
        case AttractorKind::Icon: return std::make_unique<Icon>();
        case AttractorKind::IFS: return std::make_unique<IFS>(option);
        case AttractorKind::Julia: return std::make_unique<Julia>();
        case AttractorKind::Lorenz: return std::make_unique<Lorenz_2L>();
        case AttractorKind::Lorenz84: return std::make_unique<Lorenz_84>();
        case AttractorKind::Pickover: return std::make_unique<Pickover>();
        case AttractorKind::PolynomialA: return std::make_unique<Polynomial_A>();
        case AttractorKind::PolynomialB: return std::make_unique<Polynomial_B>();
        case AttractorKind::PolynomialC: return std::make_unique<Polynomial_C>();
        case AttractorKind::PolynomialSprott: return std::make_unique<Polynomial_Sprott>(option);
        case AttractorKind::Unravel: return std::make_unique<Unravel>();
    }
    return nullptr;
}

}  // namespace qm
