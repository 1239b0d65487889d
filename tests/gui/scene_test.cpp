// Scenes in the desktop program, under a display: a picture made in a document (search,
// drag, zoom, mode, render) and saved as PNG reopens with the same framing and renders to
// the same file in the program and in the command-line tool, in every mode; scene files save
// and open; a wrong scene leaves the document as it was.
#include <QApplication>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <fstream>

#include "core/attractor/attractor.h"
#include "core/render/light.h"
#include "core/scene/scene_file.h"
#include "core/strings/string_table.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/preview_widget.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"
#include "png/png_image.h"

using namespace qm;
using namespace qm::gui;

using namespace qm::gui::test;

class SceneTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void pictureReopensAndRendersTheSameInProgramAndTool_data();
    void pictureReopensAndRendersTheSameInProgramAndTool();
    void sceneFileSavesWithCtrlSAndOpens();
    void wrongSceneKeepsTheDocument();
    void finishedRenderIsNotLostWithoutAsking();
    void closingAsksForUnsavedWork();

private:
    TForm_view* newDocument(int kind, int mode);
    void saveImage(const QString& name, const QString& filter = {});

    TestProgram program_;
    std::unique_ptr<TMDIform>& main_ = program_.main;
    QTemporaryDir folder_;
    QStringList& messages_ = program_.messages;
    QString& nextFileName_ = program_.nextFileName;
    QString& nextFilter_ = program_.nextFilter;
    QStringList& questions_ = program_.questions;
    QList<int>& answers_ = program_.answers;  // the next answers; none left: the last button
};

void SceneTest::initTestCase() {
    QVERIFY(folder_.isValid());
    QVERIFY(program_.start({900, 700}));
}

void SceneTest::cleanupTestCase() {
    program_.stop();
}

TForm_view* SceneTest::newDocument(int kind, int mode) {
    return program_.newDocument(kind, mode, {128, 96});
}

void SceneTest::saveImage(const QString& name, const QString& filter) {
    nextFileName_ = folder_.filePath(name);
    nextFilter_ = filter;
    main_->A_enreg_image_sous->trigger();
    QVERIFY2(QFile::exists(nextFileName_), qPrintable(messages_.join('\n')));
}

void SceneTest::pictureReopensAndRendersTheSameInProgramAndTool_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("mode");
    // Julia draws from the generator while it is sampled and is mirrored; IFS has its seed.
    QTest::addRow("Gaz") << 2 << 0;
    QTest::addRow("Liquide") << 1 << 1;
    QTest::addRow("Lumière") << 2 << 2;
    QTest::addRow("Plasma") << 1 << 3;
    QTest::addRow("Solide") << 2 << 4;
}

void SceneTest::pictureReopensAndRendersTheSameInProgramAndTool() {
    QFETCH(int, kind);
    QFETCH(int, mode);
    TForm_view* view = newDocument(kind, (mode + 1) % kRenderModeCount);
    QVERIFY(view);
    // A find, a drag, a zoom with the wheel, then the mode: the way a picture is made.
    QVERIFY(searchFound(view));
    drag(view, {40, 40}, {{60, 45}, {75, 30}});
    QWheelEvent wheel(QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
    view->setRenderMode(mode);
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(view->renderTarget())) {
        light->luminosity = 3.5;
        // A gradient of its own, as a colour map loads one; then the software preview, which
        // leaves its last colour behind.
        light->speedGradient.Clear();
        light->speedGradient.AddStop(0, {0.2f, 0.9f, 0.1f});
        light->speedGradient.AddStop(0.3, {1, 0, 0.5f});
        light->speedGradient.AddStop(1, {0.1f, 0.1f, 1});
        view->gradientChanged();
    }
    view->setTotalIterations(150001);
    QVERIFY(renderToEnd(view));
    saveImage(QStringLiteral("picture.png"));
    const QString picture = nextFileName_;
    const Mat4 framing = view->renderTarget()->combinedMatrix;
    const std::vector<std::uint8_t> bytes = view->renderTarget()->imageBytes();

    // The tool renders the image's scene to the same file.
    const QString fromTool = folder_.filePath(QStringLiteral("tool.png"));
    std::string err;
    QCOMPARE(runTool({QStringLiteral("render"), picture, QStringLiteral("-o"), fromTool,
                      QStringLiteral("--quiet")},
                     &err),
             0);
    QCOMPARE(slurp(fromTool), slurp(picture));

    // A second render of the same scene repeats the first, scene text included: the first
    // leaves nothing behind that the second would start from.
    QVERIFY(renderToEnd(view));
    QVERIFY(view->renderTarget()->imageBytes() == bytes);
    saveImage(QStringLiteral("second.png"));
    QCOMPARE(slurp(nextFileName_), slurp(picture));

    // The program opens the image into another document: same framing, no fit, same render.
    TForm_view* reopened = newDocument(0, 0);
    QVERIFY(reopened);
    nextFileName_ = picture;
    main_->A_ouvrir->trigger();
    QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
    QCOMPARE(reopened->renderTarget()->mode, static_cast<std::uint8_t>(mode));
    QCOMPARE(reopened->renderTarget()->combinedMatrix, framing);
    QCOMPARE(reopened->state(), kStatePreview);
    QCOMPARE(reopened->size(), view->size());
    QVERIFY(renderToEnd(reopened));
    QVERIFY(reopened->renderTarget()->imageBytes() == bytes);
    saveImage(QStringLiteral("again.png"));
    QCOMPARE(slurp(nextFileName_), slurp(picture));

    // 16 bits a channel, reduced, within one step of the bytes.
    saveImage(QStringLiteral("deep.png"), dialogFilter(TextId::kPng16Filter));
    const QImage deep(nextFileName_), shallow(picture);
    QCOMPARE(deep.depth(), 64);
    int worst = 0;
    for (int y = 0; y < deep.height(); ++y)
        for (int x = 0; x < deep.width(); ++x) {
            const QRgba64 d = deep.pixelColor(x, y).rgba64();
            const QRgb s = shallow.pixel(x, y);
            worst = std::max({worst, std::abs((d.red() + 128) / 257 - qRed(s)),
                              std::abs((d.green() + 128) / 257 - qGreen(s)),
                              std::abs((d.blue() + 128) / 257 - qBlue(s))});
        }
    QVERIFY2(worst <= 1, qPrintable(QString::number(worst)));

    for (QMdiSubWindow* window : main_->findChild<QMdiArea*>()->subWindowList()) window->close();
}

