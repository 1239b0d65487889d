// IFS: composing maps from transforms, choosing maps by probability, naming the parameters,
// the map-count guard, and the weights and acceptance of its randomize.
#include "core/attractor/ifs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/math/cr_trig.h"

namespace qm {
namespace {

TEST(IFS, TransformsComposeTheDocumentedMatrix) {
    IFS ifs(2);
    ifs.scales(0) = {0.5, 0.5, 0.5};
    ifs.translations(0) = {1, 0, 0};
    ifs.buildMatrix(0);
    const double* m = ifs.matrix(0);
    EXPECT_EQ(std::vector<double>(m, m + 12),
              (std::vector<double>{0.5, 0, 0, 0, 0.5, 0, 0, 0, 0.5, 1, 0, 0}));

    // Angles scale the diagonal by cosines only; shears fill the off-diagonal entries.
    ifs.angles(1) = {M_PI / 2, 0, 0};
    ifs.scales(1) = {1, 1, 1};
    double* sh = ifs.shears(1);
    for (int k = 0; k < 6; ++k) sh[k] = 0.01 * (k + 1);
    ifs.buildMatrix(1);
    const double* n = ifs.matrix(1);
    EXPECT_EQ(n[0], 1);
    EXPECT_EQ(n[4], crm::cos(M_PI / 2));
    EXPECT_EQ(n[8], crm::cos(M_PI / 2));
    EXPECT_EQ(n[3], 0.01);  // sh. XY
    EXPECT_EQ(n[6], 0.02);  // sh. XZ
    EXPECT_EQ(n[1], 0.03);  // sh. YX
    EXPECT_EQ(n[7], 0.04);  // sh. YZ
    EXPECT_EQ(n[2], 0.05);  // sh. ZX
    EXPECT_EQ(n[5], 0.06);  // sh. ZY

    ifs.buildMatrix(2);  // no such map: ignored
    ifs.buildMatrix(-1);
}

TEST(IFS, DiagonalIsTheProductOfCosinesAndScale) {
    IFS ifs(2);
    ifs.angles(0) = {0.3, 0.7, 1.1};
    ifs.scales(0) = {0.9, -0.8, 0.7};
    ifs.buildMatrix(0);
    const double* m = ifs.matrix(0);
    EXPECT_EQ(m[0], crm::cos(0.7) * crm::cos(1.1) * 0.9);
    EXPECT_EQ(m[4], crm::cos(0.3) * crm::cos(1.1) * -0.8);
    EXPECT_EQ(m[8], crm::cos(0.3) * crm::cos(0.7) * 0.7);
}

// Two maps told apart by their translations: map 0 sends everything to (1, 0, 0), the last
// map to (0, 0, 1).
void setDistinctMaps(IFS& ifs) {
    ifs.setCoefficientMode(true);
    for (int i = 0; i < ifs.count(); ++i) ifs.matrix(i)[9 + (i == ifs.count() - 1 ? 2 : 0)] = i + 1;
}

TEST(IFS, MapChoiceFollowsTheRunningProbability) {
    IFS ifs(3);
    setDistinctMaps(ifs);
    ifs.restart();
    // Probabilities (1, 1, 1): u <= 1 always takes map 0.
    for (int i = 0; i < 200; ++i) {
        ifs.iterate();
        ASSERT_EQ(ifs.currentPoint(), (Vecd{1, 0, 0}));
    }
    // Probabilities that never add up to u: the last map.
    for (int i = 0; i < 3; ++i) ifs.probability(i) = 0;
    for (int i = 0; i < 200; ++i) {
        ifs.iterate();
        ASSERT_EQ(ifs.currentPoint(), (Vecd{0, 0, 3}));
    }
    // (0.25, 0.25, 0): u <= 0.25 takes map 0, u <= 0.5 map 1, anything else the last map.
    ifs.probability(0) = 0.25;
    ifs.probability(1) = 0.25;
    ifs.setSeed(77);
    ifs.restart();
    Random31 rng{77};
    for (int i = 0; i < 1000; ++i) {
        const double u = rng.uniform();
        ifs.iterate();
        const Vecd expected = u <= 0.25 ? Vecd{1, 0, 0} : u <= 0.5 ? Vecd{2, 0, 0} : Vecd{0, 0, 3};
        ASSERT_EQ(ifs.currentPoint(), expected) << i;
    }
}

TEST(IFS, BlockChoosesTheSameMapsForAnyProbabilities) {
    // The block path's integer thresholds against the running sum of single steps, including
    // probabilities no palette would allow.
    const std::vector<std::vector<double>> cases = {
        {0.25, 0.25, 0.25, 0.25}, {0.1, 0.2, 0.3, 0.4}, {1.0 / 3, 1.0 / 3, 1.0 / 3, 0},
        {0, 0, 0, 0},            {-0.5, 0.7, 0.2, 0.1}, {NAN, 0.5, 0.5, 0},
        {2, 0, 0, 0},            {0.5, -1, 1, 0.1},     {1e-12, 1 - 1e-12, 0, 0}};
    for (const auto& probabilities : cases) {
        IFS single(4), blocked(4);
        for (IFS* ifs : {&single, &blocked}) {
            setDistinctMaps(*ifs);
            ifs->matrix(2)[10] = 5;  // map 2 is told apart from map 1 too
            for (int i = 0; i < 4; ++i) ifs->probability(i) = probabilities[static_cast<std::size_t>(i)];
            ifs->setSeed(99);
        }
        single.restart();
        std::vector<Vecd> expected;
        for (int i = 0; i < 5000; ++i) {
            single.iterate();
            expected.push_back(single.currentPoint());
        }
        blocked.restart();
        std::vector<Vecd> got(5000);
        ASSERT_EQ(blocked.iterateBlock(got.data(), 5000), 5000);
        EXPECT_EQ(got, expected) << probabilities[0] << ' ' << probabilities[1];
    }
}

TEST(IFS, RestartReplaysTheSameMaps) {
    IFS ifs(4);
    setDistinctMaps(ifs);
    for (int i = 0; i < 4; ++i) ifs.probability(i) = 0.25;
    ifs.restart();
    std::vector<Vecd> first;
    for (int i = 0; i < 100; ++i) {
        ifs.iterate();
        first.push_back(ifs.currentPoint());
    }
    random31();  // disturb the thread's generator
    ifs.restart();
    for (int i = 0; i < 100; ++i) {
        ifs.iterate();
        ASSERT_EQ(ifs.currentPoint(), first[static_cast<std::size_t>(i)]);
    }
}

TEST(IFS, ParameterNamesInBothModes) {
    IFS ifs(3);
    const ParamList& p = ifs.params();
    ASSERT_EQ(p.count(), 3 * 16);
    EXPECT_EQ(p[0].name, "M rot. X");
    EXPECT_EQ(p[3].name, "M sc. X");
    EXPECT_EQ(p[6].name, "M sh. XY");
    EXPECT_EQ(p[11].name, "M sh. ZY");
    EXPECT_EQ(p[12].name, "M tr. X");
    EXPECT_EQ(p[15].name, "M prob.");
    EXPECT_FALSE(p[15].randomizable);
    EXPECT_EQ(p[16].name, "N rot. X");
    EXPECT_EQ(p[47].name, "O prob.");
    EXPECT_EQ(p[0].max(), 3.141592653589793);
    EXPECT_EQ(p[6].min(), -0.25);

    ifs.setCoefficientMode(true);
    ASSERT_EQ(p.count(), 3 * 13);
    EXPECT_EQ(p[0].name, "M0");
    EXPECT_EQ(p[11].name, "M11");
    EXPECT_EQ(p[12].name, "M prob.");
    EXPECT_EQ(p[13].name, "N0");
    EXPECT_EQ(p[13].max(), 1.2);
    EXPECT_EQ(p[38].name, "O prob.");

    IFS eight(8);
    EXPECT_EQ(eight.params()[7 * 16].name, "T rot. X");
}

TEST(IFS, MapCountIsClampedToTwoToEight) {
    const std::pair<int, int> cases[] = {{0, 2}, {1, 2}, {-3, 2}, {9, 8}, {12, 8}, {127, 8}, {5, 5}};
    for (auto [asked, got] : cases) {
        auto a = createAttractor(1, static_cast<std::int8_t>(asked));
        auto& ifs = static_cast<IFS&>(*a);
        EXPECT_EQ(ifs.count(), got) << asked;
        EXPECT_EQ(ifs.params().count(), got * 16);
        ifs.restart();
        for (int i = 0; i < 100; ++i) ifs.iterate();
    }
    IFS ifs(3);
    ifs.setMatrixCount(20);
    EXPECT_EQ(ifs.count(), 8);
    EXPECT_EQ(ifs.params().count(), 8 * 16);
}

TEST(IFS, NewCountResetsEveryMap) {
    IFS ifs(3);
    ifs.scales(0) = {0.5, 0.5, 0.5};
    ifs.probability(2) = 0.3;
    ifs.setMatrixCount(4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ifs.scales(i), (Vecd{0, 0, 0}));
        EXPECT_EQ(ifs.probability(i), 1);
    }
}

// Coefficient mode with nothing randomizable, so that randomize sees the maps as set here.
// Map i gets m0 = 1, m7 = 1 and m4 = weight: its weight expression is |m0 (m4 m7)| = weight.
void setWeights(IFS& ifs, std::initializer_list<double> weights) {
    ifs.setCoefficientMode(true);
    for (ParamEntry& e : ifs.params()) e.randomizable = false;
    int i = 0;
    for (double w : weights) {
        double* m = ifs.matrix(i++);
        m[0] = 1;
        m[7] = 1;
        m[4] = w;
    }
}

TEST(IFS, RandomizeSetsProbabilitiesFromTheWeights) {
    IFS ifs(2);
    setWeights(ifs, {0.25, 0.5});
    const std::int32_t oldSeed = ifs.seed();
    seedRandom31(3);
    EXPECT_TRUE(ifs.randomize(0.5));
    EXPECT_NE(ifs.seed(), oldSeed);
    EXPECT_EQ(ifs.probability(0), 0.25 / 0.75);
    EXPECT_EQ(ifs.probability(1), 0.5 / 0.75);
}

TEST(IFS, RandomizeRefusesWeakOrExpandingMaps) {
    IFS weak(2);
    setWeights(weak, {0.03, 0.04});  // sum below 0.1: probabilities stay
    EXPECT_FALSE(weak.randomize(0.5));
    EXPECT_EQ(weak.probability(0), 1);
    EXPECT_EQ(weak.probability(1), 1);

    IFS expanding(2);
    setWeights(expanding, {1.0, 0.5});  // a weight of 1 does not contract
    EXPECT_FALSE(expanding.randomize(0.5));
    EXPECT_EQ(expanding.probability(0), 1.0 / 1.5);
}

TEST(IFS, WeightPairsTheMinorsAsWritten) {
    // A pure diagonal has weight 0 under this expression (m4 m7 - m5 m8 = 0), although its
    // determinant is not: two such maps sum below 0.1 and are refused.
    IFS ifs(2);
    ifs.setCoefficientMode(true);
    for (ParamEntry& e : ifs.params()) e.randomizable = false;
    for (int i = 0; i < 2; ++i) {
        ifs.matrix(i)[0] = ifs.matrix(i)[4] = ifs.matrix(i)[8] = 0.9;
    }
    EXPECT_FALSE(ifs.randomize(0.5));
}

}  // namespace
}  // namespace qm
