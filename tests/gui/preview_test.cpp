// The OpenGL preview under a display: the point cloud drawn with the target's camera and fog,
// the mirror image of Julia sets, and the drawing-context error boxes.
#include <QApplication>
#include <QTest>

#include "core/render/bitmap3d.h"
#include "gui/preview_widget.h"
#include "gui/texts.h"

using namespace qm;
using namespace qm::gui;

namespace {

struct Lit {
    int count = 0;
    QPoint first;
    int grey = 0;
};

Lit litPixels(const QImage& image) {
    Lit lit;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QRgb p = image.pixel(x, y); qRed(p) | qGreen(p) | qBlue(p)) {
                if (lit.count++ == 0) {
                    lit.first = {x, y};
                    lit.grey = qGreen(p);
                }
            }
    return lit;
}

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void freshRingIsOnePointAtTheCentreHalfInTheFog();
    void panMovesThePoint();
    void mirrorDrawsTheCloudTwice();
    void errorReportsShowOneBoxPerCode();

private:
    QImage frame();

    std::unique_ptr<PreviewWidget> widget_;
    std::unique_ptr<TBitmap3D> target_;
    QStringList messages_;
};

void PreviewTest::init() {
    widget_ = std::make_unique<PreviewWidget>();
    widget_->setFixedSize(160, 120);
    target_ = CreateRenderTarget(0);
    target_->setDrawingContext(std::make_unique<PreviewContext>(*widget_));
    target_->SetWidth(160);
    target_->SetHeight(120);
    target_->SetEye({0, 0, -5});
    target_->SetTarget({0, 0, 0});
    widget_->setTarget(target_.get());
    widget_->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget_.get()));
    messages_.clear();
    setMessageHook([this](QMessageBox::Icon, const QString& caption, const QString& text) {
        messages_ << caption + QLatin1Char('|') + text;
        return true;
    });
}

void PreviewTest::cleanup() {
    setMessageHook({});
    widget_.reset();
    target_.reset();
}

QImage PreviewTest::frame() {
    target_->DrawPreview();
    return widget_->grabFramebuffer();
}

void PreviewTest::freshRingIsOnePointAtTheCentreHalfInTheFog() {
    const Lit lit = litPixels(frame());
    QCOMPARE(lit.count, 1);
    QVERIFY(qAbs(lit.first.x() - 80) <= 1 && qAbs(lit.first.y() - 60) <= 1);
    // 5 units away, half-way through the fog from 4.5 to 5.5: white blended with the fog
    // colour (a quarter of white over black) half and half.
    QVERIFY2(qAbs(lit.grey - 159) <= 3, qPrintable(QString::number(lit.grey)));
    QVERIFY(messages_.isEmpty());
}

void PreviewTest::panMovesThePoint() {
    const QPoint centre = litPixels(frame()).first;
    target_->panY = 0.1;
    const Lit moved = litPixels(frame());
    QCOMPARE(moved.count, 1);
    QCOMPARE(moved.first.x(), centre.x());
    QVERIFY(moved.first.y() != centre.y());
}

void PreviewTest::mirrorDrawsTheCloudTwice() {
    std::fill(target_->previewPoints.begin(), target_->previewPoints.end(), Vecd{0.1, 0.1, 0.3});
    target_->Rotate(80, 0);  // a turn about the vertical axis, so that depth shows sideways
    QCOMPARE(litPixels(frame()).count, 1);
    target_->mirror = true;
    QCOMPARE(litPixels(frame()).count, 2);
}

void PreviewTest::errorReportsShowOneBoxPerCode() {
    widget_->reportError(kNoPixelFormat);
    QTest::qWait(20);
    QCOMPARE(messages_, QStringList{"OpenGL application error|Failed to find acceptable pixel format."});
    messages_.clear();
    widget_->reportError(0x5FF);  // unknown codes have no text
    QTest::qWait(20);
    QCOMPARE(messages_, QStringList{"OpenGL application error|"});
    messages_.clear();
    widget_->reportError(0x502);  // invalid operation is never shown
    QTest::qWait(20);
    QVERIFY(messages_.isEmpty());
}

int main(int argc, char** argv) {
    qm::gui::requestPreviewSurfaceFormat();
    QApplication app(argc, argv);
    PreviewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "preview_test.moc"
