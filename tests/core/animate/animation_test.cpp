// Animations: a turntable's frames turn evenly and close the loop exactly, a journey starts
// and ends on its keyframes bit for bit and mixes in between, a frame renders alone to the
// same bytes on any thread count and again from the scene it carries, and a fixed exposure
// holds the brightness of a turntable where each frame's own peak lets it flicker.
#include "core/animate/animation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

#include "core/animate/exposure.h"
#include "core/animate/frame_render.h"
#include "core/animate/frame_sequence.h"
#include "core/attractor/random31.h"
#include "core/property/color_map.h"
#include "core/render/camera.h"
#include "core/render/render_engine.h"
#include "core/scene/scene_file.h"
#include "example_sets.h"

namespace qm {
namespace {

constexpr double kPi = 3.141592653589793;

Gradientf builtinSpeed() {
    Gradientf g;
    setBuiltinSpeedGradient(g);
    return g;
}
Gradientf builtinAngle() {
    Gradientf g;
    setBuiltinAngleGradient(g);
    return g;
}

// A resolved scene of an example at a small size: the view fitted, then dragged a little so
// that the object axes are not the image's.
SceneFrame exampleScene(int exampleIndex, int mode, std::int64_t iterations = 60000) {
    const auto& set = examples::exampleSets()[static_cast<std::size_t>(exampleIndex)];
    SceneFrame f(examples::makeExample(set), {});
    f.render.mode = mode;
    f.render.width = 64;
    f.render.height = 48;
    f.render.iterations = iterations;
    f.render.updates = 2;
    f.render.streams = 4;
    f.render.previewRandom = 12345;
    EXPECT_TRUE(resolveScene(f, builtinSpeed(), builtinAngle()));
    f.render.camera->rotationAxis = {0.3, 0.9, 0.1};
    f.render.camera->rotationAngle = 0.7;
    return f;
}

// The rotation part of a camera, as the view matrix applies it.
Mat4 rotationOf(const SceneCamera& c) {
    Mat4 m = Mat4::identity();
    m.rotate(c.rotationAngle * 180 / kPi, c.rotationAxis);
    return m;
}

Mat4 transposed(const Mat4& m) {
    Mat4 t;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) t[r * 4 + c] = m.at(r, c);  // row c, column r
    return t;
}

void expectNear(const Mat4& a, const Mat4& b, double tolerance) {
    for (int k = 0; k < 16; ++k) EXPECT_NEAR(a[k], b[k], tolerance) << "element " << k;
}

std::uint64_t digest(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (std::uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

double meanLuminance(const TBitmap3D& t) {
    const auto& bytes = t.imageBytes();
    return std::accumulate(bytes.begin(), bytes.end(), 0.0) / static_cast<double>(bytes.size());
}

FrameRender render(const SceneFrame& f, std::int32_t threads = 2) {
    RenderControl control;
    FrameRenderOptions options;
    options.threads = threads;
    return renderFrame(f, builtinSpeed(), builtinAngle(), options, control);
}

// Consecutive frames differ by one step about the axis, frame 0 is the base and the frame
// after the last is frame 0 again, exactly.
TEST(Turntable, FramesTurnEvenlyAndTheStepAfterTheLastIsTheFirst) {
    const SceneFrame base = exampleScene(3, 0);
    const SceneCamera& camera = *base.render.camera;
    const struct {
        TurnAxis axis;
        Vecd unit;
    } axes[] = {{TurnAxis::X, {1, 0, 0}},
                {TurnAxis::Y, {0, 1, 0}},
                {TurnAxis::Z, {0, 0, 1}},
                {TurnAxis::View, {0, 1, 0}}};
    for (const auto& [axis, unit] : axes) {
        for (double degrees : {360.0, -720.0, 90.0}) {
            SCOPED_TRACE(testing::Message()
                         << "axis " << int(axis) << ", " << degrees << " degrees");
            const Animation a = Animation::turntable(base, 7, degrees, axis);
            EXPECT_EQ(a.frame(0).render, base.render);
            if (std::fmod(degrees, 360) == 0) {
                EXPECT_EQ(a.frame(7).render, base.render);
            }
            Mat4 step = Mat4::identity();
            step.rotate(degrees / 7, unit);
            for (std::int32_t i = 0; i < 7; ++i) {
                const Mat4 r0 = rotationOf(*a.frame(i).render.camera);
                const Mat4 r1 = rotationOf(*a.frame(i + 1).render.camera);
                // About an object axis the turn applies first, about the image's axis last.
                const Mat4 between =
                    axis == TurnAxis::View ? r1 * transposed(r0) : transposed(r0) * r1;
                expectNear(between, step, 1e-12);
                // Nothing but the rotation moves.
                SceneCamera c = *a.frame(i).render.camera;
                c.rotationAxis = camera.rotationAxis;
                c.rotationAngle = camera.rotationAngle;
                EXPECT_EQ(c, camera);
            }
        }
    }
}

// A turntable of four frames: each frame's digest is the same on one thread and on three,
// rendered in any order; the frame after the last gives frame 0's bytes; and the scene a
// frame carries renders to its bytes again.
TEST(Turntable, FramesRenderReproduciblyAndTheLoopCloses) {
    const Animation a = Animation::turntable(exampleScene(0, 2), 4, 360, TurnAxis::View);
    std::vector<std::uint64_t> digests;
    for (std::int32_t i = 0; i < 4; ++i) {
        const FrameRender r = render(a.frame(i), 1);
        ASSERT_FALSE(r.diverged);
        digests.push_back(digest(r.target->imageBytes()));
    }
    // Every frame differs from its neighbours: the camera did turn.
    for (std::size_t i = 1; i < digests.size(); ++i) EXPECT_NE(digests[i], digests[i - 1]);
    for (std::int32_t i : {3, 1, 0, 2})
        EXPECT_EQ(digest(render(a.frame(i), 3).target->imageBytes()),
                  digests[static_cast<std::size_t>(i)])
            << "frame " << i;
    EXPECT_EQ(digest(render(a.frame(4)).target->imageBytes()), digests[0]);

    const FrameRender second = render(a.frame(1));
    const std::string text = sceneText(*second.attractor, second.scene);
    SceneLoad loaded = readScene(text);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded.render, second.scene);
    const FrameRender again = render({std::move(loaded.attractor), loaded.render});
    EXPECT_EQ(again.target->imageBytes(), second.target->imageBytes());
}

// The image's brightness from one frame to the next, as the mean byte of the image: with
// each frame's own peak it jumps with the one densest pixel; with the turntable's exposure
// it follows what the camera sees. The bounds hold Icon's measured changes with a margin.
TEST(Turntable, FixedExposureHoldsTheBrightnessFromFrameToFrame) {
    SceneFrame base = exampleScene(0, 0, 200000);
    const Animation a = Animation::turntable(base, 12, 360, TurnAxis::View);
    std::vector<ExposureSample> samples;
    for (std::int32_t i : exposureSampleFrames(a)) samples.push_back({i, render(a.frame(i)).peak});
    ASSERT_EQ(samples.size(), 5u);
    const ExposurePlan plan(a, samples);
    ASSERT_TRUE(plan.at(0));
    EXPECT_EQ(plan.at(0), plan.at(11));

    std::vector<double> fixed, own;
    for (std::int32_t i = 0; i < 12; ++i) {
        SceneFrame f = a.frame(i);
        own.push_back(meanLuminance(*render(f).target));
        f.render.exposure = plan.at(i);
        const FrameRender r = render(f);
        EXPECT_EQ(r.scene.exposure, plan.at(i));
        fixed.push_back(meanLuminance(*r.target));
    }
    const auto worstChange = [](const std::vector<double>& m) {
        double worst = 0;
        for (std::size_t i = 0; i < m.size(); ++i) {
            const double next = m[(i + 1) % m.size()];  // the loop: the last frame to the first
            worst = std::max(worst, std::fabs(next - m[i]) / m[i]);
        }
        return worst;
    };
    RecordProperty("own_peak_worst_change", std::to_string(worstChange(own)));
    RecordProperty("fixed_worst_change", std::to_string(worstChange(fixed)));
    EXPECT_LT(worstChange(fixed), 0.25);
    EXPECT_LT(worstChange(fixed), worstChange(own));
}

// A development against a fixed peak equal to the buffers' own gives the ordinary image in
// every mode; a higher one darkens it; nothing plotted stays the background.
TEST(FixedPeak, EqualToTheOwnPeakGivesTheOrdinaryImage) {
    for (int mode = 0; mode < kRenderModeCount; ++mode) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        FrameRender r = render(exampleScene(3, mode));
        ASSERT_GT(r.peak, 0.0f);
        TBitmap3D& t = *r.target;
        const std::vector<std::uint8_t> ordinary = t.imageBytes();
        t.fixedPeak = r.peak;
        t.BuildImage();
        EXPECT_EQ(t.imageBytes(), ordinary);
        EXPECT_EQ(t.foundPeak, r.peak);
        t.fixedPeak = r.peak * 4;
        t.BuildImage();
        EXPECT_NE(t.imageBytes(), ordinary);
        if (mode != 4) {
            t.fixedPeak = 0;
            t.BuildImage();
            const double own = meanLuminance(t);
            t.fixedPeak = r.peak * 4;
            t.BuildImage();
            EXPECT_LT(meanLuminance(t), own);
        }
    }
}

TEST(Journey, EndsAndKeyframesAreTheScenesExactlyAndTheMiddleMixes) {
    SceneFrame a = exampleScene(3, 2);
    SceneFrame b = a;
    b.attractor->params()[1].set(24.5);
    b.render.camera->rotationAxis = {0, 0, 1};
    b.render.camera->rotationAngle = 2.0;
    b.render.camera->scale = a.render.camera->scale * 4;
    b.render.camera->panX += 0.2;
    b.render.gamma = 3.0;
    b.render.iterations = a.render.iterations * 4;
    b.render.streams = 9;
    Gradientf twoStops;
    twoStops.AddStop(0, {1, 0, 0});
    twoStops.AddStop(1, {0, 0, 1});
    b.render.angleGradient = twoStops;
    SceneFrame c = a;
    c.attractor->params()[0].set(12);

    const auto journey = Animation::journey({a, b, c}, 9, Ease::Linear);
    ASSERT_TRUE(journey);
    const std::string textA = sceneText(*a.attractor, a.render);
    const auto textOf = [](const SceneFrame& f) { return sceneText(*f.attractor, f.render); };
    EXPECT_EQ(textOf(journey->frame(0)), textA);
    EXPECT_EQ(textOf(journey->at(0)), textA);
    EXPECT_EQ(textOf(journey->frame(4)), textOf(b));  // 4 of 8 steps: the middle keyframe
    EXPECT_EQ(textOf(journey->at(0.5)), textOf(b));
    EXPECT_EQ(textOf(journey->frame(8)), textOf(c));
    EXPECT_EQ(textOf(journey->at(1)), textOf(c));
    EXPECT_EQ(journey->frame(8).render, c.render);

    // Frame 2: halfway from a to b.
    const SceneFrame mid = journey->frame(2);
    EXPECT_DOUBLE_EQ(mid.attractor->params()[1].get(), (28 + 24.5) / 2);
    const SceneCamera& ca = *a.render.camera;
    const SceneCamera& cb = *b.render.camera;
    const SceneCamera& cm = *mid.render.camera;
    EXPECT_DOUBLE_EQ(cm.scale, ca.scale * 2);  // geometric
    EXPECT_DOUBLE_EQ(cm.panX, (ca.panX + cb.panX) / 2);
    EXPECT_EQ(mid.render.iterations, a.render.iterations * 2);
    EXPECT_DOUBLE_EQ(*mid.render.gamma, (*a.render.gamma + 3.0) / 2);
    EXPECT_EQ(mid.render.streams, b.render.streams);  // the nearer keyframe's, at a tie b's
    // The rotation halfway: as far from one end as from the other, half the whole way.
    const auto angleBetween = [](const SceneCamera& x, const SceneCamera& y) {
        const Mat4 r = transposed(rotationOf(x)) * rotationOf(y);
        return std::acos(std::clamp((r.at(0, 0) + r.at(1, 1) + r.at(2, 2) - 1) / 2, -1.0, 1.0));
    };
    EXPECT_NEAR(angleBetween(ca, cm), angleBetween(ca, cb) / 2, 1e-12);
    EXPECT_NEAR(angleBetween(cm, cb), angleBetween(ca, cb) / 2, 1e-12);
    // Gradients of other stop counts are mixed where either has a stop.
    const Gradientf& g = *mid.render.angleGradient;
    for (double p : {0.0, 0.5, 1.0}) {
        const ColorRGBf x = a.render.angleGradient->ColorAt(p), y = twoStops.ColorAt(p);
        const ColorRGBf m = g.ColorAt(p);
        EXPECT_NEAR(m.r, (x.r + y.r) / 2, 1e-6);
        EXPECT_NEAR(m.b, (x.b + y.b) / 2, 1e-6);
    }

    // Smooth timing starts and ends on the keyframes too, and is slower near them.
    const auto smooth = Animation::journey({a, b}, 11, Ease::Smooth);
    ASSERT_TRUE(smooth);
    EXPECT_EQ(textOf(smooth->frame(10)), textOf(b));
    const double p1 = smooth->frame(1).attractor->params()[1].get();
    EXPECT_GT(p1, 28 - 0.1 * 3.5);  // moved less than a tenth of the way
    EXPECT_DOUBLE_EQ(smooth->frame(5).attractor->params()[1].get(), (28 + 24.5) / 2);
}

TEST(Journey, RefusesScenesThatCannotBeMixed) {
    const SceneFrame lorenz = exampleScene(3, 0);
    JourneyProblem problem = JourneyProblem::None;
    EXPECT_FALSE(Animation::journey({lorenz}, 5, Ease::Linear, &problem));
    EXPECT_EQ(problem, JourneyProblem::TooFewKeyframes);
    EXPECT_FALSE(Animation::journey({lorenz, exampleScene(0, 0)}, 5, Ease::Linear, &problem));
    EXPECT_EQ(problem, JourneyProblem::OtherKind);
    EXPECT_FALSE(Animation::journey({lorenz, exampleScene(3, 4)}, 5, Ease::Linear, &problem));
    EXPECT_EQ(problem, JourneyProblem::OtherMode);
    SceneFrame wide = lorenz;
    wide.render.width = 128;
    EXPECT_FALSE(Animation::journey({lorenz, wide}, 5, Ease::Linear, &problem));
    EXPECT_EQ(problem, JourneyProblem::OtherSize);
    SceneFrame unframed = lorenz;
    unframed.render.camera.reset();
    EXPECT_FALSE(Animation::journey({lorenz, unframed}, 5, Ease::Linear, &problem));
    EXPECT_EQ(problem, JourneyProblem::NoCamera);
}

// The pre-pass's frames and how the plan spreads what it found.
TEST(ExposurePlan, SamplesSpreadAndTheJourneyFollowsThemGeometrically) {
    const SceneFrame a = exampleScene(3, 0);
    const Animation turn = Animation::turntable(a, 120, 360, TurnAxis::View);
    EXPECT_EQ(exposureSampleFrames(turn), (std::vector<std::int32_t>{0, 24, 48, 72, 96}));
    EXPECT_EQ(exposureSampleFrames(Animation::turntable(a, 3, 360, TurnAxis::X)),
              (std::vector<std::int32_t>{0, 1, 2}));
    // The median; samples of nothing plotted do not count.
    const ExposurePlan constant(turn, {{0, 10}, {24, 1000}, {48, 20}, {72, 0}, {96, 30}});
    EXPECT_EQ(constant.at(5), static_cast<float>(std::sqrt(20.0 * 30.0)));
    EXPECT_FALSE(ExposurePlan(turn, {{0, 0}}).at(3));

    SceneFrame b = a;
    b.render.camera->scale *= 2;
    const auto journey = Animation::journey({a, b}, 101, Ease::Linear);
    ASSERT_TRUE(journey);
    EXPECT_EQ(exposureSampleFrames(*journey), (std::vector<std::int32_t>{0, 25, 50, 75, 100}));
    const ExposurePlan plan(*journey, {{0, 100}, {50, 400}, {100, 400}});
    EXPECT_EQ(plan.at(0), 100.0);
    EXPECT_NEAR(*plan.at(25), 200.0, 1e-4);
    EXPECT_NEAR(*plan.at(80), 400.0, 1e-4);
}

TEST(FrameRender, ADivergingFrameIsBlack) {
    SceneFrame f = exampleScene(3, 4);  // Solide: its background is not black
    f.attractor->params()[3].set(5.0);  // a time step that leaves at once
    const FrameRender r = render(f);
    EXPECT_TRUE(r.diverged);
    const auto& bytes = r.target->imageBytes();
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t v) { return v == 0; }));
}

