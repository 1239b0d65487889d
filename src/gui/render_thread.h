// TRenderThread: runs one render of a document on a worker thread (and the render engine's
// helper threads), one priority step below normal. At each display update the worker develops the
// image and hands a copy of it to the interface thread (displayUpdate, a queued call) without
// waiting; while the worker runs, the interface thread touches neither the buffers nor the image.
// The document reads the outcome when the thread has finished.
#pragma once

#include <QImage>
#include <QThread>

#include <functional>

#include "core/render/render_engine.h"

namespace qm::gui {

class TRenderThread final : public QThread {
    Q_OBJECT
public:
    // displayUpdate runs on the thread of receiver with the image of each development.
    TRenderThread(Attractor& attractor, TBitmap3D& target, EngineSettings settings,
                  QObject* receiver, std::function<void(const QImage&)> displayUpdate);

    RenderControl& control() { return control_; }
    const RenderOutcome& outcome() const { return outcome_; }
    const EngineSettings& settings() const { return settings_; }
    // The threads the render uses (settings().threads, or the processors for 0).
    std::int32_t threads() const {
        return settings_.threads > 0 ? settings_.threads : defaultThreadCount();
    }

protected:
    void run() override;

private:
    class Sink;

    Attractor& attractor_;
    TBitmap3D& target_;
    EngineSettings settings_;
    QObject* receiver_;
    std::function<void(const QImage&)> displayUpdate_;
    RenderControl control_;
    RenderOutcome outcome_;
};

}  // namespace qm::gui
