// Undo, redo and the history window under a display, through the real shortcuts: every kind
// of edit comes back exactly (parameters, camera, settings and the preview points, bit for
// bit), a new step drops what could be redone, one gesture is one step, a typed value that
// diverges goes back with one Ctrl+Z, and nothing is undone while the document renders.
// With QM_SCREENSHOTS=folder set, the "Edition" menu and the history window are saved as PNG.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <cstring>

#include "core/attractor/attractor.h"
#include "core/attractor/random31.h"
#include "core/render/light.h"
#include "core/scene/scene_file.h"
#include "core/strings/string_table.h"
#include "gui/attpal.h"
#include "gui/bmppal.h"
#include "gui/history_window.h"
#include "gui/main_window.h"
#include "gui/palette_window.h"
#include "gui/property_palette.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"

using namespace qm;
using namespace qm::gui;
using namespace qm::gui::test;

namespace {

// What undo must give back exactly: the scene (its text holds every number in a form that
// reads back bit for bit), and, compared as bytes, the parameters, the view matrix and the
// preview points.
struct Picture {
    std::string scene;
    std::vector<double> params;
    Mat4 view;
    std::vector<Vecd> preview;
    std::uint8_t state = 0;
};

Picture pictureOf(const TForm_view* v) {
    Picture p;
    p.scene = sceneText(*v->attractor(), v->scene());
    for (const ParamEntry& e : v->attractor()->params()) p.params.push_back(e.get());
    p.view = v->renderTarget()->combinedMatrix;
    p.preview = v->renderTarget()->previewPoints;
    p.state = v->state();
    return p;
}

template <class T>
bool sameBytes(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// The state is compared by the caller; a new document has no preview points yet to compare.
bool samePicture(const Picture& a, const Picture& b) {
    return a.scene == b.scene && sameBytes(a.params, b.params) &&
           std::memcmp(a.view.m.data(), b.view.m.data(), sizeof(a.view.m)) == 0 &&
           (a.state == kStateNew || b.state == kStateNew || sameBytes(a.preview, b.preview));
}

}  // namespace

class HistoryTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void searchesAndGesturesComeBackExactly();
    void everyKindOfEditIsOneNamedStep();
    void typedDivergingValueGoesBackWithOneUndo();
    void historyWindowListsJumpsAndFollowsTheDocument();
    void nothingIsUndoneWhileTheDocumentRenders();
    void fixedExposureShowsAndClearingItIsAStep();

private:
    TForm_view* newDocument(int kind, int mode);
    void search(TForm_view* view, std::uint32_t seed);
    void key(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QVERIFY(pressKey(window, key, modifiers));
    }
    void undoKey() { key(main_.get(), Qt::Key_Z, Qt::ControlModifier); }
    void redoKey() { key(main_.get(), Qt::Key_Y, Qt::ControlModifier); }
    void drag(TForm_view* view, Qt::KeyboardModifiers modifiers);
    void wheel(TForm_view* view, int delta);
    PaletteWindows& palettes() const { return static_cast<PaletteWindows&>(main_->palettes()); }

    TestProgram program_;
    std::unique_ptr<TMDIform>& main_ = program_.main;
    QStringList& messages_ = program_.messages;
    QStringList& questions_ = program_.questions;
    QList<int>& answers_ = program_.answers;  // the next answers; none left: the last button
    QString screenshots_;
};

void HistoryTest::initTestCase() {
    screenshots_ = qEnvironmentVariable("QM_SCREENSHOTS");
    QVERIFY(program_.start({900, 700}, nullptr, true));
}

void HistoryTest::cleanupTestCase() {
    program_.stop();
}

void HistoryTest::cleanup() {
    QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
    answers_ = {1};  // a document that asks keeps nothing
    for (QMdiSubWindow* window : main_->findChild<QMdiArea*>()->subWindowList()) window->close();
    answers_.clear();
    questions_.clear();
}

TForm_view* HistoryTest::newDocument(int kind, int mode) {
    return program_.newDocument(kind, mode, {160, 120});
}

void HistoryTest::search(TForm_view* view, std::uint32_t seed) {
    QVERIFY(searchFound(view, seed));
}

void HistoryTest::drag(TForm_view* view, Qt::KeyboardModifiers modifiers) {
    // Every move is an event of its own; the drag is still one step.
    std::vector<QPoint> moves;
    for (int i = 1; i <= 5; ++i) moves.emplace_back(40 + 7 * i, 40 + 3 * i);
    test::drag(view, {40, 40}, moves, modifiers);
}

