// A render stopped at an awkward count, saved to a state file, read back into a new target and
// a new attractor and run to its end gives the bytes of a render that never stopped, in every
// mode; and a target refuses a state that is not its own.
#include "core/render/state/render_state.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "core/file/attractor_file.h"
#include "core/property/color_map.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/render_loop.h"
#include "core/render/sampling.h"
#include "core/render/solid.h"
#include "core/render/state/render_resume.h"
#include "core/render/state/render_state_file.h"
#include "example_sets.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kTotal = 240000;
constexpr std::int32_t kUpdates = 7;

struct DevelopSink final : RenderSink {
    DevelopSink(TBitmap3D& t, RenderControl& c, int stopAt = 0)
        : target(t), control(c), stopAt(stopAt) {}
    void develop() override {
        target.BuildImage();
        if (++developments == stopAt) control.stopRequested = true;
    }
    TBitmap3D& target;
    RenderControl& control;
    int stopAt;
    int developments = 0;
};

const examples::ExampleSet& exampleOf(AttractorKind kind) {
    for (const auto& set : examples::exampleSets())
        if (set.kind == kind) return set;
    throw std::logic_error("no example");
}

// The target of a new document in the mode, with the attractor's preview fitted, ready to
// render (ClearImage done, attractor restarted).
std::unique_ptr<TBitmap3D> preparedTarget(int mode, Attractor& attractor) {
    auto target = CreateRenderTarget(mode);
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get())) {
        setBuiltinSpeedGradient(light->speedGradient);
        setBuiltinAngleGradient(light->angleGradient);
    }
    target->SetWidth(96);
    target->SetHeight(72);
    target->SetEye({0, 0, -5});
    target->SetTarget({0, 0, 0});
    target->mirror = attractor.kind() == AttractorKind::Julia;
    // Julia's sampling draws from the generator: the same draws give the same fitted view.
    threadRandom31().state = 12345;
    sampleAttractor(attractor, *target, kPreviewIterations, SamplingMode::Fit);
    target->SetView();
    target->ClearImage();
    attractor.restart();
    return target;
}

