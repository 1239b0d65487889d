// TRenderThread: runs one render of a document on a worker thread (and the render engine's
// helper threads), one priority step below normal. At each display update the worker develops the
// image and hands a copy of it to the interface thread (displayUpdate, a queued call) without
// waiting; while the worker runs, the interface thread touches neither the buffers nor the image.
// The document reads the outcome when the thread has finished.
//
// With an autosave file, the worker writes the render's state there between two rounds every
// so many seconds and once more when the render is stopped; it removes the file when the
// render ends by itself (done or diverged).
#pragma once

#include <QImage>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

#include "core/render/render_engine.h"
#include "core/render/state/render_state.h"

namespace qm::gui {

// Where and how often a render saves its state, and what the state starts from.
struct RenderAutosave {
    std::filesystem::path path;  // empty: no autosave
    double seconds = 0;          // between two autosaves; 0: only when stopped
    RenderState base;            // the scene and the render settings
    std::uint64_t developmentsBefore = 0;
};

class TRenderThread final : public QThread {
    Q_OBJECT
public:
    // displayUpdate runs on the thread of receiver with the image of each development.
    TRenderThread(Attractor& attractor, TBitmap3D& target, EngineSettings settings,
                  QObject* receiver, std::function<void(const QImage&)> displayUpdate);
    ~TRenderThread() override;

    // Saves the state as the render goes. Before start.
    void setAutosave(RenderAutosave autosave) { autosave_ = std::move(autosave); }
    // Continues this engine (made on the attractor and target) instead of a new render.
    void setResumedEngine(std::unique_ptr<RenderEngine> engine) { resumed_ = std::move(engine); }
    // Autosaves written so far; the last write's failure (errno, or -1), 0 when none failed.
    int autosaves() const { return autosaves_.load(); }
    int autosaveError() const { return autosaveError_.load(); }

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
    RenderAutosave autosave_;
    std::unique_ptr<RenderEngine> resumed_;
    std::atomic<int> autosaves_{0};
    std::atomic<int> autosaveError_{0};
};

}  // namespace qm::gui
