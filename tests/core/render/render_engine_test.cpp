// The parallel engine: one stream gives the classic render's bytes; the bytes of a
// multi-stream render do not depend on the number of threads, in every mode; developments,
// counters, divergence, stops and continuing from captured stream states.
#include "core/render/render_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <utility>
#include <vector>

#include "core/attractor/julia.h"
#include "core/property/color_map.h"
#include "core/render/develop_team.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/memory_budget.h"
#include "core/render/sampling.h"
#include "example_sets.h"

namespace qm {
namespace {

// Develops at every update and records the counter it was called at.
struct CountingSink final : RenderSink {
    CountingSink(TBitmap3D& t, RenderControl& c, int stopAt = 0)
        : target(t), control(c), stopAt(stopAt) {}
    void develop() override {
        target.BuildImage();
        counters.push_back(control.counter.load());
        if (static_cast<int>(counters.size()) == stopAt) control.stopRequested = true;
    }
    void betweenRounds() override { ++rounds; }
    TBitmap3D& target;
    RenderControl& control;
    int stopAt;
    int rounds = 0;
    std::vector<std::int64_t> counters;
};

// A document as the tool makes one: the example set, a target of the mode fitted to it,
// cleared and restarted.
struct Scene {
    std::unique_ptr<Attractor> attractor;
    std::unique_ptr<TBitmap3D> target;
    Scene(int set, int mode, std::int32_t width = 96, std::int32_t height = 64) {
        attractor = examples::makeExample(examples::exampleSets()[static_cast<std::size_t>(set)]);
        target = CreateRenderTarget(mode);
        if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get())) {
            setBuiltinSpeedGradient(light->speedGradient);
            setBuiltinAngleGradient(light->angleGradient);
        }
        target->SetWidth(width);
        target->SetHeight(height);
        target->SetEye({0, 0, -5});
        target->SetTarget({0, 0, 0});
        target->mirror = attractor->kind() == AttractorKind::Julia;
        seedRandom31(77);  // Julia's sampling draws start points: the same view every time
        EXPECT_TRUE(sampleAttractor(*attractor, *target, kPreviewIterations, SamplingMode::Fit));
        target->ClearImage();
        attractor->restart();
    }
};

struct Rendered {
    std::vector<std::uint8_t> image;
    std::vector<std::int64_t> developments;
    RenderOutcome outcome;
};

Rendered renderWithEngine(int set, int mode, EngineSettings settings) {
    Scene s(set, mode);
    RenderControl control;
    CountingSink sink(*s.target, control);
    RenderEngine engine(*s.attractor, *s.target, settings);
    Rendered r;
    r.outcome = engine.run(sink, control);
    if (r.outcome.needsFinalDevelop) s.target->BuildImage();
    r.image = s.target->imageBytes();
    r.developments = sink.counters;
    return r;
}

Rendered renderClassic(int set, int mode, std::int32_t total, std::int32_t updates) {
    Scene s(set, mode);
    RenderControl control;
    CountingSink sink(*s.target, control);
    Rendered r;
    r.outcome = runRender(*s.attractor, *s.target, {total, updates}, sink, control);
    if (r.outcome.needsFinalDevelop) s.target->BuildImage();
    r.image = s.target->imageBytes();
    r.developments = sink.counters;
    return r;
}

bool drewSomething(const std::vector<std::uint8_t>& image) {
    return std::count(image.begin(), image.end(), image[0]) !=
           static_cast<std::ptrdiff_t>(image.size());
}

// Lorenz, IFS (the generator chooses the maps) and Julia (random starts, the mirror image).
class EngineModes : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(EngineModes, OneStreamIsTheClassicRenderOnAnyThreadCount) {
    const auto [mode, set] = GetParam();
    const Rendered classic = renderClassic(set, mode, 60000, 7);
    ASSERT_TRUE(drewSomething(classic.image));
    for (std::int32_t threads : {1, 2, 3}) {
        const Rendered r = renderWithEngine(set, mode, {60000, 7, 1, threads, 99, {}});
        EXPECT_EQ(r.image, classic.image) << threads << " threads";
        EXPECT_EQ(r.developments, classic.developments);
        EXPECT_EQ(r.outcome.counter, classic.outcome.counter);
    }
}

