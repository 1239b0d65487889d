#include "core/render/fused_render.h"

#include <typeinfo>

#include "core/attractor/ifs.h"
#include "core/attractor/julia.h"
#include "core/attractor/kinds.h"
#include "core/attractor/polynomial.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/solid.h"

namespace qm {

namespace {

template <class Kind, class Mode>
std::int32_t fusedBlock(Attractor& attractor, TBitmap3D& target, std::int32_t n) {
    Kind& kind = static_cast<Kind&>(attractor);
    Mode& mode = static_cast<Mode&>(target);
    return kind.withBlockStepper([&](auto&& step) {
        return kind.iterateAndPlotWith(n, step, [&mode](const Vecd& p) { mode.plotOne(p); });
    });
}

template <class Kind>
FusedBlockFn forMode(const TBitmap3D& target) {
    const std::type_info& mode = typeid(target);
    if (mode == typeid(TBitmap3D_Gas)) return &fusedBlock<Kind, TBitmap3D_Gas>;
    if (mode == typeid(TBitmap3D_Liquid)) return &fusedBlock<Kind, TBitmap3D_Liquid>;
    if (mode == typeid(TBitmap3D_Light)) return &fusedBlock<Kind, TBitmap3D_Light>;
    if (mode == typeid(TBitmap3D_Plasma)) return &fusedBlock<Kind, TBitmap3D_Plasma>;
    if (mode == typeid(TBitmap3D_Solid)) return &fusedBlock<Kind, TBitmap3D_Solid>;
    return nullptr;
}

}  // namespace

FusedBlockFn fusedBlockFunction(const Attractor& attractor, const TBitmap3D& target) {
    const std::type_info& kind = typeid(attractor);
    if (kind == typeid(Icon)) return forMode<Icon>(target);
    if (kind == typeid(IFS)) return forMode<IFS>(target);
    if (kind == typeid(Julia)) return forMode<Julia>(target);
    if (kind == typeid(Lorenz_2L)) return forMode<Lorenz_2L>(target);
    if (kind == typeid(Lorenz_84)) return forMode<Lorenz_84>(target);
    if (kind == typeid(Pickover)) return forMode<Pickover>(target);
    if (kind == typeid(Polynomial_A)) return forMode<Polynomial_A>(target);
    if (kind == typeid(Polynomial_B)) return forMode<Polynomial_B>(target);
    if (kind == typeid(Polynomial_C)) return forMode<Polynomial_C>(target);
    if (kind == typeid(Polynomial_Sprott)) return forMode<Polynomial_Sprott>(target);
    if (kind == typeid(Unravel)) return forMode<Unravel>(target);
    return nullptr;
}

}  // namespace qm
