// AnimationRender: the frames of an animation rendered on a worker thread into a folder, as
// frame-0000.png, frame-0001.png, ... (PNG images that carry their scenes), the same files
// quillmere-cli animate writes for the same scenes and settings. With a fixed exposure the
// frames first share a pre-pass over a few of them. Frames of the same animation already in
// the folder are kept, so a stopped render goes on from the first missing frame; a file there
// that is not this animation's frame stops the render before anything is written.
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
#include "core/property/gradient.h"
#include "core/render/render_loop.h"

namespace qm::gui {

// The name of frame i in a folder: frame-0000.png (more digits from frame 10000 on).
std::filesystem::path animationFrameFile(const std::filesystem::path& folder, std::int32_t i);

struct AnimationOutcome {
    enum Status : std::uint8_t { Done, Stopped, NotThisFrame, WriteFailed, NotPrepared };
    Status status = Done;
    std::int32_t written = 0;  // frames written by this run
    std::int32_t kept = 0;     // frames found written before, and kept
    std::int32_t frame = 0;    // the frame a failure is about
    std::vector<std::int32_t> diverged;
    int systemError = 0;  // of a failed write
    bool notRegular = false;
};

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
    struct Progress {
        bool exposure = false;      // in the pre-pass
        std::int32_t frame = 0;     // being rendered
        std::int32_t sample = 0;    // the pre-pass's, 0 to samples - 1
        std::int32_t samples = 0;   // frames of the pre-pass
        std::int32_t finished = 0;  // frames written or kept so far
        std::int32_t frames = 0;
        double frameProgress = 0;  // of the frame being rendered, 0 to 1
    };
    Progress progress() const;

signals:
    void finished(const qm::gui::AnimationOutcome& outcome);

private:
    AnimationOutcome run();
    void setProgress(const Progress& p);

    Animation animation_;
    bool fixedExposure_;
    std::filesystem::path folder_;
    std::int32_t threads_;
    Gradientf speed_, angle_;
    RenderControl control_;
    mutable std::mutex progressMutex_;
    Progress progress_;
    std::thread worker_;
};

}  // namespace qm::gui

Q_DECLARE_METATYPE(qm::gui::AnimationOutcome)
