// The render loop: when the image is developed, how a render stops or ends on divergence, the
// fresh generator state, and the batched path against one point at a time.
#include "core/render/render_loop.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/attractor/kind_base.h"
#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/sampling.h"
#include "example_sets.h"

namespace qm {
namespace {

// Records the counter at every development; can request a stop at the n-th.
class RecordingSink final : public RenderSink {
public:
    RecordingSink(const Attractor& a, RenderControl& control, int stopAt = 0)
        : attractor_(a), control_(control), stopAt_(stopAt) {}
    void develop() override {
        counters.push_back(attractor_.iterationCount());
        if (static_cast<int>(counters.size()) == stopAt_) control_.stopRequested = true;
    }
    std::vector<std::int32_t> counters;

private:
    const Attractor& attractor_;
    RenderControl& control_;
    int stopAt_;
};

// x grows by one per step: diverges when x passes 100000.
class Runaway final : public KindBase<Runaway> {
public:
    void restart() override {
        currentPoint_ = {0, 0, 0};
        Attractor::restart();
    }
    void advance(Vecd& p, Random31&) const { p.x += 1; }
};

// Develops the target at every update, as the program's display update does.
struct DevelopSink final : RenderSink {
    explicit DevelopSink(TBitmap3D& t) : target(t) {}
    void develop() override { target.BuildImage(); }
    TBitmap3D& target;
};

struct Fixture {
    std::unique_ptr<Attractor> attractor =
        examples::makeExample(examples::exampleSets()[3]);  // Lorenz
    std::unique_ptr<TBitmap3D> target = CreateRenderTarget(0);
    RenderControl control;
    Fixture() {
        target->SetWidth(64);
        target->SetHeight(48);
        target->SetEye({0, 0, -5});
        target->SetTarget({0, 0, 0});
        sampleAttractor(*attractor, *target, kPreviewIterations, SamplingMode::Fit);
        target->ClearImage();
        attractor->restart();
    }
};

TEST(RenderLoop, DevelopsWhenTheNextCounterIsAMultipleOfTheInterval) {
    Fixture f;
    RecordingSink sink(*f.attractor, f.control);
    const RenderOutcome out = runRender(*f.attractor, *f.target, {20000, 10}, sink, f.control);
    EXPECT_EQ(out.interval, 2000);
    EXPECT_EQ(sink.counters, (std::vector<std::int32_t>{1999, 3999, 5999, 7999, 9999, 11999, 13999,
                                                        15999, 17999, 19999}));
    EXPECT_EQ(out.counter, 20000);
    EXPECT_FALSE(out.needsFinalDevelop);  // 20000 is a multiple: the last point never shows
    EXPECT_FALSE(out.stopped);
    EXPECT_EQ(f.control.progress.load(), 1.0);
    EXPECT_EQ(f.control.counter.load(), 20000);
}

TEST(RenderLoop, StopRequestEndsTheRenderAndAsksForAFinalDevelopment) {
    Fixture f;
    RecordingSink sink(*f.attractor, f.control, 2);
    const RenderOutcome out = runRender(*f.attractor, *f.target, {20000, 10}, sink, f.control);
    EXPECT_TRUE(out.stopped);
    EXPECT_EQ(out.counter, 3999);
    EXPECT_TRUE(out.needsFinalDevelop);
}

TEST(RenderLoop, DivergenceEndsTheRender) {
    Runaway runaway;
    runaway.restart();
    auto target = CreateRenderTarget(0);
    target->SetWidth(16);
    target->SetHeight(16);
    RenderControl control;
    RecordingSink sink(runaway, control);
    const RenderOutcome out = runRender(runaway, *target, {200000, 10}, sink, control);
    EXPECT_TRUE(out.diverged);
    EXPECT_EQ(out.counter, 100001);
    EXPECT_EQ(sink.counters, (std::vector<std::int32_t>{19999, 39999, 59999, 79999, 99999}));
    EXPECT_TRUE(out.needsFinalDevelop);
}

TEST(RenderLoop, TotalBelowTheUpdatesDevelopsOnlyAtTheEnd) {
    for (std::int32_t total : {0, 5, 9}) {
        Fixture f;
        RecordingSink sink(*f.attractor, f.control);
        const RenderOutcome out = runRender(*f.attractor, *f.target, {total, 10}, sink, f.control);
        EXPECT_EQ(out.interval, 0);
        EXPECT_TRUE(sink.counters.empty());
        EXPECT_TRUE(out.needsFinalDevelop);
        EXPECT_EQ(out.counter, 1000);  // the transient still runs
    }
}

// The same render with one iterate and one PlotPoint at a time, developing at the same moments.
std::vector<std::uint8_t> renderOnePointAtATime(Attractor& a, TBitmap3D& t, std::int32_t total,
                                                std::int32_t updates) {
    threadRandom31().state = 0;
    const std::int32_t interval = total / updates;
    while (!a.diverged() && a.iterationCount() < kRenderTransient) a.iterate();
    while (!a.diverged() && a.iterationCount() < total) {
        a.iterate();
        t.PlotPoint(a.currentPoint());
        if ((a.iterationCount() + 1) % interval == 0) t.BuildImage();
    }
    if (a.iterationCount() % interval != 0) t.BuildImage();
    return t.imageBytes();
}

class EveryMode : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(EveryMode, BatchedRenderEqualsOnePointAtATime) {
    const auto [mode, set] = GetParam();
    std::vector<std::uint8_t> images[2];
    for (int pass = 0; pass < 2; ++pass) {
        auto a = examples::makeExample(examples::exampleSets()[static_cast<std::size_t>(set)]);
        auto t = CreateRenderTarget(mode);
        if (auto* light = dynamic_cast<TBitmap3D_Light*>(t.get())) {
            setBuiltinSpeedGradient(light->speedGradient);
            setBuiltinAngleGradient(light->angleGradient);
        }
        t->SetWidth(96);
        t->SetHeight(64);
        t->SetEye({0, 0, -5});
        t->SetTarget({0, 0, 0});
        t->mirror = a->kind() == AttractorKind::Julia;
        seedRandom31(77);  // Julia's sampling draws start points: same view in both passes
        ASSERT_TRUE(sampleAttractor(*a, *t, kPreviewIterations, SamplingMode::Fit));
        t->ClearImage();
        a->restart();
        if (pass == 0) {
            RenderControl control;
            DevelopSink sink(*t);
            const RenderOutcome out = runRender(*a, *t, {60000, 7}, sink, control);
            if (out.needsFinalDevelop) t->BuildImage();
            images[0] = t->imageBytes();
        } else {
            images[1] = renderOnePointAtATime(*a, *t, 60000, 7);
        }
    }
    EXPECT_EQ(images[0], images[1]);
    // Something was drawn.
    EXPECT_NE(std::count(images[0].begin(), images[0].end(), images[0][0]),
              static_cast<std::ptrdiff_t>(images[0].size()));
}

// Lorenz, IFS (map choice from the generator) and Julia (random starts, mirror) in every mode.
INSTANTIATE_TEST_SUITE_P(ModesAndKinds, EveryMode,
                         ::testing::Combine(::testing::Range(0, 5), ::testing::Values(1, 2, 3)));

TEST(RenderLoop, GeneratorStartsFreshForEveryRender) {
    std::vector<std::uint8_t> images[2];
    for (int pass = 0; pass < 2; ++pass) {
        auto a = examples::makeExample(examples::exampleSets()[1]);  // IFS
        auto t = CreateRenderTarget(0);
        t->SetWidth(64);
        t->SetHeight(48);
        t->SetEye({0, 0, -5});
        t->SetTarget({0, 0, 0});
        sampleAttractor(*a, *t, kPreviewIterations, SamplingMode::Fit);
        t->ClearImage();
        a->restart();
        random31();
        if (pass == 1) seedRandom31(987654);  // whatever the thread did before
        RenderControl control;
        DevelopSink sink(*t);
        runRender(*a, *t, {30000, 3}, sink, control);
        images[pass] = t->imageBytes();
    }
    EXPECT_EQ(images[0], images[1]);
}

// A render stopped at a development and continued from the generator state its outcome reports
// is the render that never stopped (the IFS kind draws from the generator at every step).
TEST(RenderLoop, StoppedRenderGoesOnFromTheReportedGeneratorState) {
    auto setUp = [](std::unique_ptr<Attractor>& a, std::unique_ptr<TBitmap3D>& t) {
        a = examples::makeExample(examples::exampleSets()[1]);  // IFS
        t = CreateRenderTarget(0);
        t->SetWidth(64);
        t->SetHeight(48);
        t->SetEye({0, 0, -5});
        t->SetTarget({0, 0, 0});
        threadRandom31().state = 0;  // the same fit for both renders
        sampleAttractor(*a, *t, kPreviewIterations, SamplingMode::Fit);
        t->ClearImage();
        a->restart();
    };
    std::unique_ptr<Attractor> a, b;
    std::unique_ptr<TBitmap3D> ta, tb;
    setUp(a, ta);
    RenderControl whole;
    DevelopSink sinkA(*ta);
    runRender(*a, *ta, {30000, 3}, sinkA, whole);

    setUp(b, tb);
    RenderControl first;
    struct StopSink final : RenderSink {
        StopSink(TBitmap3D& t, RenderControl& c) : target(t), control(c) {}
        void develop() override {
            target.BuildImage();
            control.stopRequested = true;
        }
        TBitmap3D& target;
        RenderControl& control;
    } stopper(*tb, first);
    const RenderOutcome stopped = runRender(*b, *tb, {30000, 3}, stopper, first);
    ASSERT_TRUE(stopped.stopped);
    ASSERT_NE(stopped.randomState, 0u);
    seedRandom31(12345);  // whatever the thread does in between
    RenderControl second;
    DevelopSink sinkB(*tb);
    RenderSettings rest{30000, 3};
    rest.randomState = stopped.randomState;
    const RenderOutcome done = runRender(*b, *tb, rest, sinkB, second);
    EXPECT_EQ(done.counter, 30000);
    EXPECT_FALSE(done.needsFinalDevelop);
    EXPECT_EQ(ta->imageBytes(), tb->imageBytes());
}

}  // namespace
}  // namespace qm