// Frames kept in memory, as the image files keep them: the bytes and the scene text.
class MemoryFrames final : public FrameStore {
public:
    struct Frame {
        std::vector<std::uint8_t> bytes;
        std::string scene;
    };
    std::map<std::int32_t, Frame> frames;
    std::int32_t failAt = -1;  // a write that fails

    bool has(std::int32_t i) const override { return frames.contains(i); }
    std::optional<std::string> sceneText(std::int32_t i) const override {
        const auto it = frames.find(i);
        if (it == frames.end() || it->second.scene.empty()) return std::nullopt;
        return it->second.scene;
    }
    WriteResult write(std::int32_t i, TBitmap3D& target, const std::string& scene,
                      const std::string&) override {
        if (i == failAt) return {WriteStatus::WriteFailed, 28};
        frames[i] = {target.imageBytes(), scene};
        return {};
    }
};

// Asks the sequence to stop once `after` frames are finished.
class StopAfter final : public SequenceObserver {
public:
    StopAfter(RenderControl& control, std::int32_t after) : control_(control), after_(after) {}
    void finished(const SequenceProgress& p) override {
        if (p.finished == after_) control_.stopRequested.store(true);
    }

private:
    RenderControl& control_;
    std::int32_t after_;
};

SequenceOutcome runSequence(const Animation& a, FrameStore& store, std::int32_t stopAfter = -1,
                            bool fixedExposure = true) {
    RenderControl control;
    StopAfter observer(control, stopAfter);
    SequenceSettings settings;
    settings.fixedExposure = fixedExposure;
    settings.render.threads = 2;
    return renderFrameSequence(a, builtinSpeed(), builtinAngle(), settings, store, observer,
                               control);
}

