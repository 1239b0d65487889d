#include "gui/animation_render.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QMetaObject>

#include <cerrno>

#include "png/png_frames.h"

namespace qm::gui {

namespace {

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
    qRegisterMetaType<AnimationOutcome>("qm::gui::AnimationOutcome");
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

// Keeps the sequence's progress for the timer.
class AnimationRender::Observer final : public SequenceObserver {
public:
    explicit Observer(AnimationRender& owner) : owner_(owner) {}
    void started(const SequenceProgress& p) override { keep(p); }
    void finished(const SequenceProgress& p) override { keep(p); }

private:
    void keep(const SequenceProgress& p) {
        std::lock_guard lock(owner_.progressMutex_);
        owner_.progress_ = p;
    }
    AnimationRender& owner_;
};

AnimationRender::Progress AnimationRender::progress() const {
    std::lock_guard lock(progressMutex_);
    Progress p;
    static_cast<SequenceProgress&>(p) = progress_;
    p.frameProgress = control_.progress.load(std::memory_order_relaxed);
    return p;
}

AnimationOutcome AnimationRender::run() {
    SequenceSettings settings;
    settings.fixedExposure = fixedExposure_;
    settings.render.threads = threads_;
    settings.render.onThreadStart = lowerPriority;
    PngFrameFiles files([this](std::int32_t i) { return animationFrameFile(folder_, i); });
    Observer observer(*this);
    return renderFrameSequence(animation_, speed_, angle_, settings, files, observer, control_);
}

}  // namespace qm::gui
