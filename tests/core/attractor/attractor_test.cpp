// Behaviour every kind shares: the factory, restart, the divergence test, and the block
// iteration that must reproduce single iterate calls exactly.
#include "core/attractor/attractor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/attractor/kind_base.h"
#include "core/attractor/kinds.h"
#include "core/strings/string_table.h"
#include "example_sets.h"

namespace qm {
namespace {

// A kind whose step jumps to a point chosen by the test.
class Jump final : public KindBase<Jump> {
public:
    void advance(Vecd& p, Random31&) const { p = next; }
    void setSearching(bool on) { searching_ = on; }
    Vecd next;
};

TEST(Divergence, BoundIsExclusiveAtOneHundredThousand) {
    for (double c : {100000.0, -100000.0}) {
        Jump a;
        a.restart();
        a.next = {0, c, 0};
        a.iterate();
        EXPECT_FALSE(a.diverged()) << c;
        a.next = {0, 0, std::nextafter(c, 2 * c)};
        a.iterate();
        EXPECT_TRUE(a.diverged()) << c;
        EXPECT_EQ(a.iterationCount(), 2);
    }
}

TEST(Divergence, NaNCoordinateDivergesInIterateAndBlock) {
    const double nan = std::nan("");
    for (const Vecd& p : {Vecd{nan, 0, 0}, Vecd{0, nan, 0}, Vecd{0, 0, nan}}) {
        Jump single, block;
        single.restart();
        block.restart();
        single.next = block.next = p;
        single.iterate();
        Vecd out[4];
        EXPECT_EQ(block.iterateBlock(out, 4), 1);
        EXPECT_TRUE(single.diverged());
        EXPECT_TRUE(block.diverged());
        EXPECT_EQ(block.iterationCount(), 1);
    }
}

TEST(Divergence, NotifiesOnlyOutsideASearch) {
    Jump a;
    int calls = 0;
    std::int32_t countSeen = -1;
    a.OnDiverge = [&](Attractor& which) {
        ++calls;
        countSeen = which.iterationCount();
        EXPECT_EQ(&which, &a);
    };
    a.restart();
    a.next = {1e6, 0, 0};
    a.setSearching(true);
    a.iterate();
    EXPECT_TRUE(a.diverged());
    EXPECT_EQ(calls, 0);
    a.setSearching(false);
    a.restart();
    EXPECT_FALSE(a.diverged());
    a.iterate();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(countSeen, 0);  // notified before the iteration is counted
}

TEST(Divergence, BlockStopsAfterTheDivergentPoint) {
    Jump a;
    int calls = 0;
    a.OnDiverge = [&](Attractor& which) {
        ++calls;
        EXPECT_EQ(which.iterationCount(), 3);
    };
    a.restart();
    a.next = {1, 2, 3};
    std::vector<Vecd> out(10);
    EXPECT_EQ(a.iterateBlock(out.data(), 3), 3);
    a.next = {-2e5, 0, 0};
    EXPECT_EQ(a.iterateBlock(out.data(), 10), 1);
    EXPECT_EQ(out[0], (Vecd{-2e5, 0, 0}));
    EXPECT_EQ(a.iterationCount(), 4);
    EXPECT_EQ(calls, 1);
    // Once diverged, a block takes a single step, as one iterate call would.
    a.next = {1, 1, 1};
    EXPECT_EQ(a.iterateBlock(out.data(), 10), 1);
    EXPECT_EQ(a.iterationCount(), 5);
    EXPECT_EQ(calls, 1);
}

TEST(Divergence, StepThatDivergesByItselfIsReportedAsIterateDoes) {
    // Unravel with R = 0 diverges inside its step, before the count, leaving the point.
    for (bool block : {false, true}) {
        Unravel u;
        u.R = 0;
        u.restart();
        std::int32_t countSeen = -1;
        Vecd pointSeen;
        u.OnDiverge = [&](Attractor& a) {
            if (countSeen < 0) countSeen = a.iterationCount();
            pointSeen = a.currentPoint();
        };
        std::vector<Vecd> out(5);
        if (block)
            EXPECT_EQ(u.iterateBlock(out.data(), 5), 1);
        else
            u.iterate();
        EXPECT_EQ(countSeen, 0) << block;
        EXPECT_EQ(pointSeen, (Vecd{0, 0, 0}));
        EXPECT_EQ(u.iterationCount(), 1);
        EXPECT_TRUE(u.diverged());
    }
}

TEST(Bounds, ResetThenExtend) {
    Jump a;
    a.resetBounds();
    EXPECT_EQ(a.minCorner().x, 1.7976931348623157e308);
    EXPECT_EQ(a.maxCorner().z, -1.7976931348623157e308);
    a.setCurrentPoint({1, -2, 3});
    a.extendBounds();
    a.setCurrentPoint({-1, 4, 3});
    a.extendBounds();
    EXPECT_EQ(a.minCorner(), (Vecd{-1, -2, 3}));
    EXPECT_EQ(a.maxCorner(), (Vecd{1, 4, 3}));
}

TEST(CreateAttractor, UnknownCodesGiveNothing) {
    EXPECT_EQ(createAttractor(11, 0), nullptr);
    EXPECT_EQ(createAttractor(static_cast<std::int8_t>(255), 0), nullptr);
    EXPECT_EQ(createAttractor(-7, 0), nullptr);
}

class AllKinds : public ::testing::TestWithParam<examples::ExampleSet> {};

TEST_P(AllKinds, FactoryGivesTheKindWithItsName) {
    const auto& set = GetParam();
    auto a = createAttractor(static_cast<std::int8_t>(set.kind), set.option);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->kind(), set.kind);
    EXPECT_EQ(a->displayName(), text(1000 + static_cast<int>(set.kind)));
    EXPECT_EQ(a->coordinateCount(), 3);
    EXPECT_EQ(a->params().count(), static_cast<std::int32_t>(set.values.size()));
}

TEST_P(AllKinds, RestartClearsTheRun) {
    auto a = examples::makeExample(GetParam());
    const Vecd start = a->currentPoint();
    for (int i = 0; i < 1000; ++i) a->iterate();
    ASSERT_FALSE(a->diverged());
    a->restart();
    EXPECT_EQ(a->iterationCount(), 0);
    EXPECT_EQ(a->currentPoint(), start);
}

// Generates the orbit one iterate at a time, then again in blocks of awkward sizes from the
// same generator state, and compares every point and the final state exactly.
TEST_P(AllKinds, BlockIterationEqualsSingleIterations) {
    constexpr int kPoints = 20000;
    auto single = examples::makeExample(GetParam());
    auto blocked = examples::makeExample(GetParam());

    seedRandom31(4242);
    single->restart();
    std::vector<Vecd> expected;
    for (int i = 0; i < kPoints && !single->diverged(); ++i) {
        single->iterate();
        expected.push_back(single->currentPoint());
    }
    const auto stateAfterSingle = threadRandom31().state;
    ASSERT_FALSE(single->diverged()) << "the example set should stay bounded";

    seedRandom31(4242);
    blocked->restart();
    std::vector<Vecd> got(kPoints);
    std::int32_t done = 0;
    for (std::int32_t size = 1; done < kPoints; size = size * 3 + 1) {
        const std::int32_t n = std::min<std::int32_t>(size, kPoints - done);
        ASSERT_EQ(blocked->iterateBlock(got.data() + done, n), n);
        done += n;
    }
    EXPECT_EQ(threadRandom31().state, stateAfterSingle);
    EXPECT_EQ(blocked->iterationCount(), single->iterationCount());
    EXPECT_EQ(blocked->currentPoint(), single->currentPoint());
    for (int i = 0; i < kPoints; ++i) ASSERT_EQ(got[static_cast<std::size_t>(i)], expected[static_cast<std::size_t>(i)]) << "point " << i;
}

TEST_P(AllKinds, RandomizeKeepsEveryValueWithinItsRange) {
    auto a = examples::makeExample(GetParam());
    seedRandom31(31337);
    for (double amount : {1.0, 0.5, 0.01}) {
        for (int trial = 0; trial < 50; ++trial) {
            a->randomize(amount);
            for (const ParamEntry& e : a->params()) {
                if (!e.randomizable) continue;
                ASSERT_GE(e.get(), e.min()) << e;
                ASSERT_LE(e.get(), e.max()) << e;
            }
        }
    }
}

std::string kindTestName(const ::testing::TestParamInfo<examples::ExampleSet>& info) {
    return StringTable::builtinText(TextId::kKindKeywordFirst + static_cast<int>(info.param.kind));
}

INSTANTIATE_TEST_SUITE_P(Kinds, AllKinds, ::testing::ValuesIn(examples::exampleSets()),
                         kindTestName);

}  // namespace
}  // namespace qm