TEST_P(EngineModes, SixteenStreamsGiveTheSameBytesOnAnyThreadCount) {
    const auto [mode, set] = GetParam();
    const Rendered one = renderWithEngine(set, mode, {150000, 7, 16, 1, 5, {}});
    ASSERT_TRUE(drewSomething(one.image));
    // transients: 16 x 1000; then a development whenever (counter + 1) % 21428 == 0.
    EXPECT_EQ(one.developments,
              (std::vector<std::int64_t>{21427, 42855, 64283, 85711, 107139, 128567, 149995}));
    EXPECT_EQ(one.outcome.counter, 150000);
    for (std::int32_t threads : {2, 3, 7}) {
        const Rendered r = renderWithEngine(set, mode, {150000, 7, 16, threads, 5, {}});
        EXPECT_EQ(r.image, one.image) << threads << " threads";
        EXPECT_EQ(r.developments, one.developments);
    }
}

TEST(RenderEngine, ASecondRenderOfTheSameSceneRepeatsTheFirst) {
    // The Light family plots a render's first point in the colour the target holds; a render
    // must not leave its own last colour there for the next one.
    for (int mode : {2, 3}) {
        for (std::int32_t streams : {1, 16}) {
            Scene s(3, mode);
            auto& light = static_cast<TBitmap3D_Light&>(*s.target);
            light.plotColor = {0.75f, 0.5f, 0.25f};
            std::vector<std::uint8_t> images[2];
            for (auto& image : images) {
                s.target->ClearImage();
                s.attractor->restart();
                RenderControl control;
                CountingSink sink(*s.target, control);
                RenderEngine engine(*s.attractor, *s.target, {30000, 3, streams, 2, 0, {}});
                if (engine.run(sink, control).needsFinalDevelop) s.target->BuildImage();
                image = s.target->imageBytes();
                EXPECT_EQ(light.plotColor, (ColorRGBf{0.75f, 0.5f, 0.25f}));
            }
            EXPECT_TRUE(drewSomething(images[0]));
            EXPECT_EQ(images[0], images[1]) << "mode " << mode << ", " << streams << " streams";
        }
    }
}

TEST(RenderEngine, ManyStreamsWithShortRoundsGiveTheSameBytesOnAnyThreadCount) {
    for (int mode : {0, 4}) {
        const Rendered one = renderWithEngine(1, mode, {400000, 3, kMaxStreams, 1, 8, {}});
        const Rendered three = renderWithEngine(1, mode, {400000, 3, kMaxStreams, 3, 8, {}});
        EXPECT_TRUE(drewSomething(one.image));
        EXPECT_EQ(one.image, three.image) << "mode " << mode;
        EXPECT_EQ(one.outcome.counter, 400000);
    }
    EXPECT_EQ(roundPoints(1), 4096);
    EXPECT_EQ(roundPoints(16), 4096);
    EXPECT_EQ(roundPoints(256), 256);
}

INSTANTIATE_TEST_SUITE_P(ModesAndKinds, EngineModes,
                         ::testing::Combine(::testing::Range(0, 5), ::testing::Values(1, 2, 3)));

// Records every development: the team the engine lent the target, and the 8- and 16-bit
// images developed on it.
struct ImageSink final : RenderSink {
    explicit ImageSink(TBitmap3D& t) : target(t) {}
    void develop() override {
        teamSizes.push_back(target.developTeam() ? target.developTeam()->size() : 0);
        std::vector<std::uint16_t> deep(static_cast<std::size_t>(4 * target.pixelCount));
        target.BuildImage16(deep.data(), 4 * target.imageWidth);
        target.BuildImage();
        images.push_back(target.imageBytes());
        deepImages.push_back(std::move(deep));
    }
    TBitmap3D& target;
    std::vector<std::int32_t> teamSizes;
    std::vector<std::vector<std::uint8_t>> images;
    std::vector<std::vector<std::uint16_t>> deepImages;
};

TEST(RenderEngine, DevelopmentsShareEveryThreadAndGiveOneThreadsBytes) {
    for (int mode = 0; mode < kRenderModeCount; ++mode) {
        std::vector<std::vector<std::uint8_t>> images;
        std::vector<std::vector<std::uint16_t>> deepImages;
        for (std::int32_t threads : {1, 2, 3, 7}) {
            Scene s(0, mode);
            RenderControl control;
            ImageSink sink(*s.target);
            RenderEngine engine(*s.attractor, *s.target, {100000, 4, 16, threads, 3, {}});
            engine.run(sink, control);
            ASSERT_EQ(sink.teamSizes, std::vector<std::int32_t>(4, threads)) << "mode " << mode;
            // Lent for the developments only.
            EXPECT_EQ(s.target->developTeam(), nullptr);
            if (threads == 1) {
                ASSERT_TRUE(drewSomething(sink.images.back()));
                images = sink.images;
                deepImages = sink.deepImages;
            } else {
                EXPECT_EQ(sink.images, images) << "mode " << mode << ", " << threads << " threads";
                EXPECT_EQ(sink.deepImages, deepImages)
                    << "mode " << mode << ", " << threads << " threads";
            }
        }
    }
}