void SceneTest::sceneFileSavesWithCtrlSAndOpens() {
    TForm_view* view = newDocument(3, 2);  // Lorenz, Lumière
    QVERIFY(searchFound(view));
    view->renderTarget()->scale *= 0.8;
    view->scaleChanged();
    const std::string expected = sceneText(*view->attractor(), view->scene());

    // Ctrl+S asks for a name; without an extension ".qmscene" is added.
    nextFileName_ = folder_.filePath(QStringLiteral("framed"));
    main_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main_.get()));
    QTest::keyClick(main_.get(), Qt::Key_S, Qt::ControlModifier);
    const QString saved = nextFileName_ + QStringLiteral(".qmscene");
    QVERIFY2(QFile::exists(saved), qPrintable(messages_.join('\n')));
    QCOMPARE(slurp(saved).toStdString(), expected);
    nextFileName_ = folder_.filePath(QStringLiteral("framed.txt"));
    main_->A_enreg_scene_sous->trigger();
    QCOMPARE(messages_.size(), 1);
    messages_.clear();

    // From the command line, in a document of its own.
    QCOMPARE(main_->openFiles({saved}), 1);
    TForm_view* opened = main_->activeDocument();
    QVERIFY(opened != view);
    QCOMPARE(sceneText(*opened->attractor(), opened->scene()), expected);
    QCOMPARE(opened->renderTarget()->combinedMatrix, view->renderTarget()->combinedMatrix);
    for (QMdiSubWindow* window : main_->findChild<QMdiArea*>()->subWindowList()) window->close();
}

void SceneTest::wrongSceneKeepsTheDocument() {
    TForm_view* view = newDocument(3, 0);
    QVERIFY(searchFound(view));
    const Attractor* attractor = view->attractor();
    const TBitmap3D* target = view->renderTarget();
    const QString wrong = folder_.filePath(QStringLiteral("wrong.qmscene"));
    std::ofstream(wrong.toStdString())
        << "attractor {\n\ttype lorenz\n\tparameters <10, 28, 2.667, 0.01>\n}\n"
           "render {\n\tmode light\n\tscale -2\n}\n";
    nextFileName_ = wrong;
    main_->A_ouvrir->trigger();
    QCOMPARE(messages_.size(), 1);
    QVERIFY2(messages_.first().contains(QStringLiteral("Ligne 7")), qPrintable(messages_.first()));
    messages_.clear();
    QCOMPARE(view->attractor(), attractor);
    QCOMPARE(view->renderTarget(), target);
    QCOMPARE(view->state(), kStateRendered);

    // A size beyond the limits: no new document.
    std::ofstream(wrong.toStdString())
        << "attractor {\n\ttype lorenz\n\tparameters <10, 28, 2.667, 0.01>\n}\n"
           "render {\n\twidth 20000\n}\n";
    const int documents = main_->openDocumentCount();
    QCOMPARE(main_->openFiles({wrong}), 0);
    QCOMPARE(main_->openDocumentCount(), documents);
    QCOMPARE(messages_.size(), 1);
    messages_.clear();

    // An image without a scene.
    const QString plain = folder_.filePath(QStringLiteral("plain.png"));
    QImage(16, 16, QImage::Format_RGB32).save(plain);
    nextFileName_ = plain;
    main_->A_ouvrir->trigger();
    QCOMPARE(messages_.size(), 1);
    QVERIFY(messages_.first().contains(qtext(TextId::kReasonNoScene)));
    messages_.clear();
    QCOMPARE(view->attractor(), attractor);
}

