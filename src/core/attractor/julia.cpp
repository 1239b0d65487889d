#include "core/attractor/julia.h"

#include "core/strings/string_table.h"

namespace qm {

namespace {
constexpr char kLevelMin = Julia::kMinLevel, kLevelMax = Julia::kMaxLevel;
constexpr double kMinus2 = -2, kTwo = 2, kZero = 0, kPi = 3.141592653589793;
}  // namespace

Julia::Julia() {
    setKind(AttractorKind::Julia);
    params_
        .addParam(text(TextId::kJuliaLevel), ParamType::Int8, &level, &kLevelMin, &kLevelMax, false)
        .nameTextId = TextId::kJuliaLevel;
    params_.addParam("Cr", ParamType::Double, &Cr, &kMinus2, &kTwo, true);
    params_.addParam("Ci", ParamType::Double, &Ci, &kMinus2, &kTwo, true);
    params_.addParam("Phi", ParamType::Double, &Phi, &kZero, &kPi, true);
}

void Julia::restart() {
    currentPoint_ = {0, 0, 0};
    rotation_ = {std::sin(Phi), 0, 0, std::cos(Phi)};
    c_ = rotation_ * Quat{Ci, 0, 0, Cr};
    countdown_ = 1;
    Attractor::restart();
}

}  // namespace qm