void HistoryTest::wheel(TForm_view* view, int delta) {
    QWheelEvent event(QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &event);
}

// "Ctrl+Z after a search brings back the previous find": an IFS, whose chaos-game seed and
// preview the scene records, two seeded finds, a drag and a wheel burst; then back and
// forth with Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y.
void HistoryTest::searchesAndGesturesComeBackExactly() {
    TForm_view* view = newDocument(1, 2);  // IFS, Lumière
    QVERIFY(view);
    QVERIFY(!main_->A_annuler->isEnabled());
    QCOMPARE(main_->A_annuler->text(), qtext(TextId::kActionUndo));

    std::vector<Picture> pictures{pictureOf(view)};
    search(view, 1234);
    pictures.push_back(pictureOf(view));
    QCOMPARE(main_->A_annuler->text(), QStringLiteral("Annuler Recherche"));
    search(view, 98765);
    pictures.push_back(pictureOf(view));
    QVERIFY(pictures[2].scene != pictures[1].scene);
    drag(view, Qt::NoModifier);
    pictures.push_back(pictureOf(view));
    QCOMPARE(main_->A_annuler->text(), QStringLiteral("Annuler Rotation"));
    for (int i = 0; i < 4; ++i) wheel(view, i == 2 ? -120 : 120);
    pictures.push_back(pictureOf(view));
    QCOMPARE(main_->A_annuler->text(), QStringLiteral("Annuler Zoom"));
    drag(view, Qt::ShiftModifier);
    pictures.push_back(pictureOf(view));
    QCOMPARE(main_->A_annuler->text(), QStringLiteral("Annuler Déplacement"));
    QCOMPARE(view->history().size(), pictures.size());
    // Redrawing the preview at every move made no widgets.
    QCOMPARE(view->findChildren<QLabel*>(QStringLiteral("hint")).size(), 1);

    // Back to the first find, step by step: the preview shows, never a rendered image.
    for (std::size_t at = pictures.size() - 1; at-- > 1;) {
        undoKey();
        QCOMPARE(view->history().position(), at);
        QVERIFY2(samePicture(pictureOf(view), pictures[at]), qPrintable(QString::number(at)));
        QCOMPARE(view->state(), kStatePreview);
    }
    QCOMPARE(main_->A_retablir->text(), QStringLiteral("Rétablir Recherche"));
    // Both redo shortcuts.
    key(main_.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(samePicture(pictureOf(view), pictures[2]));
    redoKey();
    QVERIFY(samePicture(pictureOf(view), pictures[3]));

    // A find is rendered again from the restored state exactly as before.
    undoKey();
    const Picture secondFind = pictureOf(view);
    view->A_ajuster->trigger();
    undoKey();
    QVERIFY(samePicture(pictureOf(view), secondFind));

    // A new step drops what could have been redone.
    QVERIFY(main_->A_retablir->isEnabled());
    drag(view, Qt::ControlModifier);
    QVERIFY(!main_->A_retablir->isEnabled());
    QCOMPARE(view->history().size(), std::size_t{4});
    QCOMPARE(view->history().undoStep(), HistoryStep::Zoom);
    undoKey();
    QVERIFY(samePicture(pictureOf(view), pictures[2]));
}

// Each edit is one step named in the menu, and undoing them all in turn, then redoing them,
// walks the same states back and forth.
void HistoryTest::everyKindOfEditIsOneNamedStep() {
    TForm_view* view = newDocument(3, 0);  // Lorenz, Gaz
    QVERIFY(view);
    TForm_attpal& att = palettes().attractorPalette();
    TForm_bmppal& bmp = palettes().renderPalette();
    std::vector<Picture> pictures{pictureOf(view)};
    QStringList names;
    const auto step = [&](const char* name) {
        pictures.push_back(pictureOf(view));
        names << QString::fromUtf8(name);
        QCOMPARE(main_->A_annuler->text(), QStringLiteral("Annuler ") + names.last());
        QCOMPARE(view->history().size(), pictures.size());
    };

    search(view, 4242);
    step("Recherche");
    auto* iterations = att.palette().rows().get<DoubleProperty>(text(TextId::kIterations));
    QVERIFY(iterations);
    iterations->SetValue(300000);
    step("Itérations");
    view->A_centrer->trigger();
    step("Centrage");
    view->renderTarget()->scale *= 3;
    view->A_ajuster->trigger();
    step("Ajustement");
    bmp.C_render->setCurrentIndex(2);
    emit bmp.C_render->activated(2);  // Lumière, as a pick in the list gives it
    step("Mode de rendu");
    auto* light = dynamic_cast<TBitmap3D_Light*>(view->renderTarget());
    QVERIFY(light);
    light->luminosity = 2.5;
    view->imageSettingsChanged();
    step("Réglage du rendu");
    light->angleGradient.Clear();
    light->angleGradient.AddStop(0, {1, 0, 0});
    light->angleGradient.AddStop(1, {0, 0, 1});
    view->gradientChanged();
    step("Palette de couleurs");
    QVERIFY(view->setImageSize(200, 100));
    step("Taille de l'image");
    att.C_type->setCurrentIndex(1);
    emit att.C_type->activated(1);  // IFS
    step("Type d'attracteur");
    att.UD_option->setValue(5);
    step("Option");
    QCOMPARE(view->attractor()->params().count(), pictures.back().params.size());

    // A render in between is not a step and is never undone; the preview shows instead.
    search(view, 777);
    step("Recherche");
    view->setTotalIterations(60000);
    QVERIFY(renderToEnd(view));
    QCOMPARE(view->history().size(), pictures.size());

    answers_ = {0};  // Continuer: the render is lost
    for (std::size_t at = pictures.size() - 1; at-- > 0;) {
        undoKey();
        QVERIFY2(samePicture(pictureOf(view), pictures[at]), qPrintable(names[int(at)]));
        QCOMPARE(view->renderTarget()->imageWidth, at >= 8 ? 200 : 160);
    }
    QCOMPARE(questions_, QStringList{qtext(TextId::kRenderWillBeLost)});
    // The new document's attractor, sampled now.
    QVERIFY(view->state() == kStatePreview || view->state() == kStateNoAttractor);
    for (std::size_t at = 1; at < pictures.size(); ++at) {
        redoKey();
        QVERIFY2(samePicture(pictureOf(view), pictures[at]), qPrintable(names[int(at) - 1]));
    }
    // The palettes show the restored objects.
    QCOMPARE(att.C_type->currentIndex(), 1);
    QCOMPARE(bmp.C_render->currentIndex(), 2);
    QCOMPARE(att.UD_option->value(), 5);

    // A file opened into the document is a step too: the attractor it replaced comes back.
    main_->setFileDialogHook([](const FileDialogRequest&) {
        return QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr");
    });
    main_->A_ouvrir->trigger();
    main_->setFileDialogHook(nullptr);
    QCOMPARE(view->attractor()->kindCode(), 3);
    QCOMPARE(main_->A_annuler->text(), QStringLiteral("Annuler Ouverture"));
    undoKey();
    QVERIFY(samePicture(pictureOf(view), pictures.back()));
}

// Typing "15" into a Lorenz step passes through "1", which diverges: the keys of the value
// make one step, and one Ctrl+Z brings back the parameters before it, from the main window
// or from the palette's edit.
void HistoryTest::typedDivergingValueGoesBackWithOneUndo() {
    QCOMPARE(main_->openFiles({QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr")}), 1);
    TForm_view* view = main_->activeDocument();
    QCOMPARE(view->history().size(), std::size_t{1});  // the history starts from the file
    const Picture good = pictureOf(view);
    PropertyPalette& rows = palettes().attractorPalette().palette();
    // A parameter held fixed for the searches is a setting, not a step, and undo keeps it.
    Property* b = rows.rows().find("B");
    QVERIFY(b);
    QTest::mouseClick(rows.viewport(), Qt::LeftButton, {}, {5, rows.rowRect(*b).center().y()});
    QVERIFY(!view->attractor()->params().findParam("B")->randomizable);
    QCOMPARE(view->history().size(), std::size_t{1});

    for (bool fromPalette : {false, true}) {
        Property* dt = rows.rows().find("dT");
        QVERIFY(dt);
        QTest::mouseClick(rows.viewport(), Qt::LeftButton, {},
                          {70, rows.rowRect(*dt).center().y()});
        NumPropertyEdit* edit = rows.liveEdit();
        QVERIFY(edit && edit->isVisible());
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_1);
        QCOMPARE(view->state(), kStateNoAttractor);
        QTest::keyClick(edit, Qt::Key_5);
        QCOMPARE(view->attractor()->params().findParam("dT")->get(), 15.0);
        QCOMPARE(view->history().size(), std::size_t{2});
        QCOMPARE(main_->A_annuler->text(), QStringLiteral("Annuler Paramètre"));

        if (fromPalette) {
            // The edit's own undo gives its old text back, which applies as typed.
            QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
            QVERIFY(sameBytes(pictureOf(view).params, good.params));
        } else {
            undoKey();
            QVERIFY(samePicture(pictureOf(view), good));
        }
        QCOMPARE(view->state(), kStatePreview);
        QCOMPARE(static_cast<DoubleProperty*>(rows.rows().find("dT"))->value(), 0.01);
        QVERIFY(rows.rows().find("B")->ticked());
        QVERIFY(!view->attractor()->params().findParam("B")->randomizable);
        if (!fromPalette) {
            redoKey();
            QCOMPARE(view->attractor()->params().findParam("dT")->get(), 15.0);
            QCOMPARE(view->state(), kStateNoAttractor);
            undoKey();
            QVERIFY(samePicture(pictureOf(view), good));
        }
    }

    // Two values typed one after the other into the same row, each after a click: two steps.
    for (const char* typed : {"2", "3"}) {
        Property* dt = rows.rows().find("dT");
        QTest::mouseClick(rows.viewport(), Qt::LeftButton, {},
                          {70, rows.rowRect(*dt).center().y()});
        rows.liveEdit()->selectAll();
        QTest::keyClick(rows.liveEdit(), typed[0]);
    }
    QCOMPARE(view->history().size(), std::size_t{3});
    undoKey();
    QCOMPARE(view->attractor()->params().findParam("dT")->get(), 2.0);
}

void HistoryTest::historyWindowListsJumpsAndFollowsTheDocument() {
    TForm_view* first = newDocument(0, 0);  // Icon
    search(first, 31);
    drag(first, Qt::NoModifier);
    const Picture found = pictureOf(first);
    first->A_centrer->trigger();

    // Opened from the menu.
    main_->activateWindow();
    QMenu* edit = nullptr;
    for (QAction* a : main_->menuBar()->actions())
        if (a->menu() && a->text() == qtext(TextId::kMenuEdit)) edit = a->menu();
    QVERIFY(edit);
    QCOMPARE(main_->menuBar()->actions().indexOf(edit->menuAction()), 1);  // after Fichier
    if (!screenshots_.isEmpty()) {
        edit->popup(main_->mapToGlobal(QPoint(60, main_->menuBar()->height())));
        QTest::qWait(200);
        QDir().mkpath(screenshots_);
        main_->screen()->grabWindow(0).save(screenshots_ + QStringLiteral("/edit-menu.png"));
        edit->hide();
    }
    main_->A_historique->trigger();
    HistoryWindow* window = main_->historyWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QListWidget* list = window->S_etapes;
    QStringList shown;
    for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
    QCOMPARE(shown, (QStringList{"Début", "Recherche", "Rotation", "Centrage"}));
    QCOMPARE(list->currentRow(), 3);
    QVERIFY(list->item(3)->font().bold());

    // A click goes to that step; the steps after it stay, to be redone.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(2)).center());
    QVERIFY(samePicture(pictureOf(first), found));
    QCOMPARE(list->count(), 4);
    QCOMPARE(list->currentRow(), 2);
    QVERIFY(list->item(2)->font().bold() && !list->item(3)->font().bold());
    shoot(window, QStringLiteral("history"));
    if (!screenshots_.isEmpty())
        main_->screen()->grabWindow(0).save(screenshots_ + QStringLiteral("/history-screen.png"));

    // Another document: its own steps.
    TForm_view* second = newDocument(3, 0);
    QCOMPARE(window->document(), second);
    QCOMPARE(list->count(), 1);
    search(second, 5);
    QCOMPARE(list->count(), 2);
    main_->findChild<QMdiArea*>()->setActiveSubWindow(documentWindow(first));
    QCOMPARE(window->document(), first);
    QCOMPARE(list->currentRow(), 2);
    answers_ = {1, 1};  // Ne pas enregistrer
    documentWindow(first)->close();
    QCOMPARE(window->document(), second);
    documentWindow(second)->close();
    QCOMPARE(list->count(), 0);
    QVERIFY(!main_->A_annuler->isEnabled());
    window->hide();
}

void HistoryTest::nothingIsUndoneWhileTheDocumentRenders() {
    TForm_view* view = newDocument(3, 0);
    search(view, 8);
    drag(view, Qt::NoModifier);
    const Picture dragged = pictureOf(view);
    main_->A_historique->trigger();
    QListWidget* list = main_->historyWindow()->S_etapes;

    view->setTotalIterations(1000000000000);
    view->A_demarrer->trigger();
    QCOMPARE(view->state(), kStateRendering);
    QVERIFY(!main_->A_annuler->isEnabled());
    QVERIFY(!list->isEnabled());
    undoKey();
    QVERIFY(!view->undo() && !view->jumpToStep(0));
    QCOMPARE(view->state(), kStateRendering);
    QCOMPARE(view->history().position(), std::size_t{2});

    QSignalSpy completed(view, &TForm_view::renderCompleted);
    view->A_arreter->trigger();
    QVERIFY(completed.wait(60000));
    QVERIFY(main_->A_annuler->isEnabled());
    QVERIFY(list->isEnabled());
    // The render is kept when the user says so; else it goes and the step before comes back.
    answers_ = {1};
    undoKey();
    QCOMPARE(view->state(), kStateRendered);
    QCOMPARE(view->history().position(), std::size_t{2});
    answers_ = {0};
    undoKey();
    QCOMPARE(view->state(), kStatePreview);
    QCOMPARE(view->history().position(), std::size_t{1});
    redoKey();
    QVERIFY(samePicture(pictureOf(view), dragged));
    main_->historyWindow()->hide();
}

QTEST_MAIN(HistoryTest)
// A frame of an animation carries the exposure the animation shares: the render palette shows
// it, unticking it develops the image against its own peak, saving keeps that choice, and
// undo and redo go between the two.
void HistoryTest::fixedExposureShowsAndClearingItIsAStep() {
    TForm_view* view = newDocument(3, 0);  // Lorenz, Gaz
    QVERIFY(view);
    search(view, 4242);
    QTemporaryDir folder;
    const std::filesystem::path frame =
        folder.filePath(QStringLiteral("frame.qmscene")).toStdString();
    RenderScene scene = view->scene();
    scene.iterations = 60000;
    scene.exposure = 3.5;
    QVERIFY(saveScene(frame, *view->attractor(), scene));
    const QString frameName = QString::fromStdString(frame.string());
    main_->setFileDialogHook([frameName](const FileDialogRequest&) { return frameName; });
    main_->A_ouvrir->trigger();
    main_->setFileDialogHook(nullptr);
    QCOMPARE(view->renderTarget()->fixedPeak, 3.5f);

    TForm_bmppal& bmp = palettes().renderPalette();
    const auto row = [&bmp] {
        return bmp.palette().rows().get<DoubleProperty>(text(TextId::kFixedExposure));
    };
    QVERIFY(row());
    QVERIFY(row()->ticked());
    QCOMPARE(row()->value(), 3.5);

    QSignalSpy completed(view, &TForm_view::renderCompleted);
    view->A_demarrer->trigger();
    QVERIFY(completed.wait(60000));
    const std::vector<std::uint8_t> fixed = view->renderTarget()->imageBytes();
    shoot(&bmp, QStringLiteral("render-palette-exposure"));

    const std::size_t steps = view->history().size();
    row()->SetChecked(false);
    QCOMPARE(view->renderTarget()->fixedPeak, 0.0f);
    QCOMPARE(view->state(), kStateRendered);
    QVERIFY(view->renderTarget()->imageBytes() != fixed);  // developed again, own peak
    QCOMPARE(view->history().size(), steps + 1);
    QCOMPARE(main_->A_annuler->text(), QString::fromUtf8("Annuler Réglage du rendu"));

    const std::filesystem::path saved =
        folder.filePath(QStringLiteral("own.qmscene")).toStdString();
    QVERIFY(view->saveScene(QString::fromStdString(saved.string())));
    SceneLoad reread = loadScene(saved);
    QVERIFY(reread);
    QVERIFY(!reread.render.exposure);

    answers_ = {0};  // Continuer: the render is lost
    undoKey();
    QCOMPARE(view->renderTarget()->fixedPeak, 3.5f);
    QVERIFY(row() && row()->ticked());
    redoKey();
    QCOMPARE(view->renderTarget()->fixedPeak, 0.0f);
    QVERIFY(row() && !row()->ticked());
    QCOMPARE(row()->value(), 3.5);  // kept, to be ticked again
    row()->SetChecked(true);
    QCOMPARE(view->renderTarget()->fixedPeak, 3.5f);

    // A file without an exposure has no such row.
    QVERIFY(view->loadScene(QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr")));
    QVERIFY(!row());
}

#include "history_test.moc"