// Mode, size, parameters, search and colour maps ask before they replace a finished render
// that was not saved; declined, everything stays as the render had it.
void SceneTest::finishedRenderIsNotLostWithoutAsking() {
    TForm_view* view = newDocument(3, 2);  // Lorenz, Lumière
    QVERIFY(searchFound(view));
    view->setTotalIterations(30001);
    QVERIFY(renderToEnd(view));
    questions_.clear();

    answers_ = {1};  // Annuler
    view->setRenderMode(0);
    QCOMPARE(questions_, QStringList{qtext(TextId::kRenderWillBeLost)});
    QCOMPARE(view->renderTarget()->mode, std::uint8_t{2});
    QCOMPARE(view->state(), kStateRendered);

    answers_ = {1};
    QVERIFY(!view->setImageSize(200, 100));
    QCOMPARE(view->renderTarget()->imageWidth, 128);

    const double before = view->attractor()->params()[0].get();
    view->attractor()->params()[0].set(before + 1);
    answers_ = {1};
    view->attractorParameterChanged();
    QCOMPARE(view->attractor()->params()[0].get(), before);
    QCOMPARE(view->state(), kStateRendered);

    auto* light = dynamic_cast<TBitmap3D_Light*>(view->renderTarget());
    const Gradientf gradient = light->speedGradient;
    light->speedGradient.Clear();
    answers_ = {1};
    view->gradientChanged();
    QVERIFY(light->speedGradient == gradient);

    answers_ = {1};
    view->A_rechercher->trigger();
    QCOMPARE(view->attractor()->params()[0].get(), before);
    QCOMPARE(questions_.size(), 5);

    // Once the image is saved nothing is asked; the render then goes.
    saveImage(QStringLiteral("kept.png"));
    questions_.clear();
    view->setRenderMode(0);
    QVERIFY(questions_.isEmpty());
    QCOMPARE(view->renderTarget()->mode, std::uint8_t{0});

    // Answered "Continuer", the edit goes through.
    QVERIFY(renderToEnd(view));
    answers_ = {0};
    view->setRenderMode(4);
    QCOMPARE(questions_.size(), 1);
    QCOMPARE(view->renderTarget()->mode, std::uint8_t{4});
    QCOMPARE(view->state(), kStatePreview);
    questions_.clear();
    answers_ = {1};  // "Ne pas enregistrer" at the close
    QVERIFY(documentWindow(view)->close());
}

// Closing a document, or quitting, with a render or a scene that were never saved asks
// "Enregistrer..." / "Ne pas enregistrer" / "Annuler".
void SceneTest::closingAsksForUnsavedWork() {
    questions_.clear();
    TForm_view* untouched = newDocument(3, 0);
    QVERIFY(documentWindow(untouched)->close());
    QVERIFY(questions_.isEmpty());

    TForm_view* view = newDocument(3, 0);
    QVERIFY(searchFound(view));
    QMdiSubWindow* window = documentWindow(view);
    answers_ = {2};  // Annuler
    QVERIFY(!window->close());
    QCOMPARE(questions_,
             QStringList{fillText(qtext(TextId::kUnsavedScene), {view->documentName()})});

    // "Enregistrer..." with a file name: the scene is written and the document closes.
    questions_.clear();
    nextFileName_ = folder_.filePath(QStringLiteral("closing.qmscene"));
    answers_ = {0};
    QVERIFY(window->close());
    QVERIFY(QFile::exists(nextFileName_));
    QCOMPARE(questions_.size(), 1);

    // A render never saved asks for the image; a cancelled file dialog keeps the document.
    TForm_view* rendered = newDocument(3, 0);
    QVERIFY(searchFound(rendered));
    rendered->setTotalIterations(20001);
    QVERIFY(renderToEnd(rendered));
    questions_.clear();
    nextFileName_.clear();
    answers_ = {0};
    QVERIFY(!documentWindow(rendered)->close());
    QCOMPARE(questions_,
             QStringList{fillText(qtext(TextId::kUnsavedRender), {rendered->documentName()})});

    // Quitting asks document by document and stops at the first one kept.
    TForm_view* other = newDocument(3, 0);
    QVERIFY(searchFound(other));
    questions_.clear();
    const int open = main_->openDocumentCount();
    answers_ = {2};
    QVERIFY(!main_->close());
    QCOMPARE(questions_.size(), 1);
    QCOMPARE(main_->openDocumentCount(), open);
    answers_ = {1, 1, 1, 1};  // "Ne pas enregistrer" for every one
    for (QMdiSubWindow* w : main_->findChild<QMdiArea*>()->subWindowList()) QVERIFY(w->close());
    QCOMPARE(main_->openDocumentCount(), 0);
}

int main(int argc, char** argv) {
    qm::gui::requestPreviewSurfaceFormat();
    QApplication app(argc, argv);
    SceneTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "scene_test.moc"
