// KindBase: ties a concrete kind's non-virtual advance to the two virtual entry points, so
// that step and iterateBlock share one formula and the block loop inlines it.
#pragma once

#include "core/attractor/attractor.h"

namespace qm {

template <class Derived, class Base = Attractor>
class KindBase : public Base {
public:
    using Base::Base;

    void step(Vecd& point) override { self().advance(point, threadRandom31()); }
    std::int32_t iterateBlock(Vecd* out, std::int32_t n) override {
        return self().withBlockStepper(
            [&](auto&& stepper) { return this->template iterateBlockWith<Derived::kStepMayDiverge>(out, n, stepper); });
    }

    // Whether advance may call diverge itself; a kind whose step does says so.
    static constexpr bool kStepMayDiverge = false;

    // Calls f with the step that block loops use: advance, unless the kind prepares something
    // faster for a whole block (and then hides this with its own withBlockStepper).
    template <class F>
    decltype(auto) withBlockStepper(F&& f) {
        return f([this](Vecd& p, Random31& rng) { self().advance(p, rng); });
    }

private:
    Derived& self() { return static_cast<Derived&>(*this); }
};

}  // namespace qm
