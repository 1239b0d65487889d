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

std::unique_ptr<Attractor> Attractor::clone() const {
    // IFS's constructor draws its seed from the thread's generator: put the state back.
    const Random31 saved = threadRandom31();
    std::int8_t option = 0;
    if (const auto* ifs = dynamic_cast<const IFS*>(this)) option = ifs->count();
    if (const auto* sprott = dynamic_cast<const Polynomial_Sprott*>(this)) option = sprott->order();
    std::unique_ptr<Attractor> copy = createAttractor(kindCode_, option);
    if (copy) {
        if (const auto* ifs = dynamic_cast<const IFS*>(this); ifs && ifs->coefficientMode())
            static_cast<IFS&>(*copy).setCoefficientMode(true);
        // Every value goes through its own type, so the copy is exact.
        auto to = copy->params().begin();
        for (auto from = params_.begin(); from != params_.end() && to != copy->params().end(); ++from, ++to)
            to->set(from->get());
        copy->restart();
    }
    threadRandom31() = saved;
    return copy;
}

}  // namespace qm
