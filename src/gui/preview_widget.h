// The live preview of a document: an OpenGL 1.1 point cloud of the render target's 20,000
// preview points, with linear fog for depth, drawn with the target's camera matrices.
// PreviewContext is the render target's drawing context on this widget.
#pragma once

#include <QOpenGLWidget>

#include <cstdint>
#include <vector>

#include "core/render/bitmap3d.h"

namespace qm::gui {

// Error codes of the drawing context beyond OpenGL's own, and their fixed messages.
enum GLContextError : std::uint16_t {
    kNoPixelFormat = 0x580,
    kSetPixelFormatFailed = 0x581,
    kCreateContextFailed = 0x582,
    kMakeCurrentFailed = 0x583,
    kReleaseContextFailed = 0x584,
    kDeleteContextFailed = 0x585,
};
QString glErrorMessage(std::uint16_t code);

// Asks for the contexts the preview needs (fixed-function OpenGL: a compatibility profile,
// double buffered, with a depth buffer). Call before the QApplication is made.
void requestPreviewSurfaceFormat();

class PreviewWidget final : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget* parent = nullptr);

    // The target whose points and camera are drawn; none draws only the background.
    void setTarget(const TBitmap3D* target) { target_ = target; }
    const TBitmap3D* target() const { return target_; }
    // Blend of background and point colours at which points vanish into the distance.
    void setFogColor(const ColorRGBf& color);
    // Where the image lies in this widget (none: the whole widget). The points are drawn with
    // the image's projection into that rectangle, so the preview frames what the image shows;
    // the rest of the widget is letterbox.
    void setImageRect(const QRect& rect);
    const QRect& imageRect() const { return imageRect_; }

    // Shows a box for code and then for every error OpenGL has queued, one each, stopping at
    // the first invalid-operation code. The boxes open once the current paint is over.
    void reportError(std::uint16_t code);

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void drawPoints(const TBitmap3D& target, const QRect& image);
    void collectGLErrors();
    void showPendingErrors();

    const TBitmap3D* target_ = nullptr;
    QRect imageRect_;
    ColorRGBf fogColor_{0.25f, 0.25f, 0.25f};
    bool initialized_ = false;
    std::vector<std::uint16_t> pendingErrors_;
};

// The render target's drawing context: the GL state lives in the widget and is applied on
// every frame from the target's colours and matrices, so these calls only ask for a frame.
class PreviewContext final : public DrawingContext {
public:
    explicit PreviewContext(PreviewWidget& widget) : widget_(widget) {}
    void makeCurrent() override {}
    void setClearColor(const ColorRGBf&) override {}
    void setPointColor(const ColorRGBf&) override {}
    void setViewport(int, int, int, int) override {}
    void drawPreview(const TBitmap3D& target) override;

private:
    PreviewWidget& widget_;
};

}  // namespace qm::gui
