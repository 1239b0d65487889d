#include "core/animate/frame_sequence.h"

#include <algorithm>
#include <map>

#include "core/animate/exposure.h"
#include "core/render/memory_budget.h"
#include "core/scene/scene_file.h"

namespace qm {

namespace {

// The pre-pass keeps its frames for the main pass when they take at most this much (and half
// the memory a render may take); else they are rendered again.
constexpr std::uint64_t kPrePassKeepBytes = 1ull << 30;

}  // namespace

SequenceOutcome renderFrameSequence(const Animation& animation, const Gradientf& defaultSpeed,
                                    const Gradientf& defaultAngle, const SequenceSettings& settings,
                                    FrameStore& store, SequenceObserver& observer,
                                    RenderControl& control) {
    SequenceOutcome outcome;
    const std::int32_t n = animation.frameCount();
    const RenderScene& first = animation.keyframes().front().render;
    const auto stopped = [&](const FrameRender& r) {
        return r.stopped || control.stopRequested.load(std::memory_order_relaxed);
    };
    SequenceProgress shown;
    shown.frames = n;

    // The shared exposure: a few frames rendered against their own peaks.
    std::map<std::int32_t, FrameRender> prePass;
    std::optional<ExposurePlan> plan;
    if (settings.fixedExposure) {
        const std::vector<std::int32_t> sampled = exposureSampleFrames(animation);
        const bool keep =
            renderTargetBytes(first.mode, first.width, first.height) * sampled.size() <=
            std::min(kPrePassKeepBytes, memoryBudget().bytes / 2);
        std::vector<ExposureSample> samples;
        shown.exposure = true;
        shown.samples = static_cast<std::int32_t>(sampled.size());
        for (std::size_t k = 0; k < sampled.size(); ++k) {
            shown.sample = static_cast<std::int32_t>(k);
            shown.frame = sampled[k];
            observer.started(shown);
            FrameRender r = renderFrame(animation.frame(sampled[k]), defaultSpeed, defaultAngle,
                                        settings.render, control);
            if (stopped(r)) {
                outcome.status = SequenceOutcome::Stopped;
                outcome.inPrePass = true;
                outcome.frame = sampled[k];
                return outcome;
            }
            samples.push_back({sampled[k], r.diverged ? 0.0 : r.peak});
            if (keep) prePass.emplace(sampled[k], std::move(r));
        }
        plan.emplace(animation, samples);
        outcome.firstExposure = plan->at(0);
        shown.exposure = false;
    }
    const auto frameAt = [&](std::int32_t i) {
        SceneFrame f = animation.frame(i);
        f.render.exposure = plan ? plan->at(i) : std::nullopt;
        return f;
    };

    // Frames stored before: kept when they are this animation's, else nothing is written.
    std::vector<bool> kept(static_cast<std::size_t>(n), false);
    if (settings.keepStored) {
        for (std::int32_t i = 0; i < n; ++i) {
            if (!store.has(i)) continue;
            const SceneFrame f = frameAt(i);
            const std::optional<std::string> text = store.sceneText(i);
            const std::optional<RenderScene> expected = carriedScene(f, defaultSpeed, defaultAngle);
            if (!text || !expected || *text != sceneText(*f.attractor, *expected)) {
                outcome.status = SequenceOutcome::NotThisFrame;
                outcome.frame = i;
                return outcome;
            }
            kept[static_cast<std::size_t>(i)] = true;
            ++outcome.kept;
        }
    }
    shown.finished = outcome.kept;
    shown.left = n - outcome.kept;

    // The frames, in order, each stored as soon as it is rendered.
    for (std::int32_t i = 0; i < n; ++i) {
        if (kept[static_cast<std::size_t>(i)]) continue;
        shown.frame = i;
        observer.started(shown);
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
            r = renderFrame(f, defaultSpeed, defaultAngle, settings.render, control);
        }
        // A frame cut short is not stored: the next run renders it again.
        if (stopped(r)) {
            outcome.status = SequenceOutcome::Stopped;
            outcome.frame = i;
            return outcome;
        }
        if (!r.target) {
            outcome.status = SequenceOutcome::NotPrepared;
            outcome.frame = i;
            return outcome;
        }
        ++outcome.rendered;
        ++shown.rendered;
        --shown.left;
        if (r.diverged) {
            outcome.diverged.push_back(i);
            observer.diverged(i);
        }
        if (!r.diverged || !settings.skipDiverged) {
            const std::string description = sceneDescription(*r.attractor, r.scene) + ", frame " +
                                            std::to_string(i) + " of " + std::to_string(n);
            const WriteResult w =
                store.write(i, *r.target, sceneText(*r.attractor, r.scene), description);
            if (!w) {
                outcome.status = SequenceOutcome::WriteFailed;
                outcome.frame = i;
                outcome.systemError = w.systemError;
                outcome.notRegular = w.status == WriteStatus::NotRegular;
                return outcome;
            }
            ++outcome.written;
        }
        ++shown.finished;
        observer.finished(shown);
    }
    return outcome;
}

}  // namespace qm