TEST(RenderEngine, SplatsAcrossBandEdgesAndTheFrameBorderGiveTheClassicBytes) {
    // Zoomed in, the cloud overfills the frame: cells fall in the last drawable row and column
    // and across the edges of many bands (uneven ones, on an odd height), and with the mirror
    // image a point's two splats land far apart. The bands' whole-cell paths and their
    // pixel-by-pixel edges must give the classic render's floats.
    for (int mode = 0; mode < kRenderModeCount; ++mode) {
        for (bool mirror : {false, true}) {
            std::vector<std::uint8_t> images[3];
            const std::int32_t threadCounts[3] = {0, 2, 5};  // 0: the classic render
            for (int i = 0; i < 3; ++i) {
                Scene s(1, mode, 100, 37);
                s.target->scale *= 3;
                s.target->mirror = mirror;
                s.target->SetView();
                s.target->ClearImage();
                RenderControl control;
                CountingSink sink(*s.target, control);
                RenderOutcome out;
                if (threadCounts[i] == 0) {
                    out = runRender(*s.attractor, *s.target, {60000, 2}, sink, control);
                } else {
                    RenderEngine engine(*s.attractor, *s.target,
                                        {60000, 2, 1, threadCounts[i], 0, {}});
                    out = engine.run(sink, control);
                }
                if (out.needsFinalDevelop) s.target->BuildImage();
                images[i] = s.target->imageBytes();
            }
            // Something was drawn in the top scan line and the lowest one a cell reaches.
            const auto& image = images[0];
            const auto drawn = [&](std::size_t from) {
                return std::any_of(image.begin() + from, image.begin() + from + 3 * 100,
                                   [&](std::uint8_t b) { return b != image[3 * 50]; });
            };
            EXPECT_TRUE(drawn(0) && drawn(image.size() - 2 * 3 * 100)) << "mode " << mode;
            EXPECT_EQ(images[1], images[0]) << "mode " << mode << ", mirror " << mirror;
            EXPECT_EQ(images[2], images[0]) << "mode " << mode << ", mirror " << mirror;
        }
    }
}

TEST(RenderEngine, StreamsAreNotCopiesOfOneOrbitAndTheSeedMatters) {
    // Lorenz is deterministic: without distinct orbits, 16 streams would draw the classic
    // image's points again and again.
    const Rendered classic = renderWithEngine(3, 0, {160000, 1, 1, 1, 0, {}});
    const Rendered streams = renderWithEngine(3, 0, {160000, 1, 16, 2, 0, {}});
    const Rendered reseeded = renderWithEngine(3, 0, {160000, 1, 16, 2, 1, {}});
    EXPECT_NE(streams.image, classic.image);
    EXPECT_NE(streams.image, reseeded.image);

    Scene s(3, 0);
    RenderEngine engine(*s.attractor, *s.target, {160000, 1, 16, 1, 0, {}});
    const auto states = engine.streamStates();
    ASSERT_EQ(states.size(), 16u);
    for (std::size_t k = 1; k < states.size(); ++k) {
        EXPECT_NE(states[k].point, states[k - 1].point);
        EXPECT_NE(states[k].random, states[k - 1].random);
    }
}

TEST(RenderEngine, StreamSeedIsFixed) {
    // Changing these changes every multi-stream image ever rendered.
    EXPECT_EQ(streamSeed(0, 0), 0xa706dd2f4d197e6full);
    EXPECT_EQ(streamSeed(0, 1), 0x8b4fda8c892b50eull);
    EXPECT_EQ(streamSeed(12345, 15), streamSeed(12345, 15));
    EXPECT_NE(streamSeed(1, 0), streamSeed(0, 1));
}

