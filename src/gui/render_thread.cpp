#include "gui/render_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QMetaObject>

#include "gui/image_widget.h"

namespace qm::gui {

class TRenderThread::Sink final : public RenderSink {
public:
    explicit Sink(TRenderThread& thread) : thread_(thread) {}
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
    }

private:
    TRenderThread& thread_;
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

void TRenderThread::run() {
    lowerThreadPriority();
    Sink sink(*this);
    EngineSettings settings = settings_;
    settings.onThreadStart = lowerThreadPriority;
    // The engine copies the attractor: its streams never touch the document's orbit.
    RenderEngine engine(attractor_, target_, settings);
    outcome_ = engine.run(sink, control_);
    // The document hears of a divergence as it did when the worker iterated its attractor.
    if (outcome_.diverged) attractor_.diverge();
}

}  // namespace qm::gui
