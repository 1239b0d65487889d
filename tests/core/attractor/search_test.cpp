// The search trial: acceptance, exact restoration on rejection, the early exits, and the
// IFS refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/attractor/attractor.h"
#include "core/attractor/ifs.h"
#include "core/attractor/kinds.h"
#include "core/strings/string_table.h"
#include "example_sets.h"

namespace qm {
namespace {

std::vector<double> values(const Attractor& a) {
    std::vector<double> v;
    for (const ParamEntry& e : a.params()) v.push_back(e.get());
    return v;
}

// Trials from a fixed seed until one is accepted; returns the number of trials.
int trialsUntilAccepted(Attractor& a, double amount, int limit) {
    for (int trial = 1; trial <= limit; ++trial)
        if (a.search(amount)) return trial;
    return -1;
}

TEST(Search, AcceptedTrialKeepsItsValuesAndMeetsTheThresholds) {
    Lorenz_2L lorenz;
    seedRandom31(2026);
    const int trials = trialsUntilAccepted(lorenz, 1.0, 20000);
    ASSERT_GT(trials, 0);
    EXPECT_EQ(lorenz.params().snapshotDepth(), 0);
    EXPECT_EQ(lorenz.iterationCount(), 20000);
    EXPECT_FALSE(lorenz.diverged());
    EXPECT_GE(lorenz.lyapunov(), 0.001);
    EXPECT_GE(lorenz.dimension(), 1.5);
    EXPECT_FALSE(lorenz.searching());
    // The kept values are the drawn ones: on the 0.001 grid from the minimum (0).
    for (const ParamEntry& e : lorenz.params()) {
        const double thousandths = e.get() * 1000;
        EXPECT_NEAR(thousandths, std::round(thousandths), 1e-6) << e;
    }
    // Measuring the same values again gives the same verdict.
    lorenz.measure();
    EXPECT_TRUE(lorenz.measuredChaotic());
}

TEST(Search, SameSeedGivesTheSameTrials) {
    Icon a, b;
    seedRandom31(11);
    const int first = trialsUntilAccepted(a, 1.0, 20000);
    seedRandom31(11);
    const int second = trialsUntilAccepted(b, 1.0, 20000);
    ASSERT_GT(first, 0);
    EXPECT_EQ(first, second);
    EXPECT_EQ(values(a), values(b));
    EXPECT_EQ(a.lyapunov(), b.lyapunov());
    EXPECT_EQ(a.dimension(), b.dimension());
}

TEST(Search, RejectedTrialRestoresEveryParameterBitExactly) {
    Icon icon;
    icon.degree = 7;
    icon.alpha = 0.1 + 0.2;  // not on any grid
    icon.beta = -1.0 / 3;
    icon.lambda = 2.5;
    icon.gamma = -0.75;
    icon.omega = 1e-300;
    const std::vector<double> before = values(icon);
    seedRandom31(3);
    int rejected = 0;
    for (int i = 0; i < 50 && rejected < 10; ++i) {
        if (icon.search(1.0)) {
            // Back to the hand-set values for the next attempt.
            for (std::int32_t k = 0; k < icon.params().count(); ++k)
                icon.params()[k].set(before[static_cast<std::size_t>(k)]);
            continue;
        }
        ++rejected;
        ASSERT_EQ(icon.degree, 7);
        const std::vector<double> after = values(icon);
        ASSERT_EQ(std::memcmp(after.data(), before.data(), before.size() * sizeof(double)), 0);
        ASSERT_EQ(icon.params().snapshotDepth(), 0);
    }
    EXPECT_EQ(rejected, 10);
}

TEST(Search, NonChaoticOrbitStopsRightAfterTheTransient) {
    // All zero: the Lorenz step is the identity and the shadow keeps its distance, so the
    // exponent is 0 but for the rounding of that distance. The trial must still run the 100
    // transient iterations, and stop there.
    Lorenz_2L lorenz;
    lorenz.measure();
    EXPECT_EQ(lorenz.iterationCount(), 100);
    EXPECT_NEAR(lorenz.lyapunov(), 0, 1e-9);
    EXPECT_FALSE(lorenz.measuredChaotic());
}

TEST(Search, DivergingOrbitEndsTheTrialQuietly) {
    Unravel u;
    int notified = 0;
    u.OnDiverge = [&](Attractor&) { ++notified; };
    u.R = 0;  // diverges at its first step
    for (ParamEntry& e : u.params()) e.randomizable = false;
    EXPECT_FALSE(u.search(1.0));
    EXPECT_TRUE(u.diverged());
    EXPECT_EQ(u.iterationCount(), 1);
    EXPECT_EQ(notified, 0);
    EXPECT_EQ(u.R, 0);  // restored
}

TEST(Search, IfsRefusalRejectsWithoutIterating) {
    // A new IFS has every transform 0: whatever is drawn, a fixed-at-zero scale keeps every
    // weight 0, so randomize refuses.
    IFS ifs(2);
    for (ParamEntry& e : ifs.params())
        if (e.name.find("sc.") != std::string::npos) e.randomizable = false;
    ifs.probability(0) = 0.3;
    const std::vector<double> before = values(ifs);
    const std::int32_t seedBefore = ifs.seed();
    EXPECT_FALSE(ifs.search(1.0));
    EXPECT_EQ(ifs.iterationCount(), 0);
    EXPECT_EQ(values(ifs), before);
    EXPECT_NE(ifs.seed(), seedBefore);  // the seed is not a parameter: it keeps its new value
}

TEST(Search, JuliaBoxIsMirroredAfterATrial) {
    auto julia = examples::makeExample(examples::exampleSets()[2]);
    ASSERT_EQ(julia->kind(), AttractorKind::Julia);
    julia->measure();
    EXPECT_EQ(julia->minCorner().z, -julia->maxCorner().z);
}

class SearchAllKinds : public ::testing::TestWithParam<AttractorKind> {};

TEST_P(SearchAllKinds, FindsAnAttractorFromTheDefaults) {
    const std::int8_t option = GetParam() == AttractorKind::IFS ? 4 : 2;
    auto a = createAttractor(static_cast<std::int8_t>(GetParam()), option);
    seedRandom31(1234);
    ASSERT_GT(trialsUntilAccepted(*a, 1.0, 100000), 0);
    EXPECT_TRUE(a->measuredChaotic());
    EXPECT_EQ(a->params().snapshotDepth(), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SearchAllKinds,
                         ::testing::Values(AttractorKind::Icon, AttractorKind::IFS,
                                           AttractorKind::Julia, AttractorKind::Lorenz,
                                           AttractorKind::Lorenz84, AttractorKind::Pickover,
                                           AttractorKind::PolynomialA, AttractorKind::PolynomialB,
                                           AttractorKind::PolynomialC,
                                           AttractorKind::PolynomialSprott, AttractorKind::Unravel),
                         [](const auto& info) {
                             return StringTable::builtinText(TextId::kKindKeywordFirst +
                                                             static_cast<int>(info.param));
                         });

}  // namespace
}  // namespace qm