// A sequence stopped between two frames and run again keeps what it stored, renders only the
// rest, and ends with the bytes of a run that was never stopped, pre-pass frames included; a
// frame that another animation stored stops it before anything is written.
TEST(FrameSequence, AStoppedSequenceGoesOnToTheSameFramesAndRefusesForeignOnes) {
    const Animation a = Animation::turntable(exampleScene(0, 2), 7, 360, TurnAxis::View);
    MemoryFrames whole;
    const SequenceOutcome done = runSequence(a, whole);
    ASSERT_EQ(done.status, SequenceOutcome::Done);
    EXPECT_EQ(done.written, 7);
    ASSERT_TRUE(done.firstExposure);
    ASSERT_EQ(whole.frames.size(), 7u);

    MemoryFrames parts;
    const SequenceOutcome stopped = runSequence(a, parts, 3);
    EXPECT_EQ(stopped.status, SequenceOutcome::Stopped);
    EXPECT_EQ(stopped.frame, 3);
    EXPECT_EQ(parts.frames.size(), 3u);
    const SequenceOutcome resumed = runSequence(a, parts);
    EXPECT_EQ(resumed.status, SequenceOutcome::Done);
    EXPECT_EQ(resumed.kept, 3);
    EXPECT_EQ(resumed.written, 4);
    for (std::int32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(parts.frames[i].bytes, whole.frames[i].bytes) << "frame " << i;
        EXPECT_EQ(parts.frames[i].scene, whole.frames[i].scene) << "frame " << i;
    }

    // The same frames with each its own peak are other frames: refused, nothing touched.
    MemoryFrames kept = whole;
    const SequenceOutcome other = runSequence(a, kept, -1, false);
    EXPECT_EQ(other.status, SequenceOutcome::NotThisFrame);
    EXPECT_EQ(other.frame, 0);
    EXPECT_EQ(other.written, 0);
    for (std::int32_t i = 0; i < 7; ++i) EXPECT_EQ(kept.frames[i].bytes, whole.frames[i].bytes);
}

// A failed write ends the sequence at that frame with the system's error; the frames before
// it stay stored.
TEST(FrameSequence, AFailedWriteStopsAtItsFrame) {
    const Animation a = Animation::turntable(exampleScene(3, 0), 4, 90, TurnAxis::Z);
    MemoryFrames store;
    store.failAt = 2;
    const SequenceOutcome r = runSequence(a, store, -1, false);
    EXPECT_EQ(r.status, SequenceOutcome::WriteFailed);
    EXPECT_EQ(r.frame, 2);
    EXPECT_EQ(r.systemError, 28);
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(store.frames.size(), 2u);
}

TEST(SceneFile, ExposureReadsBackExactly) {
    SceneFrame f = exampleScene(0, 3);
    f.render.exposure = 1234.5678901234567;
    SceneLoad loaded = readScene(sceneText(*f.attractor, f.render));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded.render.exposure, f.render.exposure);
    EXPECT_EQ(loaded.render, f.render);
}

}  // namespace
}  // namespace qm
