// AnimationRender: the frames of an animation rendered on a worker thread into a folder, as
// frame-0000.png, frame-0001.png, ... (PNG images that carry their scenes), the same files
// quillmere-cli animate writes for the same scenes and settings. With a fixed exposure the
// frames first share a pre-pass over a few of them. Frames of the same animation already in
// the folder are kept, so a stopped render goes on from the first missing frame; a file there
// that is not this animation's frame stops the render before anything is written. The
// sequence itself is renderFrameSequence's (core/animate/frame_sequence.h); this runs it on a
// worker thread at a lower priority and reports to the interface thread.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "core/animate/animation.h"
#include "core/animate/frame_sequence.h"
#include "core/property/gradient.h"
#include "core/render/render_loop.h"

namespace qm::gui {

// The name of frame i in a folder: frame-0000.png (more digits from frame 10000 on).
std::filesystem::path animationFrameFile(const std::filesystem::path& folder, std::int32_t i);

// How a render ended: the sequence's own outcome; a failed allocation is a failed write with
// ENOMEM.
using AnimationOutcome = SequenceOutcome;

class AnimationRender final : public QObject {
    Q_OBJECT
public:
    // Starts at once. threads: 0 for every processor (the images do not depend on it).
    AnimationRender(QObject* parent, Animation animation, bool fixedExposure,
                    std::filesystem::path folder, std::int32_t threads, Gradientf speed,
                    Gradientf angle);
    // Stops the worker and waits for it: the engine looks at the stop request every round
    // and the worker never waits for this thread.
    ~AnimationRender() override;

    void stop();
    bool running() const { return worker_.joinable(); }

    // Where the work stands, for a timer to show.
    struct Progress : SequenceProgress {
        double frameProgress = 0;  // of the frame being rendered, 0 to 1
    };
    Progress progress() const;

signals:
    void finished(const qm::gui::AnimationOutcome& outcome);

private:
    class Observer;
    AnimationOutcome run();

    Animation animation_;
    bool fixedExposure_;
    std::filesystem::path folder_;
    std::int32_t threads_;
    Gradientf speed_, angle_;
    RenderControl control_;
    mutable std::mutex progressMutex_;
    SequenceProgress progress_;
    std::thread worker_;
};

}  // namespace qm::gui

Q_DECLARE_METATYPE(qm::SequenceOutcome)
