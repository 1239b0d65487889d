#include "core/attractor/julia.h"

#include "core/math/cr_trig.h"
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
    const auto [s, c] = crm::sincos(Phi);
    rotation_ = {s, 0, 0, c};
    c_ = rotation_ * Quat{Ci, 0, 0, Cr};
    countdown_ = 1;
    Attractor::restart();
}

namespace {
constexpr std::size_t kJuliaMemorySize = 1 + 4 + 4 + 4 * Julia::kStackSize;
void putQuat(std::vector<double>& out, const Quat& q) { out.insert(out.end(), {q.x, q.y, q.z, q.w}); }
Quat takeQuat(const double* d) { return {d[0], d[1], d[2], d[3]}; }
}  // namespace

std::vector<double> Julia::orbitMemory() const {
    std::vector<double> out;
    out.reserve(kJuliaMemorySize);
    out.push_back(countdown_);
    putQuat(out, start_);
    putQuat(out, q_);
    for (const Quat& q : stack_) putQuat(out, q);
    return out;
}

void Julia::setOrbitMemory(const std::vector<double>& memory) {
    if (memory.size() != kJuliaMemorySize) return;
    // The countdown is a power of two at most 2^30 counted down: outside that, keep ours.
    const double countdown = memory[0];
    if (!(countdown >= 1 && countdown <= double(std::int32_t{1} << kMaxLevel))) return;
    countdown_ = static_cast<std::int32_t>(countdown);
    start_ = takeQuat(&memory[1]);
    q_ = takeQuat(&memory[5]);
    for (std::size_t i = 0; i < stack_.size(); ++i) stack_[i] = takeQuat(&memory[9 + 4 * i]);
}

}  // namespace qm