std::vector<std::uint8_t> finish(Attractor& attractor, TBitmap3D& target,
                                 std::uint64_t randomState) {
    RenderControl control;
    DevelopSink sink(target, control);
    RenderSettings settings{kTotal, kUpdates, randomState};
    const RenderOutcome out = runRender(attractor, target, settings, sink, control);
    if (out.needsFinalDevelop) target.BuildImage();
    return target.imageBytes();
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm-state-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

struct ResumeCase {
    int mode;
    AttractorKind kind;
    int stopAtDevelopment;
    std::int32_t extraPoints;  // plotted by hand after the stop, as the loop would
};

std::ostream& operator<<(std::ostream& os, const ResumeCase& c) {
    return os << "mode " << c.mode << ", kind " << static_cast<int>(c.kind)
              << ", stop at development " << c.stopAtDevelopment << " + " << c.extraPoints;
}

std::string caseName(const ::testing::TestParamInfo<ResumeCase>& info) {
    static const char* const modes[] = {"Gas", "Liquid", "Light", "Plasma", "Solid"};
    static const char* const kinds[] = {"Icon", "IFS", "Julia", "Lorenz"};
    return std::string(modes[info.param.mode]) + kinds[static_cast<int>(info.param.kind)] + "Plus" +
           std::to_string(info.param.extraPoints);
}

class Resume : public TempDir, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(Resume, ResumedRenderGivesTheBytesOfAnUninterruptedOne) {
    const ResumeCase& c = GetParam();
    const auto& set = exampleOf(c.kind);

    auto reference = examples::makeExample(set);
    auto referenceTarget = preparedTarget(c.mode, *reference);
    const std::vector<std::uint8_t> expected = finish(*reference, *referenceTarget, 0);

    // The first part: stopped at a development, then a few hundred points more by hand, so that
    // the stop falls between developments and inside a block of the loop.
    auto attractor = examples::makeExample(set);
    auto target = preparedTarget(c.mode, *attractor);
    {
        RenderControl control;
        DevelopSink sink(*target, control, c.stopAtDevelopment);
        const RenderOutcome out = runRender(*attractor, *target, {kTotal, kUpdates}, sink, control);
        ASSERT_TRUE(out.stopped);
        std::vector<Vecd> block(static_cast<std::size_t>(c.extraPoints));
        const std::int32_t got = attractor->iterateBlock(block.data(), c.extraPoints);
        target->PlotBlock(block.data(), got);
    }
    ASSERT_GT(attractor->iterationCount(), 1000);
    ASSERT_LT(attractor->iterationCount(), kTotal);

    RenderState state;
    auto parser = makeAttractorParser();
    std::ostringstream scene;
    ASSERT_TRUE(writeAttractor(*parser, *attractor, scene));
    state.scene = scene.str();
    target->captureState(state);
    StreamState stream = captureStream(*attractor, threadRandom31().state);
    target->captureOrbitMemory(stream);
    state.streams.push_back(stream);
    state.iterationsDone = stream.count;
    const fs::path file = dir / "render.qmrender";
    ASSERT_TRUE(writeRenderState(file, state));
    // The state of the interrupted process is gone from here on.
    attractor.reset();
    target.reset();

    RenderState read;
    ASSERT_TRUE(readRenderState(file, read));
    EXPECT_EQ(read, state);
    std::istringstream sceneIn(read.scene);
    LoadResult loaded = readAttractor(*makeAttractorParser(), sceneIn);
    ASSERT_TRUE(loaded);
    loaded.attractor->restart();
    ASSERT_TRUE(restoreStream(read.streams[0], *loaded.attractor));
    auto resumed = CreateRenderTarget(c.mode);
    resumed->SetWidth(96);
    resumed->SetHeight(72);
    ASSERT_TRUE(resumed->restoreState(read));
    resumed->restoreOrbitMemory(read.streams[0]);
    EXPECT_EQ(finish(*loaded.attractor, *resumed, read.streams[0].random), expected);
}

std::vector<ResumeCase> resumeCases() {
    std::vector<ResumeCase> cases;
    for (int mode = 0; mode < kRenderModeCount; ++mode) {
        cases.push_back({mode, AttractorKind::Lorenz, 2, 777});
        cases.push_back({mode, AttractorKind::Julia, 3, 1});
        cases.push_back({mode, AttractorKind::IFS, 1, 4099});
    }
    // Stopped exactly at a development.
    cases.push_back({static_cast<int>(RenderMode::Solid), AttractorKind::Lorenz, 4, 0});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, Resume, ::testing::ValuesIn(resumeCases()), caseName);

// The parallel engine: stopped between two rounds, saved, read back into a new target and a
// new engine made from the scene, and run to the end on another number of threads.
struct EngineCase {
    int mode;
    AttractorKind kind;
    std::int32_t streams;
    int stopAtRound;
};

std::ostream& operator<<(std::ostream& os, const EngineCase& c) {
    return os << "mode " << c.mode << ", kind " << static_cast<int>(c.kind) << ", " << c.streams
              << " streams, stop after round " << c.stopAtRound;
}

// Develops at every update; stops the render after the n-th round.
struct RoundSink final : RenderSink {
    RoundSink(TBitmap3D& t, RenderControl& c, int stopAt = 0)
        : target(t), control(c), stopAt(stopAt) {}
    void develop() override { target.BuildImage(); }
    void betweenRounds() override {
        if (++rounds == stopAt) control.stopRequested = true;
    }
    TBitmap3D& target;
    RenderControl& control;
    int stopAt;
    int rounds = 0;
};

class EngineResume : public TempDir, public ::testing::WithParamInterface<EngineCase> {};

TEST_P(EngineResume, ResumedRenderGivesTheBytesOfAnUninterruptedOne) {
    const EngineCase& c = GetParam();
    const auto& set = exampleOf(c.kind);
    EngineSettings settings;
    settings.totalIterations = kTotal;
    settings.updates = kUpdates;
    settings.streams = c.streams;
    settings.renderSeed = 42;

    auto reference = examples::makeExample(set);
    auto referenceTarget = preparedTarget(c.mode, *reference);
    std::vector<std::uint8_t> expected;
    {
        settings.threads = 1;
        RenderEngine engine(*reference, *referenceTarget, settings);
        RenderControl control;
        RoundSink sink(*referenceTarget, control);
        if (engine.run(sink, control).needsFinalDevelop) referenceTarget->BuildImage();
        expected = referenceTarget->imageBytes();
    }

    auto attractor = examples::makeExample(set);
    auto target = preparedTarget(c.mode, *attractor);
    RenderState state;
    {
        settings.threads = 2;
        RenderEngine engine(*attractor, *target, settings);
        RenderControl control;
        RoundSink sink(*target, control, c.stopAtRound);
        const RenderOutcome out = engine.run(sink, control);
        ASSERT_TRUE(out.stopped);
        ASSERT_GT(out.counter, 0);
        ASSERT_LT(out.counter, kTotal);
        auto parser = makeAttractorParser();
        std::ostringstream scene;
        ASSERT_TRUE(writeAttractor(*parser, *attractor, scene));
        state.scene = scene.str();
        setRenderSettings(state, settings);
        captureRender(*target, engine, 0, state);
        EXPECT_EQ(state.iterationsDone, static_cast<std::uint64_t>(out.counter));
    }
    const fs::path file = dir / "render.qmrender";
    ASSERT_TRUE(writeRenderState(file, state));
    attractor.reset();
    target.reset();

    RenderState read;
    ASSERT_TRUE(readRenderState(file, read));
    EXPECT_EQ(read, state);
    ResumedRender r;
    ASSERT_EQ(prepareResume(read, 3, r), ResumeStatus::Ok);
    EXPECT_EQ(r.engine->threads(), 3);
    EXPECT_EQ(static_cast<std::uint64_t>(r.engine->counter()), read.iterationsDone);
    RenderControl control;
    RoundSink sink(*r.target, control);
    if (r.engine->run(sink, control).needsFinalDevelop) r.target->BuildImage();
    EXPECT_EQ(r.target->imageBytes(), expected);
}

std::vector<EngineCase> engineCases() {
    std::vector<EngineCase> cases;
    for (int mode = 0; mode < kRenderModeCount; ++mode) {
        cases.push_back({mode, AttractorKind::Lorenz, 16, 2});
        cases.push_back({mode, AttractorKind::Julia, 16, 3});
        cases.push_back({mode, AttractorKind::IFS, 1, 7});
    }
    cases.push_back({static_cast<int>(RenderMode::Plasma), AttractorKind::Lorenz, 1, 9});
    return cases;
}

std::string engineCaseName(const ::testing::TestParamInfo<EngineCase>& info) {
    static const char* const modes[] = {"Gas", "Liquid", "Light", "Plasma", "Solid"};
    static const char* const kinds[] = {"Icon", "IFS", "Julia", "Lorenz"};
    return std::string(modes[info.param.mode]) + kinds[static_cast<int>(info.param.kind)] +
           std::to_string(info.param.streams) + "Streams";
}

INSTANTIATE_TEST_SUITE_P(EveryMode, EngineResume, ::testing::ValuesIn(engineCases()),
                         engineCaseName);

// An animation's frame develops against the exposure its scene fixes. Its state keeps that
// exposure; a state written before states kept it resumes as it did then, against the
// buffers' own peak.
class StateExposure : public TempDir {
protected:
    static EngineSettings engineSettings() {
        EngineSettings settings;
        settings.totalIterations = kTotal;
        settings.updates = kUpdates;
        settings.streams = 16;
        settings.renderSeed = 7;
        settings.threads = 2;
        return settings;
    }
    // The render's bytes, run whole or stopped after two rounds with its state in `state`.
    static std::vector<std::uint8_t> render(int mode, float exposure, RenderState* state = nullptr,
                                            float* ownPeak = nullptr) {
        auto attractor = examples::makeExample(exampleOf(AttractorKind::Lorenz));
        auto target = preparedTarget(mode, *attractor);
        target->fixedPeak = exposure;
        const EngineSettings settings = engineSettings();
        RenderEngine engine(*attractor, *target, settings);
        RenderControl control;
        RoundSink sink(*target, control, state ? 2 : 0);
        if (engine.run(sink, control).needsFinalDevelop) target->BuildImage();
        if (ownPeak) *ownPeak = target->foundPeak;
        if (state) {
            std::ostringstream scene;
            writeAttractor(*makeAttractorParser(), *attractor, scene);
            state->scene = scene.str();
            setRenderSettings(*state, settings);
            captureRender(*target, engine, 0, *state);
        }
        return target->imageBytes();
    }
    // The state through its file, resumed and run to the end.
    std::vector<std::uint8_t> resume(const RenderState& state, float& exposure) {
        const fs::path file = dir / "frame.qmrender";
        EXPECT_TRUE(writeRenderState(file, state));
        RenderState read;
        EXPECT_TRUE(readRenderState(file, read));
        ResumedRender r;
        EXPECT_EQ(prepareResume(read, 1, r), ResumeStatus::Ok);
        if (!r.target) return {};
        exposure = r.target->fixedPeak;
        RenderControl control;
        RoundSink sink(*r.target, control);
        if (r.engine->run(sink, control).needsFinalDevelop) r.target->BuildImage();
        return r.target->imageBytes();
    }
};

TEST_F(StateExposure, AFixedExposureResumesAndAnOlderStateDevelopsAgainstItsOwnPeak) {
    for (int mode : {static_cast<int>(RenderMode::Gas), static_cast<int>(RenderMode::Light),
                     static_cast<int>(RenderMode::Solid)}) {
        SCOPED_TRACE(mode);
        float ownPeak = 0;
        const std::vector<std::uint8_t> own = render(mode, 0, nullptr, &ownPeak);
        ASSERT_GT(ownPeak, 0);
        const float exposure = ownPeak / 4;
        const std::vector<std::uint8_t> fixed = render(mode, exposure);
        ASSERT_NE(fixed, own) << "an exposure below the peak brightens the image";

        RenderState state;
        render(mode, exposure, &state);
        ASSERT_TRUE(state.number("exposure"));
        EXPECT_EQ(*state.number("exposure"), double{exposure});
        float resumedExposure = -1;
        EXPECT_EQ(resume(state, resumedExposure), fixed);
        EXPECT_EQ(resumedExposure, exposure);

        RenderState older = state;
        std::erase_if(older.settings, [](const auto& kv) { return kv.first == "exposure"; });
        EXPECT_EQ(resume(older, resumedExposure), own);
        EXPECT_EQ(resumedExposure, 0);

        for (const char* bad : {"0", "-2", "nan", "1e300", "0.1"}) {
            RenderState s = state;
            s.set("exposure", std::string(bad));
            ResumedRender none;
            EXPECT_EQ(prepareResume(s, 1, none), ResumeStatus::BadTarget) << bad;
        }
    }
}

// A target with the render's camera, buffers and settings, to capture from.
struct Rendered {
    std::unique_ptr<Attractor> attractor = examples::makeExample(exampleOf(AttractorKind::Lorenz));
    std::unique_ptr<TBitmap3D> target;
    RenderState state;
    explicit Rendered(int mode) {
        target = preparedTarget(mode, *attractor);
        RenderControl control;
        DevelopSink sink(*target, control, 1);
        runRender(*attractor, *target, {kTotal, kUpdates}, sink, control);
        target->captureState(state);
    }
};

TEST(TargetState, RefusesAStateOfAnotherModeSizeOrWithAPartMissing) {
    for (int mode = 0; mode < kRenderModeCount; ++mode) {
        SCOPED_TRACE(mode);
        Rendered r(mode);
        auto fresh = [&](int m, std::int32_t w, std::int32_t h) {
            auto t = CreateRenderTarget(m);
            t->SetWidth(w);
            t->SetHeight(h);
            return t;
        };
        EXPECT_FALSE(fresh((mode + 1) % kRenderModeCount, 96, 72)->restoreState(r.state));
        EXPECT_FALSE(fresh(mode, 100, 72)->restoreState(r.state));
        EXPECT_FALSE(fresh(mode, 96, 70)->restoreState(r.state));

        // Each buffer, each value array and each setting is needed.
        for (std::size_t i = 0; i < r.state.buffers.size(); ++i) {
            RenderState damaged = r.state;
            damaged.buffers[i].values.pop_back();
            EXPECT_FALSE(fresh(mode, 96, 72)->restoreState(damaged)) << r.state.buffers[i].name;
        }
        for (std::size_t i = 0; i < r.state.values.size(); ++i) {
            RenderState damaged = r.state;
            damaged.values[i].values.push_back(0);
            // A ramp of any length is a ramp: only a length that is not whole stops is wrong.
            EXPECT_FALSE(fresh(mode, 96, 72)->restoreState(damaged)) << r.state.values[i].name;
        }
        for (std::size_t i = 0; i < r.state.settings.size(); ++i) {
            RenderState damaged = r.state;
            damaged.settings[i].second.assign(1, 'x');
            EXPECT_FALSE(fresh(mode, 96, 72)->restoreState(damaged)) << r.state.settings[i].first;
        }

        // A refused state changes nothing: the target still renders as before.
        auto target = fresh(mode, 96, 72);
        RenderState empty;
        target->captureState(empty);
        RenderState otherSize = r.state;
        otherSize.set("width", "100");
        EXPECT_FALSE(target->restoreState(otherSize));
        RenderState after;
        target->captureState(after);
        EXPECT_EQ(after, empty);

        // And the whole state is taken.
        ASSERT_TRUE(target->restoreState(r.state));
        RenderState again;
        target->captureState(again);
        EXPECT_EQ(again, r.state);
    }
}

TEST(TargetState, ABorrowingCaptureWritesTheSameFileWithoutCopyingTheBuffers) {
    for (int mode : {static_cast<int>(RenderMode::Light), static_cast<int>(RenderMode::Solid)}) {
        Rendered r(mode);
        RenderState borrowed;
        borrowed.borrowBuffers = true;
        r.target->captureState(borrowed);
        for (const StateBuffer& b : borrowed.buffers) EXPECT_TRUE(b.values.empty()) << b.name;
        const auto* solid = dynamic_cast<const TBitmap3D_Solid*>(r.target.get());
        if (solid) {
            EXPECT_EQ(borrowed.buffer("depth")->borrowed.data(), &solid->samples[0].depth);
        }

        const fs::path dir = fs::temp_directory_path();
        const fs::path a = dir / ("qm-borrow-a-" + std::to_string(getpid()));
        const fs::path b = dir / ("qm-borrow-b-" + std::to_string(getpid()));
        ASSERT_TRUE(writeRenderState(a, r.state));
        ASSERT_TRUE(writeRenderState(b, borrowed));
        RenderState readA, readB;
        ASSERT_TRUE(readRenderState(a, readA));
        ASSERT_TRUE(readRenderState(b, readB));
        EXPECT_EQ(readA, readB);
        EXPECT_EQ(fs::file_size(a), fs::file_size(b));
        fs::remove(a);
        fs::remove(b);
    }
}

// Solid keeps density and depth side by side in memory; its state holds them as two planes,
// pixel by pixel, for the camera and for each light map (as state files always have), and
// planes come back into the samples they describe.
TEST(TargetState, SolidBuffersAreStoredAsDensityAndDepthPlanes) {
    Rendered r(static_cast<int>(RenderMode::Solid));
    const auto& solid = dynamic_cast<const TBitmap3D_Solid&>(*r.target);
    auto expectPlanes = [&](const std::string& prefix, const DepthBuffer& samples) {
        const StateBuffer* density = r.state.buffer(prefix + "density");
        const StateBuffer* depth = r.state.buffer(prefix + "depth");
        ASSERT_TRUE(density && depth) << prefix;
        ASSERT_EQ(density->size(), samples.size());
        ASSERT_EQ(depth->size(), samples.size());
        std::size_t covered = 0;
        for (std::size_t k = 0; k < samples.size(); ++k) {
            ASSERT_EQ((*density)[k], samples[k].density) << prefix << k;
            ASSERT_EQ((*depth)[k], samples[k].depth) << prefix << k;
            covered += samples[k].density > 0 && samples[k].depth < 1;
        }
        EXPECT_GT(covered, 0u) << prefix;
    };
    expectPlanes("", solid.samples);
    for (std::size_t i = 0; i < solid.lights.size(); ++i)
        expectPlanes("light" + std::to_string(i) + ".", solid.lights[i]->mapSamples);

    RenderState planes = r.state;
    const std::size_t k = 5 + 7 * 96;
    for (StateBuffer& b : planes.buffers) {
        if (b.name == "density") b.values[k] = 0.25f;
        if (b.name == "light1.depth") b.values[k] = 0.125f;
    }
    auto t = CreateRenderTarget(static_cast<int>(RenderMode::Solid));
    t->SetWidth(96);
    t->SetHeight(72);
    ASSERT_TRUE(t->restoreState(planes));
    const auto& restored = dynamic_cast<const TBitmap3D_Solid&>(*t);
    auto expected = solid.samples;
    expected[k].density = 0.25f;
    EXPECT_EQ(restored.samples, expected);
    auto map = solid.lights[1]->mapSamples;
    map[k].depth = 0.125f;
    EXPECT_EQ(restored.lights[1]->mapSamples, map);
    EXPECT_EQ(restored.lights[2]->mapSamples, solid.lights[2]->mapSamples);
}

TEST(PrepareResume, RefusesWhatCannotBeThatRenderAndLeavesNothingHalfBuilt) {
    Rendered r(static_cast<int>(RenderMode::Plasma));
    RenderState state = r.state;
    std::ostringstream scene;
    ASSERT_TRUE(writeAttractor(*makeAttractorParser(), *r.attractor, scene));
    state.scene = scene.str();
    EngineSettings settings;
    settings.totalIterations = kTotal;
    settings.streams = 2;
    setRenderSettings(state, settings);
    RenderEngine engine(*r.attractor, *r.target, settings);
    state.streams = engine.streamStates();

    ResumedRender out;
    EXPECT_EQ(prepareResume(state, 1, out), ResumeStatus::Ok);
    auto refused = [&](auto damage) {
        RenderState s = state;
        damage(s);
        ResumedRender none;
        const ResumeStatus status = prepareResume(s, 1, none);
        EXPECT_FALSE(none.engine || none.target || none.attractor);
        return status;
    };
    EXPECT_EQ(refused([](RenderState& s) { s.set("streams", "0"); }), ResumeStatus::BadSettings);
    EXPECT_EQ(refused([](RenderState& s) { s.set("iterations", "-1"); }),
              ResumeStatus::BadSettings);
    EXPECT_EQ(refused([](RenderState& s) { s.set("mode", "5"); }), ResumeStatus::BadSettings);
    EXPECT_EQ(refused([](RenderState& s) { s.set("width", "99999"); }), ResumeStatus::BadSettings);
    EXPECT_EQ(refused([](RenderState& s) { s.scene = "nothing"; }), ResumeStatus::BadScene);
    EXPECT_EQ(refused([](RenderState& s) { s.set("height", "100"); }), ResumeStatus::BadTarget);
    EXPECT_EQ(refused([](RenderState& s) { s.streams.pop_back(); }), ResumeStatus::BadStreams);
}

TEST(PrepareResume, RefusesAMultiStreamGasStateWithoutItsFixedPointSums) {
    // An earlier version summed multi-stream Gas in float: its states cannot be continued to
    // the bytes they would have given, so they are refused as such; a classic one goes on.
    for (const std::int32_t streams : {16, 1}) {
        Rendered r(static_cast<int>(RenderMode::Gas));
        std::ostringstream scene;
        ASSERT_TRUE(writeAttractor(*makeAttractorParser(), *r.attractor, scene));
        EngineSettings settings;
        settings.totalIterations = kTotal;
        settings.streams = streams;
        RenderEngine engine(*r.attractor, *r.target, settings);
        RenderState state;
        state.scene = scene.str();
        setRenderSettings(state, settings);
        captureRender(*r.target, engine, 0, state);
        ResumedRender out;
        ASSERT_EQ(prepareResume(state, 1, out), ResumeStatus::Ok) << streams;
        std::erase_if(state.buffers,
                      [](const StateBuffer& b) { return b.name == kFixedDensityBuffer; });
        ResumedRender old;
        EXPECT_EQ(prepareResume(state, 1, old),
                  streams > 1 ? ResumeStatus::EarlierGasSums : ResumeStatus::Ok);
    }
}

TEST(TargetState, GradientsComeBackStopForStopWithEqualPositionsInOrder) {
    Gradientf g;
    g.AddStop(0, {0, 0, 0});
    g.AddStop(1, {1, 1, 1});
    g.AddStop(0.5, {0.25f, 0.5f, 0.75f});
    g.AddStop(0.5, {0.1f, 0.2f, 0.3f});  // goes in front of the first stop at 0.5
    Gradientf back;
    ASSERT_TRUE(gradientFromValues(gradientValues(g), back));
    EXPECT_EQ(back, g);
    EXPECT_FALSE(gradientFromValues({0, 0.1, 0, 0}, back));  // 0.1 is no float
    EXPECT_FALSE(gradientFromValues({0, 0, 0}, back));
}

TEST(StreamOfTheClassicLoop, JuliaWalkComesBackAndWhatDoesNotFitIsRefused) {
    auto julia = examples::makeExample(exampleOf(AttractorKind::Julia));
    std::vector<Vecd> block(1234);
    julia->iterateBlock(block.data(), 1234);
    const StreamState stream = captureStream(*julia, 99);
    EXPECT_EQ(stream.count, 1234u);
    EXPECT_EQ(stream.random, 99u);
    EXPECT_FALSE(stream.orbitMemory.empty());

    auto lorenz = examples::makeExample(exampleOf(AttractorKind::Lorenz));
    EXPECT_TRUE(captureStream(*lorenz, 0).orbitMemory.empty());
    // A Lorenz orbit is no Julia walk, and a counter past the attractor's range is refused.
    EXPECT_FALSE(restoreStream(stream, *lorenz));
    StreamState far = captureStream(*lorenz, 0);
    far.count = std::uint64_t{1} << 31;
    EXPECT_FALSE(restoreStream(far, *lorenz));
    StreamState badWalk = stream;
    badWalk.orbitMemory.pop_back();
    auto other = examples::makeExample(exampleOf(AttractorKind::Julia));
    EXPECT_FALSE(restoreStream(badWalk, *other));
    EXPECT_EQ(other->iterationCount(), 0);
    ASSERT_TRUE(restoreStream(stream, *other));
    EXPECT_EQ(captureStream(*other, 99), stream);
}

TEST(RenderStateSettings, NumbersKeepEveryBitWhateverTheLocale) {
    RenderState s;
    s.set("a", 0.1);
    s.set("v", Vecd{-1e-300, 5e-324, 1.7976931348623157e308});
    s.set("a", 2.0 / 3.0);  // replaces
    ASSERT_EQ(s.settings.size(), 2u);
    EXPECT_EQ(s.number("a"), 2.0 / 3.0);
    EXPECT_EQ(*s.setting("a"), "0.6666666666666666");
    const auto v = s.vector("v");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->y, 5e-324);
    s.set("bad", "1 2");
    EXPECT_FALSE(s.vector("bad"));
    s.set("bad", "1 2 3 ");
    EXPECT_FALSE(s.vector("bad"));
    s.set("bad", "nan");
    EXPECT_FALSE(s.number("bad"));
}

}  // namespace
}  // namespace qm
