// TRenderThread: runs one render of a document on a worker thread, one priority step below
// normal. The image is developed on the interface thread through a blocking call while the
// worker waits; the document reads the outcome when the thread has finished.
#pragma once

#include <QThread>

#include <functional>

#include "core/render/render_loop.h"

namespace qm::gui {

class TRenderThread final : public QThread {
    Q_OBJECT
public:
    // displayUpdate runs on the thread of receiver, the worker waiting meanwhile.
    TRenderThread(Attractor& attractor, TBitmap3D& target, RenderSettings settings,
                  QObject* receiver, std::function<void()> displayUpdate);

    RenderControl& control() { return control_; }
    const RenderOutcome& outcome() const { return outcome_; }
    const RenderSettings& settings() const { return settings_; }

protected:
    void run() override;

private:
    class Sink;

    Attractor& attractor_;
    TBitmap3D& target_;
    RenderSettings settings_;
    QObject* receiver_;
    std::function<void()> displayUpdate_;
    RenderControl control_;
    RenderOutcome outcome_;
};

}  // namespace qm::gui