TEST(RenderEngine, DivergingStreamEndsTheRenderWithTheTotalCount) {
    // Unravel with R = 0 diverges at its first step, in every stream.
    auto a = createAttractor(static_cast<std::int8_t>(AttractorKind::Unravel), 0);
    a->params().findParam("R")->set(0.0);
    a->restart();
    auto t = CreateRenderTarget(0);
    t->SetWidth(16);
    t->SetHeight(16);
    for (std::int32_t threads : {1, 2}) {
        RenderControl control;
        CountingSink sink(*t, control);
        RenderEngine engine(*a, *t, {100000, 10, 1, threads, 0, {}});
        const RenderOutcome out = engine.run(sink, control);
        EXPECT_TRUE(out.diverged);
        EXPECT_EQ(out.counter, 1);
        EXPECT_EQ(control.counter.load(), 1);
    }
}

TEST(RenderEngine, StopThenContinueFromTheStatesEqualsAnUninterruptedRender) {
    for (int mode : {1, 3, 4}) {
        const EngineSettings settings{150000, 7, 16, 2, 3, {}};
        const Rendered whole = renderWithEngine(2, mode, settings);

        Scene s(2, mode);
        RenderControl control;
        CountingSink sink(*s.target, control, 2);
        std::vector<StreamState> states;
        {
            RenderEngine first(*s.attractor, *s.target, settings);
            EXPECT_TRUE(first.run(sink, control).stopped);
            states = first.streamStates();
        }
        control.stopRequested = false;
        sink.stopAt = 0;
        RenderEngine second(*s.attractor, *s.target, {150000, 7, 16, 3, 3, {}});
        ASSERT_TRUE(second.startFrom(states));
        const RenderOutcome out = second.run(sink, control);
        if (out.needsFinalDevelop) s.target->BuildImage();
        EXPECT_EQ(out.counter, 150000);
        EXPECT_EQ(sink.counters, whole.developments) << "mode " << mode;
        EXPECT_EQ(s.target->imageBytes(), whole.image) << "mode " << mode;
        EXPECT_FALSE(second.startFrom(std::vector<StreamState>(3)));
    }
}

TEST(RenderEngine, GasDevelopmentsOfAContinuedRenderHoldEveryEarlierPoint) {
    // Gas with several streams develops from its threads' sums and, once a run has moved
    // them there, from the target's: every image of a render stopped and continued (on other
    // thread counts) is the uninterrupted render's image at the same count.
    struct ImageSink final : RenderSink {
        ImageSink(TBitmap3D& t, RenderControl& c, int stopAt)
            : target(t), control(c), stopAt(stopAt) {}
        void develop() override {
            target.BuildImage();
            images.push_back(target.imageBytes());
            if (static_cast<int>(images.size()) == stopAt) control.stopRequested = true;
        }
        TBitmap3D& target;
        RenderControl& control;
        int stopAt;
        std::vector<std::vector<std::uint8_t>> images;
    };
    auto render = [](int stopAt, std::int32_t firstThreads, std::int32_t laterThreads) {
        Scene s(3, 0);
        RenderControl control;
        ImageSink sink(*s.target, control, stopAt);
        RenderEngine first(*s.attractor, *s.target, {300000, 6, 16, firstThreads, 3, {}});
        first.run(sink, control);
        if (control.stopRequested) {
            control.stopRequested = false;
            RenderEngine second(*s.attractor, *s.target, {300000, 6, 16, laterThreads, 3, {}});
            EXPECT_TRUE(second.startFrom(first.streamStates()));
            second.run(sink, control);
        }
        return sink.images;
    };
    const auto whole = render(0, 1, 1);
    ASSERT_EQ(whole.size(), 6u);
    EXPECT_EQ(render(2, 1, 1), whole);
    EXPECT_EQ(render(3, 2, 1), whole);
    EXPECT_EQ(render(2, 1, 3), whole);
}

TEST(RenderEngine, EveryHelperThreadStartsWithTheHookSetLast) {
    // A resumed render's engine is made before its worker: the worker sets the hook then.
    Scene s(3, 0);
    std::atomic<int> settingsHook{0}, laterHook{0};
    EngineSettings settings{40000, 2, 16, 3, 0, [&] { ++settingsHook; }};
    RenderEngine engine(*s.attractor, *s.target, settings);
    engine.setThreadStart([&] { ++laterHook; });
    RenderControl control;
    CountingSink sink(*s.target, control);
    engine.run(sink, control);
    EXPECT_EQ(settingsHook.load(), 0);
    EXPECT_EQ(laterHook.load(), 2);
}

