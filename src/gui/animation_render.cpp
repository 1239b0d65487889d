#include "gui/animation_render.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QMetaObject>

#include <algorithm>
#include <map>
#include <optional>
#include <system_error>

#include "core/animate/exposure.h"
#include "core/animate/frame_render.h"
#include "core/render/memory_budget.h"
#include "core/scene/scene_file.h"
#include "png/png_image.h"

namespace qm::gui {

namespace {

// The pre-pass keeps its frames to write them later when they take at most this much (and
// half the memory a render may take); else they are rendered again.
constexpr std::uint64_t kPrePassKeepBytes = 1ull << 30;

void lowerPriority() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
}

}  // namespace

std::filesystem::path animationFrameFile(const std::filesystem::path& folder, std::int32_t i) {
    std::string digits = std::to_string(i);
    if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
    return folder / ("frame-" + digits + ".png");
}

AnimationRender::AnimationRender(QObject* parent, Animation animation, bool fixedExposure,
                                 std::filesystem::path folder, std::int32_t threads,
                                 Gradientf speed, Gradientf angle)
    : QObject(parent),
      animation_(std::move(animation)),
      fixedExposure_(fixedExposure),
      folder_(std::move(folder)),
      threads_(threads),
      speed_(std::move(speed)),
      angle_(std::move(angle)) {
    qRegisterMetaType<AnimationOutcome>();
    progress_.frames = animation_.frameCount();
    worker_ = std::thread([this] {
        lowerPriority();
        AnimationOutcome outcome;
        try {
            outcome = run();
        } catch (const std::bad_alloc&) {
            outcome.status = AnimationOutcome::WriteFailed;
            outcome.systemError = ENOMEM;
        }
        QMetaObject::invokeMethod(
            this,
            [this, outcome] {
                if (worker_.joinable()) worker_.join();
                emit finished(outcome);
            },
            Qt::QueuedConnection);
    });
}

AnimationRender::~AnimationRender() {
    stop();
    if (worker_.joinable()) worker_.join();
}

void AnimationRender::stop() {
    control_.stopRequested.store(true, std::memory_order_relaxed);
}

AnimationRender::Progress AnimationRender::progress() const {
    std::lock_guard lock(progressMutex_);
    Progress p = progress_;
    p.frameProgress = control_.progress.load(std::memory_order_relaxed);
    return p;
}

void AnimationRender::setProgress(const Progress& p) {
    std::lock_guard lock(progressMutex_);
    progress_ = p;
}

AnimationOutcome AnimationRender::run() {
    AnimationOutcome outcome;
    const std::int32_t n = animation_.frameCount();
    const RenderScene& first = animation_.keyframes().front().render;
    FrameRenderOptions options;
    options.threads = threads_;
    options.onThreadStart = lowerPriority;
    Progress shown;
    shown.frames = n;
    const auto stopped = [&] { return control_.stopRequested.load(std::memory_order_relaxed); };

    // The shared exposure: a few frames rendered against their own peaks.
    std::map<std::int32_t, FrameRender> prePass;
    std::optional<ExposurePlan> plan;
    if (fixedExposure_) {
        const std::vector<std::int32_t> sampled = exposureSampleFrames(animation_);
        const bool keep =
            renderTargetBytes(first.mode, first.width, first.height) * sampled.size() <=
            std::min(kPrePassKeepBytes, memoryBudget().bytes / 2);
        std::vector<ExposureSample> samples;
        shown.exposure = true;
        shown.samples = static_cast<std::int32_t>(sampled.size());
        for (std::size_t k = 0; k < sampled.size(); ++k) {
            shown.sample = static_cast<std::int32_t>(k);
            shown.frame = sampled[k];
            setProgress(shown);
            FrameRender r =
                renderFrame(animation_.frame(sampled[k]), speed_, angle_, options, control_);
            if (stopped()) {
                outcome.status = AnimationOutcome::Stopped;
                return outcome;
            }
            samples.push_back({sampled[k], r.diverged ? 0.0 : r.peak});
            if (keep) prePass.emplace(sampled[k], std::move(r));
        }
        plan.emplace(animation_, samples);
        shown.exposure = false;
    }
    const auto frameAt = [&](std::int32_t i) {
        SceneFrame f = animation_.frame(i);
        f.render.exposure = plan ? plan->at(i) : std::nullopt;
        return f;
    };

    // Frames written before: kept when they are this animation's, else nothing is written.
    std::vector<bool> kept(static_cast<std::size_t>(n), false);
    for (std::int32_t i = 0; i < n; ++i) {
        const std::filesystem::path file = animationFrameFile(folder_, i);
        std::error_code ec;
        if (!std::filesystem::exists(file, ec)) continue;
        const SceneFrame f = frameAt(i);
        PngTexts texts;
        const std::optional<RenderScene> expected = carriedScene(f, speed_, angle_);
        if (readPngTexts(file, texts) != PngSceneStatus::Ok || !expected ||
            texts.scene != sceneText(*f.attractor, *expected)) {
            outcome.status = AnimationOutcome::NotThisFrame;
            outcome.frame = i;
            return outcome;
        }
        kept[static_cast<std::size_t>(i)] = true;
        ++outcome.kept;
    }
    shown.finished = outcome.kept;

    // The frames, in order, each written as soon as it is rendered.
    for (std::int32_t i = 0; i < n; ++i) {
        if (kept[static_cast<std::size_t>(i)]) continue;
        shown.frame = i;
        setProgress(shown);
        const SceneFrame f = frameAt(i);
        FrameRender r;
        if (auto cached = prePass.find(i); cached != prePass.end()) {
            // Rendered in the pre-pass against its own peak: developed again.
            r = std::move(cached->second);
            prePass.erase(cached);
            if (!r.diverged) {
                r.target->fixedPeak =
                    f.render.exposure ? static_cast<float>(*f.render.exposure) : 0;
                r.target->BuildImage();
            }
            r.scene.exposure = f.render.exposure;
        } else {
            r = renderFrame(f, speed_, angle_, options, control_);
        }
        // A frame cut short is not written: the next run renders it again.
        if (stopped()) {
            outcome.status = AnimationOutcome::Stopped;
            return outcome;
        }
        if (!r.target) {
            outcome.status = AnimationOutcome::NotPrepared;
            outcome.frame = i;
            return outcome;
        }
        if (r.diverged) outcome.diverged.push_back(i);
        const PngTexts texts{sceneText(*r.attractor, r.scene),
                             sceneDescription(*r.attractor, r.scene) + ", frame " +
                                 std::to_string(i) + " of " + std::to_string(n)};
        const WriteResult w = writePng(animationFrameFile(folder_, i), *r.target, 8, texts);
        if (!w) {
            outcome.status = AnimationOutcome::WriteFailed;
            outcome.frame = i;
            outcome.systemError = w.systemError;
            outcome.notRegular = w.status == WriteStatus::NotRegular;
            return outcome;
        }
        ++outcome.written;
        ++shown.finished;
        setProgress(shown);
    }
    return outcome;
}

}  // namespace qm::gui
