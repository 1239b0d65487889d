// Poster sizes in the desktop program: an image far larger than its window shows whole, scaled
// down, or at 100% with scroll bars; the preview keeps the image's framing; a mouse gesture on
// the scaled image does what it would do on the image; and a poster rendered in the program is
// byte for byte the one the command-line tool renders from the same scene.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include "core/math/cr_exp_log.h"
#include "core/render/bitmap3d.h"
#include "core/render/light.h"
#include "gui/image_frame.h"
#include "gui/image_widget.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/preview_widget.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"

using namespace qm;
using namespace qm::gui;

using namespace qm::gui::test;

class PosterTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void framesScaleDownCentreAndScroll();
    void gesturesOnAScaledImageActAsOnTheImage();
    void posterRendersAsTheToolRendersItsScene();

private:
    TForm_view* openExample(int mode, QSize size = {640, 480});
    void shoot(const QString& name) { test::shoot(main_.get(), name, 300); }
    void checkOnScreen(TForm_view* view);

    TestProgram program_;
    std::unique_ptr<TMDIform>& main_ = program_.main;
    QTemporaryDir folder_;
    QStringList& messages_ = program_.messages;
    QString& nextFileName_ = program_.nextFileName;
};

void PosterTest::initTestCase() {
    QVERIFY(folder_.isValid());
    program_.answer = 1;  // "Ne pas enregistrer"
    QVERIFY(program_.start({1000, 760}));
}

void PosterTest::cleanup() {
    for (QMdiSubWindow* window : main_->findChild<QMdiArea*>()->subWindowList()) window->close();
    QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
}

void PosterTest::cleanupTestCase() {
    program_.stop();
}

