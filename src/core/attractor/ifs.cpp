#include "core/attractor/ifs.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/math/cr_trig.h"

namespace qm {

namespace {
constexpr double kZero = 0, kOne = 1, kMinus1 = -1, kPi = 3.141592653589793, kShearMin = -0.25,
                 kShearMax = 0.25, kCoefMin = -1.2, kCoefMax = 1.2;
const char* const kShearNames[6] = {"sh. XY", "sh. XZ", "sh. YX", "sh. YZ", "sh. ZX", "sh. ZY"};
}  // namespace

IFS::IFS(std::int8_t count) {
    setKind(AttractorKind::IFS);
    setMatrixCount(count);
    seed_ = random31();
}

void IFS::setMatrixCount(std::int8_t n) {
    count_ = std::clamp(n, kMinCount, kMaxCount);
    const auto maps = static_cast<std::size_t>(count_);
    angles_.assign(maps, Vecd{});
    translations_.assign(maps, Vecd{});
    scales_.assign(maps, Vecd{});
    shears_.assign(maps * 6, 0.0);
    matrices_.assign(maps * kMatrixSize, 0.0);
    probabilities_.assign(maps, 1.0);
    params_.clearParams();
    registerParams();
}

void IFS::setCoefficientMode(bool on) {
    coefficientMode_ = on;
    setMatrixCount(count_);
}

void IFS::registerParams() {
    for (int i = 0; i < count_; ++i) {
        // Map i is named by the letter M advanced by i: M, N, O, ... T.
        const std::string letter(1, static_cast<char>('M' + i));
        const std::string prefix = letter + " ";
        if (coefficientMode_) {
            double* m = matrix(i);
            for (int k = 0; k < kMatrixSize; ++k)
                params_.addParam(letter + std::to_string(k), ParamType::Double, &m[k], &kCoefMin,
                                 &kCoefMax, true);
        } else {
            Vecd& a = angles(i);
            Vecd& s = scales(i);
            Vecd& t = translations(i);
            double* sh = shears(i);
            params_.addParam(prefix + "rot. X", ParamType::Double, &a.x, &kZero, &kPi, true);
            params_.addParam(prefix + "rot. Y", ParamType::Double, &a.y, &kZero, &kPi, true);
            params_.addParam(prefix + "rot. Z", ParamType::Double, &a.z, &kZero, &kPi, true);
            params_.addParam(prefix + "sc. X", ParamType::Double, &s.x, &kMinus1, &kOne, true);
            params_.addParam(prefix + "sc. Y", ParamType::Double, &s.y, &kMinus1, &kOne, true);
            params_.addParam(prefix + "sc. Z", ParamType::Double, &s.z, &kMinus1, &kOne, true);
            for (int k = 0; k < 6; ++k)
                params_.addParam(prefix + kShearNames[k], ParamType::Double, &sh[k], &kShearMin,
                                 &kShearMax, true);
            params_.addParam(prefix + "tr. X", ParamType::Double, &t.x, &kMinus1, &kOne, true);
            params_.addParam(prefix + "tr. Y", ParamType::Double, &t.y, &kMinus1, &kOne, true);
            params_.addParam(prefix + "tr. Z", ParamType::Double, &t.z, &kMinus1, &kOne, true);
        }
        params_.addParam(prefix + "prob.", ParamType::Double, &probability(i), &kZero, &kOne,
                         false);
    }
    std::fill(matrices_.begin(), matrices_.end(), 0.0);
}

void IFS::buildMatrix(int i) {
    if (i < 0 || i >= count_) return;
    double* m = matrix(i);
    const Vecd& a = angles_[static_cast<std::size_t>(i)];
    const Vecd& s = scales_[static_cast<std::size_t>(i)];
    const Vecd& t = translations_[static_cast<std::size_t>(i)];
    const double* sh = &shears_[static_cast<std::size_t>(i) * 6];

    // Identity, then the angles scale diagonal entries by their cosines only: this is not a
    // product of rotations, and stored transform-mode attractors depend on exactly it.
    std::fill(m, m + kMatrixSize, 0.0);
    m[0] = m[4] = m[8] = 1.0;
    const double ca = crm::cos(a.x), cb = crm::cos(a.y), cc = crm::cos(a.z);
    m[4] *= ca;
    m[8] *= ca;
    m[0] *= cb;
    m[8] *= cb;
    m[0] *= cc;
    m[4] *= cc;
    m[0] *= s.x;
    m[4] *= s.y;
    m[8] *= s.z;
    m[3] = sh[0];
    m[6] = sh[1];
    m[1] = sh[2];
    m[7] = sh[3];
    m[2] = sh[4];
    m[5] = sh[5];
    m[9] = t.x;
    m[10] = t.y;
    m[11] = t.z;
}

void IFS::restart() {
    currentPoint_ = {0, 0, 0};
    seedRandom31(static_cast<std::uint32_t>(seed_));
    if (!coefficientMode_)
        for (int i = 0; i < count_; ++i) buildMatrix(i);
    Attractor::restart();
}

void IFS::computeLimits(std::array<std::int32_t, kMaxCount>& limit) const {
    // advance takes the first map whose running probability reaches r / 2147483647. That test
    // is monotone in r, so a binary search finds the exact boundary for each running sum;
    // -1 when no draw reaches it.
    double sum = 0;
    for (int j = 0; j < count_ - 1; ++j) {
        sum += probabilities_[static_cast<std::size_t>(j)];
        std::int64_t lo = -1, hi = 2147483647;  // r = lo takes map j or less, r = hi does not
        if (2147483647 / 2147483647.0 <= sum) {
            lo = hi;
        } else {
            while (hi - lo > 1) {
                const std::int64_t mid = lo + (hi - lo) / 2;
                if (static_cast<double>(mid) / 2147483647.0 <= sum)
                    lo = mid;
                else
                    hi = mid;
            }
        }
        limit[static_cast<std::size_t>(j)] = static_cast<std::int32_t>(lo);
    }
}

bool IFS::randomize(double amount) {
    seed_ = random31();
    Attractor::randomize(amount);

    // Each map's weight is the absolute value of this expression. Its minors pair m4 with m7
    // and m5 with m8, unlike a determinant; the probabilities of stored files come from it.
    double weights[kMaxCount];
    double total = 0;
    bool contracting = true;
    for (int i = 0; i < count_; ++i) {
        if (!coefficientMode_) buildMatrix(i);
        const double* m = matrix(i);
        const double w = std::fabs(m[0] * (m[4] * m[7] - m[5] * m[8]) +
                                   m[1] * (m[5] * m[6] - m[3] * m[7]) +
                                   m[2] * (m[3] * m[8] - m[4] * m[6]));
        weights[i] = w;
        total += w;
        if (!(w < 1)) contracting = false;
    }
    if (total >= 0.1)
        for (int i = 0; i < count_; ++i) probability(i) = weights[i] / total;
    return total >= 0.1 && contracting;
}

}  // namespace qm
