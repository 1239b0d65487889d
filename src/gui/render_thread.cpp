#include "gui/render_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QMetaObject>

namespace qm::gui {

class TRenderThread::Sink final : public RenderSink {
public:
    explicit Sink(TRenderThread& thread) : thread_(thread) {}
    void develop() override {
        QMetaObject::invokeMethod(thread_.receiver_, thread_.displayUpdate_, Qt::BlockingQueuedConnection);
    }

private:
    TRenderThread& thread_;
};

TRenderThread::TRenderThread(Attractor& attractor, TBitmap3D& target, RenderSettings settings,
                             QObject* receiver, std::function<void()> displayUpdate)
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