TForm_view* PosterTest::openExample(int mode, QSize size) {
    main_->defaults().mode = static_cast<std::uint8_t>(mode);
    main_->defaults().width = size.width();
    main_->defaults().height = size.height();
    if (main_->openFiles({QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr")}) != 1)
        return nullptr;
    return main_->activeDocument();
}

void PosterTest::checkOnScreen(TForm_view* view) {
    QMdiArea* area = main_->findChild<QMdiArea*>();
    const QRect window = documentWindow(view)->geometry();
    QVERIFY2(area->viewport()->rect().contains(window), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                       .arg(window.x())
                                                                       .arg(window.y())
                                                                       .arg(window.width())
                                                                       .arg(window.height())));
}

void PosterTest::framesScaleDownCentreAndScroll() {
    // A2 at 300 dpi in 800x600: the width decides; centred down.
    const QSize poster(7016, 4961);
    QCOMPARE(fitScale(poster, QSize(800, 600)), 800.0 / 7016);
    QCOMPARE(imageRectIn(poster, QSize(800, 600), false), QRect(0, 17, 800, 566));
    QCOMPARE(fitScale(QSize(400, 900), QSize(800, 600)), 600.0 / 900);
    // Never enlarged: a small image stays at 100%, centred.
    QCOMPARE(imageRectIn(QSize(320, 240), QSize(800, 600), false), QRect(240, 180, 320, 240));
    // At 100% the scroll offset moves the image, within its range only.
    QCOMPARE(imageRectIn(poster, QSize(800, 600), true, QPoint(100, 50)),
             QRect(QPoint(-100, -50), poster));
    QCOMPARE(imageRectIn(poster, QSize(800, 600), true, QPoint(99999, -5)),
             QRect(QPoint(800 - 7016, 0), poster));
    QCOMPARE(imageRectIn(QSize(400, 900), QSize(800, 600), true, QPoint(30, 0)).topLeft(),
             QPoint(200, 0));

    // A bar along one side can call for the other: 795 fits across until the vertical bar
    // (needed for 900 rows) takes 10 pixels.
    ScrollBars bars = scrollBarsFor(QSize(795, 900), QSize(800, 600), 10);
    QVERIFY(bars.vertical && bars.horizontal);
    bars = scrollBarsFor(QSize(780, 595), QSize(800, 600), 10);
    QVERIFY(!bars.vertical && !bars.horizontal);

    // The window asks for the image when it fits, else its shape scaled into the room; at
    // 100% for the room, with a bar's breadth for the side that fits.
    QCOMPARE(documentClientSize(QSize(320, 240), QSize(800, 600), false, 10), QSize(320, 240));
    QCOMPARE(documentClientSize(poster, QSize(800, 600), false, 10), QSize(800, 566));
    QCOMPARE(documentClientSize(QSize(1200, 300), QSize(800, 600), true, 10), QSize(800, 310));

    // Shrunk for display, each pixel the rounded mean of its box: 5 columns into 2 give boxes
    // of 3 and 2 (columns 0-2 and 3-4), 2 rows into 1.
    QImage image(5, 2, QImage::Format_BGR888);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            std::uint8_t* p = image.scanLine(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(10 * x + y);  // blue
            p[1] = x < 3 ? 255 : 0;
            p[2] = static_cast<std::uint8_t>(y * 101);
        }
    const QImage small = shrinkImage(image, QSize(2, 1));
    QCOMPARE(small.size(), QSize(2, 1));
    const std::uint8_t* p = small.constScanLine(0);
    // Blue: (0+10+20+1+11+21)/6 = 10.5 rounds to 11; (30+40+31+41)/4 = 35.5 to 36.
    QCOMPARE(std::vector<int>(p, p + 6), (std::vector<int>{11, 255, 51, 36, 0, 51}));
}

void PosterTest::gesturesOnAScaledImageActAsOnTheImage() {
    // A new document of that size opens within the frame, the image scaled down.
    TForm_view* view = openExample(0, QSize(2400, 1800));
    QVERIFY(view);
    checkOnScreen(view);
    const double s = view->displayScale();
    QVERIFY2(s < 0.5, qPrintable(QString::number(s)));
    view->adjustView(Adjust::Plain);
    TBitmap3D& target = *view->renderTarget();

    // A turn of 40 by 10 window pixels is a turn of 40/s by 10/s image pixels.
    std::unique_ptr<TBitmap3D> expected = CreateRenderTarget(target.mode, target);
    drag(view, QPoint(100, 100), QPoint(140, 90), Qt::NoModifier);
    expected->Rotate(40 / s, 10 / s);
    expected->SetView();
    QCOMPARE(target.viewMatrix, expected->viewMatrix);

    // Ctrl: 20 window pixels up zoom as 20/s image pixels do; 100 down are more than the 240
    // image pixels one step may take: the scale stays.
    const double scale = target.scale;
    drag(view, QPoint(50, 50), QPoint(50, 30), Qt::ControlModifier);
    QCOMPARE(target.scale, scale * crm::pow(1.01, -20 / s));
    const double zoomed = target.scale;
    drag(view, QPoint(50, 50), QPoint(50, 150), Qt::ControlModifier);
    QCOMPARE(target.scale, zoomed);

    // Shift: a pan across the shown image's width moves the view by one image width.
    const double panX = target.panX;
    const int across = static_cast<int>(std::lround(s * target.imageWidth / 4));
    drag(view, QPoint(10 + across, 40), QPoint(10, 40), Qt::ShiftModifier);
    QCOMPARE(target.panX, across / (s * target.imageWidth) / target.scale + panX);

    // A window of another shape shows the whole image, letterboxed, with the same gestures.
    documentWindow(view)->resize(900, 400);
    QTRY_VERIFY(view->height() < 400);
    const auto* preview = view->findChild<PreviewWidget*>();
    const QRect box = preview->imageRect();
    QCOMPARE(box.height(), view->height());
    QVERIFY(std::abs(box.width() - 2400.0 / 1800 * box.height()) <= 1);
    QVERIFY(std::abs(box.left() - (view->width() - box.right() - 1)) <= 1);
    QCOMPARE(view->displayScale(), static_cast<double>(view->height()) / 1800);
    shoot(QStringLiteral("letterboxed-preview"));

    // At 100% the same gestures are those of the image's own pixels.
    view->A_taille_reelle->trigger();
    shoot(QStringLiteral("actual-size-preview"));
    QCOMPARE(view->displayScale(), 1.0);
    expected = CreateRenderTarget(target.mode, target);
    drag(view, QPoint(100, 100), QPoint(140, 90), Qt::NoModifier);
    expected->Rotate(40, 10);
    expected->SetView();
    QCOMPARE(target.viewMatrix, expected->viewMatrix);
}

void PosterTest::posterRendersAsTheToolRendersItsScene() {
    TForm_view* view = openExample(2);  // Lumière
    QVERIFY(view);
    QVERIFY(view->setImageSize(7016, 4961));
    QCOMPARE(view->renderTarget()->imageWidth, 7016);
    QCOMPARE(view->renderTarget()->imageHeight, 4961);

    // The window stays within the frame, the image whole in it, the preview framed as the
    // image: its rectangle has the image's shape.
    checkOnScreen(view);
    const double s = view->displayScale();
    QVERIFY(s < 0.2);
    const auto* preview = view->findChild<PreviewWidget*>();
    QVERIFY(preview);
    const QRect shown = preview->imageRect();
    QVERIFY(view->rect().contains(shown));
    QVERIFY(std::abs(shown.width() - s * 7016) <= 1 && std::abs(shown.height() - s * 4961) <= 1);
    shoot(QStringLiteral("poster-preview-scaled"));

    view->setTotalIterations(400000);
    QVERIFY(renderToEnd(view, 300000));
    shoot(QStringLiteral("poster-rendered-scaled"));

    // "Taille réelle" (Ctrl+0) shows it at 100% with scroll bars, from its middle; and back.
    QVERIFY(pressKey(main_.get(), Qt::Key_0, Qt::ControlModifier));
    QVERIFY(view->actualSize() && view->A_taille_reelle->isChecked());
    QCOMPARE(view->displayScale(), 1.0);
    const QList<QScrollBar*> bars = view->findChildren<QScrollBar*>();
    QCOMPARE(bars.size(), 2);
    for (const QScrollBar* bar : bars) {
        QVERIFY(bar->isVisible());
        QVERIFY(bar->maximum() > 3000);
        QCOMPARE(bar->value(), bar->maximum() / 2);
    }
    QCOMPARE(preview->imageRect().size(), QSize(7016, 4961));
    shoot(QStringLiteral("poster-rendered-actual"));
    view->A_taille_reelle->trigger();
    QVERIFY(!view->actualSize());
    QCOMPARE(view->displayScale(), s);
    for (const QScrollBar* bar : bars) QVERIFY(!bar->isVisible());
    checkOnScreen(view);

    // The scene and the image the program writes; the tool renders the scene to the same file.
    nextFileName_ = folder_.filePath(QStringLiteral("poster.qmscene"));
    QVERIFY(view->saveScene(nextFileName_));
    const QString scene = nextFileName_;
    nextFileName_ = folder_.filePath(QStringLiteral("poster.bmp"));
    QVERIFY(main_->saveImageOf(view));
    const QString fromTool = folder_.filePath(QStringLiteral("tool.bmp"));
    std::string err;
    QCOMPARE(runTool({QStringLiteral("render"), scene, QStringLiteral("-o"), fromTool,
                      QStringLiteral("--quiet")},
                     &err),
             0);
    const QByteArray program = slurp(nextFileName_);
    QCOMPARE(program.size(), 54 + 3 * 7016 * 4961);
    QVERIFY(slurp(fromTool) == program);

    // The window shows the image's area average, made again when the image is developed anew.
    auto* shownImage = view->findChild<ImageWidget*>();
    QVERIFY(shownImage && shownImage->isVisible());
    QCOMPARE(shownImage->size(), view->size());
    const auto displayed = [&] {
        return shownImage->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(shown);
    };
    const auto expected = [&] {
        return shrinkImage(imageOf(*view->renderTarget()), shown.size())
            .convertToFormat(QImage::Format_RGB32);
    };
    const QImage before = displayed();
    QCOMPARE(before, expected());
    static_cast<TBitmap3D_Light*>(view->renderTarget())->luminosity *= 2;
    view->imageSettingsChanged();
    QCOMPARE(displayed(), expected());
    QVERIFY(displayed() != before);
}

QTEST_MAIN(PosterTest)
#include "poster_test.moc"
