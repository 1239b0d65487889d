#include "gui/render_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QMetaObject>

#include <cerrno>
#include <chrono>
#include <system_error>

#include "core/render/state/render_resume.h"
#include "core/render/state/render_state_file.h"
#include "gui/image_widget.h"

namespace qm::gui {

class TRenderThread::Sink final : public RenderSink {
public:
    using Clock = std::chrono::steady_clock;

    Sink(TRenderThread& thread, const RenderEngine& engine) : thread_(thread), engine_(engine) {
        developments = thread.autosave_.developmentsBefore;
        scheduleAutosave();
    }
    // The image is developed here, by the thread that fills the buffers, and a copy of it goes
    // to the interface thread, which shows it while the worker goes on. Nothing waits: the
    // worker never stops for the display (a wait and a wake-up per update cost far more than
    // the development on a machine whose idle processors sleep), and the interface thread
    // never reads what the worker writes.
    void develop() override {
        thread_.target_.BuildImage();
        QImage image = imageOf(thread_.target_).copy();
        QMetaObject::invokeMethod(
            thread_.receiver_,
            [update = thread_.displayUpdate_, image = std::move(image)] { update(image); },
            Qt::QueuedConnection);
        ++developments;
    }

    // Every stream waits here: the buffers and the streams agree, and the state may borrow
    // the buffers for the time of the write.
    void betweenRounds() override {
        if (thread_.autosave_.path.empty() || thread_.autosave_.seconds <= 0 || Clock::now() < due_)
            return;
        save();
        // Counted from the end of the write: a slow disk never writes back to back.
        scheduleAutosave();
    }

    void save() {
        const RenderAutosave& autosave = thread_.autosave_;
        RenderState state = autosave.base;
        state.borrowBuffers = true;
        captureRender(thread_.target_, engine_, developments, state);
        std::error_code ignored;
        std::filesystem::create_directories(autosave.path.parent_path(), ignored);
        const WriteResult written = writeRenderState(autosave.path, state);
        thread_.autosaveError_.store(
            written ? 0 : (written.systemError != 0 ? written.systemError : -1));
        if (written) ++thread_.autosaves_;
    }

    std::uint64_t developments = 0;

private:
    void scheduleAutosave() {
        due_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(thread_.autosave_.seconds));
    }

    TRenderThread& thread_;
    const RenderEngine& engine_;
    Clock::time_point due_;
};

namespace {

// QThread priorities do nothing on Linux: one nice step below the process, for the calling
// thread alone, keeps the interface ahead of the render.
void lowerThreadPriority() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    const int current = ::getpriority(PRIO_PROCESS, tid);
    ::setpriority(PRIO_PROCESS, tid, current + 5 > 19 ? 19 : current + 5);
}

}  // namespace

TRenderThread::TRenderThread(Attractor& attractor, TBitmap3D& target, EngineSettings settings,
                             QObject* receiver, std::function<void(const QImage&)> displayUpdate)
    : attractor_(attractor),
      target_(target),
      settings_(settings),
      receiver_(receiver),
      displayUpdate_(std::move(displayUpdate)) {}

TRenderThread::~TRenderThread() = default;

void TRenderThread::run() {
    lowerThreadPriority();
    std::unique_ptr<RenderEngine> engine = std::move(resumed_);
    if (engine) {
        // A resumed render's helpers yield to the interface as a new render's do.
        engine->setThreadStart(lowerThreadPriority);
    } else {
        EngineSettings settings = settings_;
        settings.onThreadStart = lowerThreadPriority;
        // The engine copies the attractor: its streams never touch the document's orbit.
        engine = std::make_unique<RenderEngine>(attractor_, target_, settings);
    }
    Sink sink(*this, *engine);
    outcome_ = engine->run(sink, control_);
    if (!autosave_.path.empty()) {
        // Stopped: the state of the last round, to go on with after a crash. Ended by itself:
        // nothing is left to resume.
        if (outcome_.stopped && !outcome_.diverged &&
            outcome_.counter < settings_.totalIterations) {
            sink.save();
        } else {
            std::error_code ignored;
            std::filesystem::remove(autosave_.path, ignored);
        }
    }
    // The document hears of a divergence as it did when the worker iterated its attractor.
    if (outcome_.diverged) attractor_.diverge();
}

}  // namespace qm::gui
