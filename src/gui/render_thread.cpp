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
            thread_.receiver_, [update = thread_.displayUpdate_, image = std::move(image)] { update(image); },
            Qt::QueuedConnection);
    }

private:
    TRenderThread& thread_;
};

TRenderThread::TRenderThread(Attractor& attractor, TBitmap3D& target, RenderSettings settings,
                             QObject* receiver, std::function<void(const QImage&)> displayUpdate)
    : attractor_(attractor),
      target_(target),
      settings_(settings),
      receiver_(receiver),
      displayUpdate_(std::move(displayUpdate)) {}

void TRenderThread::run() {
    // QThread priorities do nothing on Linux: one nice step below the process, for this
    // thread alone, keeps the interface ahead of the render.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    const int current = ::getpriority(PRIO_PROCESS, tid);
    ::setpriority(PRIO_PROCESS, tid, current + 5 > 19 ? 19 : current + 5);
    Sink sink(*this);
    outcome_ = runRender(attractor_, target_, settings_, sink, control_);
}

}  // namespace qm::gui
