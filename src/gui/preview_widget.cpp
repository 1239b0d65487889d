#include "gui/preview_widget.h"

#include <QMessageBox>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QTimer>

#include <GL/gl.h>

#include "gui/image_frame.h"
#include "gui/texts.h"

namespace qm::gui {

QString glErrorMessage(std::uint16_t code) {
    switch (code) {
        case 0x500: return QStringLiteral("Invalid enum.");
        case 0x501: return QStringLiteral("Invalid value.");
        case 0x503: return QStringLiteral("Stack overflow.");
        case 0x504: return QStringLiteral("Stack underflow.");
        case 0x505: return QStringLiteral("Out of memory.");
        case kNoPixelFormat: return QStringLiteral("Failed to find acceptable pixel format.");
        case kSetPixelFormatFailed: return QStringLiteral("Failed to set pixel format.");
        case kCreateContextFailed: return QStringLiteral("Failed to create rendering context.");
        case kMakeCurrentFailed: return QStringLiteral("Unable to link rendering context.");
        case kReleaseContextFailed: return QStringLiteral("Unable to unlink rendering context.");
        case kDeleteContextFailed: return QStringLiteral("Unable to delete rendering context.");
        default: return {};
    }
}

void requestPreviewSurfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    QSurfaceFormat::setDefaultFormat(format);
}

PreviewWidget::PreviewWidget(QWidget* parent) : QOpenGLWidget(parent) {
    // The document handles the mouse; this widget only draws.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PreviewWidget::setFogColor(const ColorRGBf& color) {
    fogColor_ = color;
    if (!initialized_) return;
    makeCurrent();
    const GLfloat fog[4] = {fogColor_.r, fogColor_.g, fogColor_.b, 0.0f};
    glFogfv(GL_FOG_COLOR, fog);
    doneCurrent();
}

void PreviewWidget::setImageRect(const QRect& rect) {
    if (rect == imageRect_) return;
    imageRect_ = rect;
    update();
}

void PreviewWidget::initializeGL() {
    // Runs again when the widget gets a new context (a new top-level parent): the fixed state
    // belongs to the context.
    if (!context() || !context()->isValid()) {
        reportError(kCreateContextFailed);
        return;
    }
    glEnable(GL_DEPTH_TEST);
    glFogi(GL_FOG_MODE, GL_LINEAR);
    glFogf(GL_FOG_START, 4.5f);
    glFogf(GL_FOG_END, 5.5f);
    const GLfloat fog[4] = {fogColor_.r, fogColor_.g, fogColor_.b, 0.0f};
    glFogfv(GL_FOG_COLOR, fog);
    glEnable(GL_FOG);
    glEnableClientState(GL_VERTEX_ARRAY);
    initialized_ = true;
    collectGLErrors();
}

void PreviewWidget::paintGL() {
    const qreal ratio = devicePixelRatioF();
    const auto device = [ratio](int v) { return static_cast<GLint>(v * ratio); };
    glViewport(0, 0, device(width()), device(height()));
    const QRect image = imageRect_.isEmpty() ? rect() : imageRect_;
    const QRect shown = image.intersected(rect());
    if (shown != rect()) {
        glClearColor(static_cast<GLfloat>(kLetterboxColor.redF()),
                     static_cast<GLfloat>(kLetterboxColor.greenF()),
                     static_cast<GLfloat>(kLetterboxColor.blueF()), 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    // The image's own area, counted from the bottom as OpenGL does.
    glEnable(GL_SCISSOR_TEST);
    glScissor(device(shown.x()), device(height() - shown.y() - shown.height()),
              device(shown.width()), device(shown.height()));
    const ColorRGBf background = target_ ? target_->backgroundColor : ColorRGBf{0, 0, 0};
    glClearColor(background.r, background.g, background.b, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (target_ && !target_->previewPoints.empty() && !shown.isEmpty()) drawPoints(*target_, image);
    glDisable(GL_SCISSOR_TEST);
    collectGLErrors();
}

void PreviewWidget::drawPoints(const TBitmap3D& target, const QRect& image) {
    // The image's normalised coordinates mapped onto its rectangle in the widget: the
    // projection is the image's, whatever the widget's size, so the framing is the image's.
    const double w = width(), h = height();
    Mat4 place = Mat4::identity();
    place[0] = image.width() / w;
    place[5] = image.height() / h;
    place[12] = (2.0 * image.x() + image.width()) / w - 1;
    place[13] = 1 - (2.0 * image.y() + image.height()) / h;
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(place.m.data());
    glMultMatrixd(target.projectionMatrix.m.data());
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(target.viewMatrix.m.data());
    glColor3f(target.pointColor.r, target.pointColor.g, target.pointColor.b);
    // The ring is set again on every frame: a mode switch gives the widget another target.
    glVertexPointer(3, GL_DOUBLE, sizeof(Vecd), target.previewPoints.data());
    const auto count = static_cast<GLsizei>(target.previewPoints.size());
    glDrawArrays(GL_POINTS, 0, count);
    if (target.mirror) {
        // The mirror image of Julia sets: the view with its third column negated.
        Mat4 mirrored = target.viewMatrix;
        mirrored[8] = -mirrored[8];
        mirrored[9] = -mirrored[9];
        mirrored[10] = -mirrored[10];
        glPushMatrix();
        glLoadMatrixd(mirrored.m.data());
        glDrawArrays(GL_POINTS, 0, count);
        glPopMatrix();
    }
}

void PreviewWidget::collectGLErrors() {
    const std::size_t before = pendingErrors_.size();
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError()) {
        if (e == GL_INVALID_OPERATION) break;
        pendingErrors_.push_back(static_cast<std::uint16_t>(e));
        if (pendingErrors_.size() > 16) break;  // a context that fails on every call
    }
    if (before == 0 && !pendingErrors_.empty())
        QTimer::singleShot(0, this, &PreviewWidget::showPendingErrors);
}

void PreviewWidget::reportError(std::uint16_t code) {
    if (code == 0 || code == GL_INVALID_OPERATION) return;
    const bool wasEmpty = pendingErrors_.empty();
    pendingErrors_.push_back(code);
    if (initialized_ && context() && context()->isValid()) {
        makeCurrent();
        collectGLErrors();
        doneCurrent();
    }
    if (wasEmpty) QTimer::singleShot(0, this, &PreviewWidget::showPendingErrors);
}

void PreviewWidget::showPendingErrors() {
    std::vector<std::uint16_t> codes;
    codes.swap(pendingErrors_);
    for (const std::uint16_t code : codes)
        showMessage(this, QMessageBox::Critical, QStringLiteral("OpenGL application error"), glErrorMessage(code));
}

void PreviewContext::drawPreview(const TBitmap3D& target) {
    widget_.setTarget(&target);
    widget_.update();
}

}  // namespace qm::gui
