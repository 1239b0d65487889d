// IFS: an iterated function system of 2 to 8 affine maps, one chosen at random at each step
// with a probability of its own (the chaos game). A map is composed from transforms (angles,
// scales, shears, translation) or, in coefficient mode, given by its twelve coefficients.
#pragma once

#include "core/hot_path.h"

#include <array>
#include <vector>

#include "core/attractor/kind_base.h"

namespace qm {

class IFS final : public KindBase<IFS> {
public:
    static constexpr std::int8_t kMinCount = 2;
    static constexpr std::int8_t kMaxCount = 8;
    static constexpr int kMatrixSize = 12;

    // A count outside 2 to 8 is clamped to the nearest of them.
    explicit IFS(std::int8_t count);

    // Rebuilds every map for n maps (clamped to 2 to 8) with all transforms and coefficients
    // 0 and every probability 1, and registers the parameters of the current mode. Every
    // previous value is lost.
    void setMatrixCount(std::int8_t n);
    void setCoefficientMode(bool on);
    // Composes map i from its transforms; indices outside the maps are ignored.
    void buildMatrix(int i);

    void restart() override;
    bool randomize(double amount) override;

    // The twelve coefficients m0..m11 of a map: the linear part by rows, then the translation.
    QM_HOT_INLINE void advance(Vecd& p, Random31& rng) const {
        const double u = rng.uniform();
        // The first map whose running probability reaches u; the last one if none does.
        int i = 0;
        double sum = 0;
        const int last = count_ - 1;
        for (; i < last; ++i) {
            sum += probabilities_[static_cast<std::size_t>(i)];
            if (sum >= u) break;
        }
        const double* m = &matrices_[static_cast<std::size_t>(i) * kMatrixSize];
        const double x = p.x, y = p.y, z = p.z;
        p.x = m[0] * x + m[1] * y + m[2] * z + m[9];
        p.y = m[3] * x + m[4] * y + m[5] * z + m[10];
        p.z = m[6] * x + m[7] * y + m[8] * z + m[11];
    }

    // The block path chooses maps by integer thresholds on the random31 draw, computed once per
    // block from the probabilities: the same choice as the running sum of advance, without
    // a division and a data-dependent loop per point.
    template <class F>
    decltype(auto) withBlockStepper(F&& f) {
        std::array<std::int32_t, kMaxCount> limit;
        computeLimits(limit);
        const int last = count_ - 1;
        const double* matrices = matrices_.data();
        return f([limit, last, matrices](Vecd& p, Random31& rng) {
            const std::int32_t r = rng.next();
            int i = last;
            for (int j = last - 1; j >= 0; --j) i = r <= limit[static_cast<std::size_t>(j)] ? j : i;
            const double* m = matrices + i * kMatrixSize;
            const double x = p.x, y = p.y, z = p.z;
            p.x = m[0] * x + m[1] * y + m[2] * z + m[9];
            p.y = m[3] * x + m[4] * y + m[5] * z + m[10];
            p.z = m[6] * x + m[7] * y + m[8] * z + m[11];
        });
    }

    std::int8_t count() const { return count_; }
    bool coefficientMode() const { return coefficientMode_; }
    std::int32_t seed() const { return seed_; }
    void setSeed(std::int32_t seed) { seed_ = seed; }
    double* matrix(int i) { return &matrices_[static_cast<std::size_t>(i) * kMatrixSize]; }
    const double* matrix(int i) const { return &matrices_[static_cast<std::size_t>(i) * kMatrixSize]; }
    double& probability(int i) { return probabilities_[static_cast<std::size_t>(i)]; }
    Vecd& angles(int i) { return angles_[static_cast<std::size_t>(i)]; }
    Vecd& scales(int i) { return scales_[static_cast<std::size_t>(i)]; }
    Vecd& translations(int i) { return translations_[static_cast<std::size_t>(i)]; }
    // "sh. XY", "sh. XZ", "sh. YX", "sh. YZ", "sh. ZX", "sh. ZY" of map i.
    double* shears(int i) { return &shears_[static_cast<std::size_t>(i) * 6]; }

private:
    void registerParams();
    // limit[j]: the largest draw r for which advance takes a map of index j or less.
    void computeLimits(std::array<std::int32_t, kMaxCount>& limit) const;

    std::vector<Vecd> angles_;
    std::vector<Vecd> translations_;
    std::vector<Vecd> scales_;
    std::vector<double> shears_;
    std::int32_t seed_ = 0;
    std::vector<double> matrices_;
    std::vector<double> probabilities_;
    std::int8_t count_ = 0;
    bool coefficientMode_ = false;
};

}  // namespace qm