TEST(RenderEngine, CountsPastTwoToTheThirtyOne) {
    // The counters are 64-bit: a render resumed from streams that have run 2^31 iterations
    // each goes on counting (the attractor's own 32-bit counter is reset every round).
    Scene s(3, 0);
    RenderEngine engine(*s.attractor, *s.target, {std::int64_t{1} << 36, 1, 16, 2, 0, {}});
    auto states = engine.streamStates();
    for (auto& st : states) st.count = std::uint64_t{1} << 31;
    ASSERT_TRUE(engine.startFrom(states));
    EXPECT_EQ(engine.counter(), std::int64_t{1} << 35);
    RenderControl control;
    struct StopAfterRounds final : RenderSink {
        RenderControl* control;
        int rounds = 0;
        void develop() override {}
        void betweenRounds() override {
            if (++rounds == 3) control->stopRequested = true;
        }
    } sink;
    sink.control = &control;
    const RenderOutcome out = engine.run(sink, control);
    // Gas with several streams has longer rounds.
    EXPECT_EQ(out.counter, (std::int64_t{1} << 35) + 3 * 16 * roundPoints(16) * kFixedRounds);
    EXPECT_EQ(control.counter.load(), out.counter);
}

TEST(RenderEngine, MemoryNeedIsWhatTheEngineAllocates) {
    // The need the tool and the program check an image size against, for the streams and
    // threads of the render, against the buffers an engine made for them holds.
    const std::uint64_t budget = memoryBudget().bytes;
    for (const auto& [streams, threads] : {std::pair{1, 1}, std::pair{16, 1}, std::pair{16, 3}}) {
        Scene s(3, 0, 100, 64);  // the width is cut to 100 & ~3 = 100, 6400 pixels
        RenderEngine engine(*s.attractor, *s.target, {40000, 1, streams, threads, 0, {}});
        const auto& gas = static_cast<const TBitmap3D_Gas&>(*s.target);
        const std::uint64_t held =
            gas.imageView().bytesPerLine * 64 + gas.density.size() * sizeof(float) +
            gas.fixedDensity.size() * sizeof(std::int64_t) +
            static_cast<std::uint64_t>(threads) * engine.stats().bytesPerAddedThread;
        EXPECT_EQ(renderMemoryNeed(0, 100, 64, streams, threads, budget), held)
            << streams << " streams, " << threads << " threads";
        EXPECT_EQ(imageMemoryNeed(0, 100, 64, streams, threads), held + imageEncoderBytes(100, 64));
    }
    // Per-thread sums that would take more than half the budget are not made: the threads
    // then add into the target's sums.
    const std::uint64_t target = renderTargetBytes(0, 4096, 4096);
    EXPECT_EQ(renderMemoryNeed(0, 4096, 4096, 16, 8, 16 * gasThreadSumBytes(4096, 4096)),
              target + 8 * gasThreadSumBytes(4096, 4096));
    EXPECT_EQ(renderMemoryNeed(0, 4096, 4096, 16, 8, 16 * gasThreadSumBytes(4096, 4096) - 1),
              target);
    // The other modes do not depend on the streams.
    for (int mode = 1; mode < kRenderModeCount; ++mode)
        EXPECT_EQ(renderMemoryNeed(mode, 640, 480, 16, 4, budget),
                  renderMemoryNeed(mode, 640, 480, 1, 1, budget));
}

TEST(Attractor, CloneAndOrbitMemoryContinueTheSameOrbit) {
    for (const auto& set : examples::exampleSets()) {
        auto a = examples::makeExample(set);
        a->restart();
        threadRandom31().state = 42;
        std::vector<Vecd> block(300);
        a->iterateBlock(block.data(), 300);
        const std::uint64_t before = threadRandom31().state;
        auto b = a->clone();
        ASSERT_TRUE(b) << set;
        EXPECT_EQ(threadRandom31().state, before);  // IFS's constructor draws a seed
        b->setCurrentPoint(a->currentPoint());
        b->setOrbitMemory(a->orbitMemory());
        const std::uint64_t rng = threadRandom31().state;
        std::vector<Vecd> p(500), q(500);
        a->iterateBlock(p.data(), 500);
        threadRandom31().state = rng;
        b->iterateBlock(q.data(), 500);
        EXPECT_EQ(p, q) << set;
    }
}

}  // namespace
}  // namespace qm
