// The shared exposure of an animation's frames. Each mode develops its buffers relative to a
// peak (the densest pixel, or the brightest channel); a frame normalised by its own peak
// flickers as that one pixel changes from frame to frame. A fixed exposure takes the peak
// from a pre-pass over a few frames spread along the animation and gives every frame its
// value (RenderScene::exposure), so that the frames keep their brightness:
//
//   std::vector<ExposureSample> samples;
//   for (std::int32_t i : exposureSampleFrames(animation))
//       samples.push_back({i, renderFrame(animation.frame(i), ...).peak});
//   const ExposurePlan plan(animation, samples);
//   frame.render.exposure = plan.at(i);      // for every frame i
//
// A turntable has one exposure for all its frames (its loop stays seamless): the median of
// the samples. A journey's exposure follows the samples from one to the next geometrically,
// as its scenes change.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/animate/animation.h"

namespace qm {

// Frames sampled by default: enough to see past a frame with an exceptional peak, few enough
// to cost a small part of an animation of a hundred frames.
inline constexpr std::int32_t kExposureSamples = 5;

// The peak a frame's buffers reached: 0 for a frame with nothing plotted or diverged.
struct ExposureSample {
    std::int32_t frame = 0;
    double peak = 0;
};

// Up to `samples` distinct frames, spread evenly: a turntable's from frame 0 over the turn,
// a journey's from the first frame to the last, both included. In increasing order.
std::vector<std::int32_t> exposureSampleFrames(const Animation& animation,
                                               std::int32_t samples = kExposureSamples);

class ExposurePlan {
public:
    // No sample with a positive peak gives no exposure: every frame then takes its own peak.
    ExposurePlan(const Animation& animation, std::vector<ExposureSample> samples);

    // The exposure of frame i, or none (the frame's own peak). A float's value, as the
    // development uses it.
    std::optional<double> at(std::int32_t frame) const;

private:
    std::optional<double> between(std::int32_t frame) const;

    Animation::Kind kind_;
    std::vector<ExposureSample> samples_;  // positive peaks only, by frame
    double constant_ = 0;                  // a turntable's
};

}  // namespace qm
