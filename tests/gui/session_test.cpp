// A scripted session of the desktop program under a display: documents made through the
// "Nouveau" dialog, searches, renders, files saved and read back, and the rules that keep a
// busy document open. With QM_SCREENSHOTS=folder set, the main states are saved as PNG.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "core/attractor/attractor.h"
#include "core/attractor/ifs.h"
#include "core/attractor/kinds.h"
#include "core/discover/lane_search.h"
#include "core/file/attractor_file.h"
#include "core/render/bitmap3d.h"
#include "core/render/light.h"
#include "gui/main_window.h"
#include "gui/new_dialog.h"
#include "gui/palettes.h"
#include "gui/preview_widget.h"
#include "gui/render_thread.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"

using namespace qm;
using namespace qm::gui;
using namespace qm::gui::test;

namespace {

// Fills the "Nouveau" dialog once it is up, then presses OK.
void answerNewDialog(int kind, const QString& width, const QString& height, int mode,
                     std::function<void()> beforeOk = {}) {
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<TForm_new*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->findChild<QComboBox*>(QStringLiteral("C_att_type"))->setCurrentIndex(kind);
        dialog->findChild<QLineEdit*>(QStringLiteral("M_width"))->setText(width);
        dialog->findChild<QLineEdit*>(QStringLiteral("M_height"))->setText(height);
        dialog->findChild<QComboBox*>(QStringLiteral("C_render"))->setCurrentIndex(mode);
        if (beforeOk) beforeOk();
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("B_ok")), Qt::LeftButton);
    });
}

// Stands in for the two palettes: records what the documents ask of them.
class RecordingPalettes final : public Palettes {
public:
    explicit RecordingPalettes(QStringList& calls) : calls_(calls) {}
    void showAttractor(Attractor* a) override { calls_ << (a ? "attractor" : "attractor none"); }
    void showRenderTarget(TBitmap3D* t) override { calls_ << (t ? "target" : "target none"); }
    void release(const Attractor*, const TBitmap3D*) override { calls_ << "release"; }
    void retranslate() override {}
    void refreshValues() override { calls_ << "refresh"; }
    void fillAttractorPalette() override { calls_ << "fill"; }
    void setPalettesEnabled(bool on) override { calls_ << QStringLiteral("enabled %1").arg(on); }
    void setPalettesVisible(bool on) override { calls_ << QStringLiteral("visible %1").arg(on); }
    void selectKind(std::int8_t kind) override { calls_ << QStringLiteral("kind %1").arg(kind); }
    void selectMode(int mode) override { calls_ << QStringLiteral("mode %1").arg(mode); }
    void refreshScale() override { calls_ << "scale"; }
    // Many developments, so that a render shows its image early.
    std::int32_t updateCount() const override { return 100; }

private:
    QStringList& calls_;
};

// The finds of the searches below: the view seeds its generator from the clock, which would
// give every run other attractors, and some finds leave after a while in a long render.
constexpr std::uint32_t kSearchSeed = 20261207;

// The classic coefficients, whose orbit never leaves: for renders that must run until they
// are stopped. The view is fitted to them.
void useClassicLorenz(TForm_view* view) {
    ParamList& params = view->attractor()->params();
    const double classic[] = {10, 28, 2.667, 0.01};  // A, B, C, dT
    for (std::size_t i = 0; i < std::size(classic); ++i) params[i].set(classic[i]);
    view->adjustView(Adjust::Fit);
}

QStringList visibleActionTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* a : menu->actions())
        if (a->isVisible() && !a->isSeparator()) texts << a->text();
    return texts;
}

}  // namespace

class SessionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void startsWithOnlyNewQuitLanguageAndAbout();
    void documentFromTheDialogIsNamedAndEmpty();
    void searchEndsRenderedAndMenusMerge();
    void mouseDragGivesTheLivePreview();
    void busyDocumentsRefuseToClose();
    void renderRunsToCompletionWithTotalTime();
    void divergenceEndsTheRenderWithAMessage();
    void oversizedImagesAreRefused();
    void imageSavesAsBmpAndPngAndNamesTheDocument();
    void attractorSavesAndReadsBack();
    void unreadableFileKeepsTheDocument();
    void commandLineFilesOpenFitted();
    void modeAndOptionChangesKeepTheView();
    void closingTheLastDocumentHidesTheCommands();
    void searchesOnTheWorkerFindWhatTrialsInARowFind();
    void stoppingTheSearchIsImmediate();
    void endingTheProgramStopsARunningRender();

private:
    void shoot(const QString& name) { test::shoot(main_.get(), name); }
    void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QVERIFY(test::pressKey(main_.get(), key, modifiers));
    }
    QMdiSubWindow* windowOf(TForm_view* view) const;

    TestProgram program_;
    std::unique_ptr<TMDIform>& main_ = program_.main;
    QTemporaryDir folder_;
    QStringList& messages_ = program_.messages;
    QStringList paletteCalls_;
    QString& nextFileName_ = program_.nextFileName;
    QString screenshots_;
};

void SessionTest::initTestCase() {
    QVERIFY(folder_.isValid());
    screenshots_ = qEnvironmentVariable("QM_SCREENSHOTS");
    program_.answerQuestions = false;
    QVERIFY(program_.start({1100, 800}, std::make_unique<RecordingPalettes>(paletteCalls_)));
}

void SessionTest::cleanupTestCase() {
    program_.stop();
}

QMdiSubWindow* SessionTest::windowOf(TForm_view* view) const {
    return documentWindow(view);
}

void SessionTest::startsWithOnlyNewQuitLanguageAndAbout() {
    const QList<QAction*> menus = main_->menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[0]->text(), QStringLiteral("&Fichier"));
    QCOMPARE(menus[1]->text(), QStringLiteral("&Edition"));
    QCOMPARE(menus[2]->text(), QStringLiteral("Aide"));
    QCOMPARE(visibleActionTexts(menus[0]->menu()),
             (QStringList{"&Nouveau...", "Ouvrir...", "Reprendre un rendu...", "&Quitter"}));
    QCOMPARE(visibleActionTexts(menus[2]->menu()), (QStringList{"&Langue...", "A propos..."}));
    // Nothing to undo yet.
    QVERIFY(!main_->A_annuler->isEnabled() && !main_->A_retablir->isEnabled());
    QCOMPARE(main_->statusText(2), QStringLiteral("i/s :"));

    // "A propos..." shows the about box modally until OK.
    bool shown = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        shown = box && box->findChild<QPushButton*>(QStringLiteral("B_ok"));
        shoot(QStringLiteral("0-about"));
        if (shown) box->findChild<QPushButton*>(QStringLiteral("B_ok"))->click();
    });
    main_->A_apropos->trigger();
    QVERIFY(shown);
}

void SessionTest::documentFromTheDialogIsNamedAndEmpty() {
    // Cancelling makes nothing and uses no document number.
    QTimer::singleShot(0, [] {
        QApplication::activeModalWidget()
            ->findChild<QPushButton*>(QStringLiteral("B_cancel"))
            ->click();
    });
    main_->A_nouveau->trigger();
    QCOMPARE(main_->openDocumentCount(), 0);

    answerNewDialog(3, QStringLiteral("320"), QStringLiteral("240"), 0,  // Lorenz, Gaz
                    [this] { shoot(QStringLiteral("0-new-dialog")); });
    main_->A_nouveau->trigger();
    QCOMPARE(paletteCalls_.mid(paletteCalls_.size() - 3),
             (QStringList{"attractor", "target", "visible 1"}));
    QCOMPARE(main_->openDocumentCount(), 1);
    TForm_view* view = main_->activeDocument();
    QVERIFY(view);
    QCOMPARE(view->windowTitle(), QStringLiteral("Sans Titre 1 - Lorenz"));
    QCOMPARE(view->state(), kStateNew);
    QCOMPARE(view->size(), QSize(320, 240));
    QVERIFY(main_->A_ouvrir->isVisible() && main_->A_fermer->isEnabled());
    QVERIFY(view->A_rechercher->isEnabled());
    QVERIFY(!view->A_demarrer->isEnabled());
    shoot(QStringLiteral("1-new-document"));
}

void SessionTest::searchEndsRenderedAndMenusMerge() {
    TForm_view* view = main_->activeDocument();
    paletteCalls_.clear();
    seedRandom31(kSearchSeed);
    pressKey(Qt::Key_F3);
    QVERIFY(waitForState(view, kStateRendered));
    QCOMPARE(paletteCalls_.first(), QStringLiteral("enabled 0"));
    QVERIFY(paletteCalls_.contains(QStringLiteral("enabled 1")));
    QCOMPARE(paletteCalls_.last(), QStringLiteral("refresh"));
    QCOMPARE(view->state(), kStateRendered);
    QVERIFY(view->windowTitle().endsWith(QStringLiteral(" (rendu)")));
    QVERIFY(!view->attractor()->diverged());
    QVERIFY(view->A_demarrer->isEnabled() && view->A_copier->isEnabled());

    // The document's menus stand between "&Edition" and "Aide".
    QStringList titles;
    for (const QAction* a : main_->menuBar()->actions()) titles << a->text();
    QCOMPARE(titles, (QStringList{"&Fichier", "&Edition", "&Attracteur", "&Vue", "Aide"}));
    shoot(QStringLiteral("2-searched"));
    if (!screenshots_.isEmpty()) {
        QMenu* menu = view->attractorMenu();
        menu->popup(main_->menuBar()->mapToGlobal(
            main_->menuBar()->actionGeometry(menu->menuAction()).bottomLeft()));
        shoot(QStringLiteral("2-menu"));
        menu->hide();
        QTest::qWait(50);
    }
}

void SessionTest::mouseDragGivesTheLivePreview() {
    TForm_view* view = main_->activeDocument();
    const Mat4 before = view->renderTarget()->viewMatrix;
    drag(view, {100, 100}, {140, 90});
    QVERIFY(view->renderTarget()->viewMatrix != before);
    QVERIFY(view->windowTitle().endsWith(QStringLiteral(" (aperçu)")));

    // Ctrl-drag: 239 pixels down multiplies the scale by 1.01^239; 240 leaves it.
    const double scale = view->renderTarget()->scale;
    QTest::mousePress(view, Qt::LeftButton, Qt::ControlModifier, QPoint(10, 0));
    QMouseEvent anchor(QEvent::MouseMove, QPointF(10, 0), view->mapToGlobal(QPointF(10, 0)),
                       Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(view, &anchor);
    QMouseEvent down(QEvent::MouseMove, QPointF(10, 239), view->mapToGlobal(QPointF(10, 239)),
                     Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(view, &down);
    QVERIFY(qFuzzyCompare(view->renderTarget()->scale, scale * std::pow(1.01, 239)));
    QMouseEvent tooFar(QEvent::MouseMove, QPointF(10, 479), view->mapToGlobal(QPointF(10, 479)),
                       Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(view, &tooFar);
    QVERIFY(qFuzzyCompare(view->renderTarget()->scale, scale * std::pow(1.01, 239)));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::ControlModifier, QPoint(10, 479));
    view->renderTarget()->scale = scale;
    view->adjustView(Adjust::Plain);
    shoot(QStringLiteral("3-live-preview"));
}

void SessionTest::busyDocumentsRefuseToClose() {
    // A second document whose search never ends by itself.
    answerNewDialog(6, QStringLiteral("320"), QStringLiteral("240"), 2);
    main_->A_nouveau->trigger();
    TForm_view* second = main_->activeDocument();
    QCOMPARE(second->windowTitle(), QStringLiteral("Sans Titre 2 - Polynôme, type A"));
    // Every coefficient held at zero, a fixed point: the trials fail until stopped, however
    // fast the worker runs them.
    for (ParamEntry& entry : second->attractor()->params()) {
        entry.randomizable = false;
        entry.set(0.0);
    }

    bool closedWhileSearching = true;
    std::uint8_t stateDuringSearch = 0;
    bool quitWhileSearching = true;
    // Fires at the first pause between two trials; dies with this function if never fired.
    QTimer during;
    during.setSingleShot(true);
    connect(&during, &QTimer::timeout, [&] {
        stateDuringSearch = second->state();
        closedWhileSearching = windowOf(second)->close();
        quitWhileSearching = main_->close();
        second->A_arreter_rch->trigger();
    });
    during.start(0);
    second->A_rechercher->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(second->state(), kStateNew, 60000);
    QVERIFY(!quitWhileSearching);
    QCOMPARE(stateDuringSearch, kStateSearching);
    QVERIFY(!closedWhileSearching);
    // "Arrêter Recherche" returns to the state before the search.
    QCOMPARE(second->state(), kStateNew);
    QCOMPARE(second->windowTitle(), QStringLiteral("Sans Titre 2 - Polynôme, type A"));

    // A long render in the first document: nothing else may start, nothing closes.
    TForm_view* first = main_->documents().constFirst();
    QVERIFY(first != second);
    second->setAttractorKind(3);
    QVERIFY(searchFound(second, kSearchSeed));
    QVERIFY(second->A_demarrer->isEnabled());

    useClassicLorenz(first);
    first->setTotalIterations(2000000000);
    QSignalSpy completed(first, &TForm_view::renderCompleted);
    first->A_demarrer->trigger();
    QCOMPARE(first->state(), kStateRendering);
    QVERIFY(first->windowTitle().endsWith(QStringLiteral(" (rendu en cours)")));
    QVERIFY(!first->A_demarrer->isEnabled());
    QVERIFY(!second->A_demarrer->isEnabled());
    QVERIFY(first->A_arreter->isEnabled());
    QVERIFY(!windowOf(first)->close());
    QVERIFY(!main_->close());
    QCOMPARE(main_->openDocumentCount(), 2);
    // Each refusal says why: two during the search above, two here.
    QCOMPARE(messages_.size(), 4);
    QVERIFY(messages_.last().contains(first->windowTitle()));
    messages_.clear();
    // The first timer tick (every second) shows the speed once the first round is counted; on
    // a busy machine the render's lowered priority can hold that round back for many seconds.
    QVERIFY2(waitUntil([&] { return main_->statusText(2).startsWith(QStringLiteral("i/s : ")); },
                       60000, "the speed in the status bar"),
             qPrintable(QStringLiteral("render %1, messages: %2")
                            .arg(stateName(first->state()), messages_.join('\n'))));
    QVERIFY(main_->statusText(3).startsWith(QStringLiteral("temps restant : ")));
    shoot(QStringLiteral("4-rendering"));

    first->A_arreter->trigger();
    QVERIFY(completed.wait(30000));
    QCOMPARE(first->state(), kStateRendered);
    // A stopped render keeps its image and leaves the status bar at rest.
    QCOMPARE(main_->statusText(2), QStringLiteral("i/s :"));
    QCOMPARE(main_->statusText(3), QString());
    QVERIFY(second->A_demarrer->isEnabled());
    QVERIFY(messages_.isEmpty());
}

void SessionTest::renderRunsToCompletionWithTotalTime() {
    TForm_view* first = main_->documents().constFirst();
    windowOf(first)->setFocus();
    main_->findChild<QMdiArea*>()->setActiveSubWindow(windowOf(first));
    QCOMPARE(main_->activeDocument(), first);
    first->setTotalIterations(300000);
    QSignalSpy completed(first, &TForm_view::renderCompleted);
    pressKey(Qt::Key_F4);
    QCOMPARE(first->state(), kStateRendering);
    QVERIFY(completed.wait(30000));
    QCOMPARE(first->state(), kStateRendered);
    QVERIFY(first->windowTitle().endsWith(QStringLiteral(" (rendu)")));
    QVERIFY(main_->statusText(3).startsWith(QStringLiteral("temps total : ")));
    QCOMPARE(main_->progress(), 1024);

    // The image shows the attractor: many pixels differ from the black background.
    const TBitmap3D& target = *first->renderTarget();
    int lit = 0;
    for (std::size_t i = 0; i < target.imageBytes().size(); ++i) lit += target.imageBytes()[i] != 0;
    QVERIFY(lit > 1000);
    shoot(QStringLiteral("5-rendered"));

    first->A_copier->trigger();
    QCOMPARE(QApplication::clipboard()->image().size(),
             QSize(target.imageWidth, target.imageHeight));
}

void SessionTest::divergenceEndsTheRenderWithAMessage() {
    TForm_view* view = main_->activeDocument();
    auto& lorenz = static_cast<Lorenz_2L&>(*view->attractor());
    const double step = lorenz.dT;
    lorenz.dT = 0.9;  // the flow blows up within a few hundred steps
    QSignalSpy completed(view, &TForm_view::renderCompleted);
    view->A_demarrer->trigger();
    QVERIFY(completed.wait(30000));
    QCOMPARE(messages_.size(), 1);
    QCOMPARE(messages_.takeFirst(), QStringLiteral("Plus d'attracteur après %1 itérations")
                                        .arg(view->attractor()->iterationCount()));
    QVERIFY(view->attractor()->iterationCount() < 1000);
    QCOMPARE(view->state(), kStateRendered);
    QCOMPARE(main_->statusText(3), QString());
    QCOMPARE(main_->progress(), 0);
    QVERIFY(!main_->renderRunning());
    lorenz.dT = step;
}

void SessionTest::oversizedImagesAreRefused() {
    const NewDocumentDefaults saved = main_->defaults();
    const int created = main_->createdDocumentCount();
    for (const auto& [width, height] : {std::pair{20000, 480}, std::pair{640, 8}}) {
        main_->defaults().width = width;
        main_->defaults().height = height;
        QVERIFY(!main_->newDocument());
        QCOMPARE(messages_.size(), 1);
        QVERIFY(messages_.takeFirst().contains(QString::number(width)));
    }
    QCOMPARE(main_->createdDocumentCount(), created);
    main_->defaults() = saved;
}

void SessionTest::imageSavesAsBmpAndPngAndNamesTheDocument() {
    TForm_view* view = main_->activeDocument();
    const TBitmap3D& target = *view->renderTarget();
    for (const QString& suffix : {QStringLiteral("bmp"), QStringLiteral("png")}) {
        nextFileName_ = folder_.filePath(QStringLiteral("image.") + suffix);
        main_->A_enreg_image_sous->trigger();
        QImage read(nextFileName_);
        QCOMPARE(read.size(), QSize(target.imageWidth, target.imageHeight));
        // Scan line 0 is the top row, blue-green-red.
        const std::uint8_t* top = target.scanLine(0);
        for (int x = 0; x < target.imageWidth; x += 7)
            QCOMPARE(read.pixel(x, 0), qRgb(top[3 * x + 2], top[3 * x + 1], top[3 * x]));
        QVERIFY(view->windowTitle().startsWith(nextFileName_ + QStringLiteral(" - ")));
    }

    // A folder that does not exist: a message, no file, and the name stays.
    const QString before = view->documentName();
    nextFileName_ = folder_.filePath(QStringLiteral("missing/image.bmp"));
    main_->A_enreg_image_sous->trigger();
    QCOMPARE(messages_.size(), 1);
    QVERIFY(messages_.takeFirst().contains(nextFileName_));
    QVERIFY(!QFileInfo::exists(nextFileName_));
    QCOMPARE(view->documentName(), before);
}

void SessionTest::attractorSavesAndReadsBack() {
    TForm_view* view = main_->activeDocument();
    const std::vector<double> values = [&] {
        std::vector<double> v;
        for (const auto& e : view->attractor()->params()) v.push_back(e.get());
        return v;
    }();

    // No extension: ".qmattr" is added. Another extension: nothing written, the user told.
    nextFileName_ = folder_.filePath(QStringLiteral("found"));
    main_->A_enreg_att_sous->trigger();
    QVERIFY(QFileInfo::exists(nextFileName_ + QStringLiteral(".qmattr")));
    nextFileName_ = folder_.filePath(QStringLiteral("found.QMATTR"));
    main_->A_enreg_att_sous->trigger();
    QVERIFY(!QFileInfo::exists(nextFileName_));
    QCOMPARE(messages_.size(), 1);
    messages_.clear();
    // A folder that does not exist: reported, nothing written.
    nextFileName_ = folder_.filePath(QStringLiteral("missing/found.qmattr"));
    main_->A_enreg_att_sous->trigger();
    QCOMPARE(messages_.size(), 1);
    QVERIFY(messages_.takeFirst().contains(nextFileName_));
    QVERIFY(!QFileInfo::exists(nextFileName_));

    // Read back into the other document, which takes the kind and every value.
    TForm_view* other = main_->documents().constLast();
    main_->findChild<QMdiArea*>()->setActiveSubWindow(windowOf(other));
    QCOMPARE(main_->activeDocument(), other);
    other->setAttractorKind(0);
    nextFileName_ = folder_.filePath(QStringLiteral("found.qmattr"));
    main_->A_ouvrir->trigger();
    QVERIFY(messages_.isEmpty());
    QCOMPARE(other->attractor()->kind(), view->attractor()->kind());
    std::vector<double> read;
    for (const auto& e : other->attractor()->params()) read.push_back(e.get());
    QCOMPARE(read, values);
    QCOMPARE(other->state(), kStatePreview);
    QVERIFY(other->autoFit());
}

void SessionTest::unreadableFileKeepsTheDocument() {
    TForm_view* view = main_->activeDocument();
    const Attractor* before = view->attractor();
    const std::uint8_t state = view->state();
    nextFileName_ = folder_.filePath(QStringLiteral("broken.qmattr"));
    std::ofstream(nextFileName_.toStdString()) << "attractor {\n\ttype nowhere\n}\n";
    main_->A_ouvrir->trigger();
    QCOMPARE(messages_.size(), 1);
    const QString message = messages_.takeFirst();
    QVERIFY(message.startsWith(QStringLiteral("Erreur lors de la lecture du fichier")));
    QVERIFY2(message.endsWith(QStringLiteral("\nLigne 2 : valeur illisible.")),
             qPrintable(message));
    QCOMPARE(view->attractor(), before);
    QCOMPARE(view->state(), state);
}

void SessionTest::commandLineFilesOpenFitted() {
    const int before = main_->openDocumentCount();
    const QString good = QStringLiteral(QM_DATA_DIR "/examples/julia.qmattr");
    QCOMPARE(main_->openFiles({folder_.filePath(QStringLiteral("nothing.qmattr")), good}), 1);
    QCOMPARE(messages_.size(), 1);
    messages_.clear();
    QCOMPARE(main_->openDocumentCount(), before + 1);
    TForm_view* view = main_->activeDocument();
    QCOMPARE(view->attractor()->kind(), AttractorKind::Julia);
    QVERIFY(view->renderTarget()->mirror);
    QCOMPARE(view->state(), kStateRendered);
    QCOMPARE(view->size(), QSize(320, 240));  // the last defaults
}

void SessionTest::modeAndOptionChangesKeepTheView() {
    // The palettes follow the active document only.
    TForm_view* view = main_->activeDocument();
    view->setRenderMode(0);
    view->adjustView(Adjust::Fit);
    QCOMPARE(view->state(), kStateRendered);
    const double scale = view->renderTarget()->scale;
    const Mat4 camera = view->renderTarget()->viewMatrix;

    // "Gaz" to "Lumière" loads the colour maps beside the program; the camera stays and the
    // live preview takes over from the image.
    paletteCalls_.clear();
    view->setRenderMode(2);
    auto* light = dynamic_cast<TBitmap3D_Light*>(view->renderTarget());
    QVERIFY(light);
    QVERIFY(light->speedGradient.count() > 7);  // data/speed.map, not the built-in ramp
    QCOMPARE(light->renderMode(), RenderMode::Light);
    QCOMPARE(light->scale, scale);
    QCOMPARE(light->viewMatrix, camera);
    QCOMPARE(view->state(), kStatePreview);
    QVERIFY(paletteCalls_.contains(QStringLiteral("mode 2")) &&
            paletteCalls_.contains(QStringLiteral("target")));

    // "Lumière" to "Plasma" keeps the gradients as they are.
    light->speedGradient.Clear();
    light->speedGradient.AddStop(0.0, {1, 0, 0});
    light->speedGradient.AddStop(1.0, {0, 0, 1});
    view->setRenderMode(3);
    auto* plasma = dynamic_cast<TBitmap3D_Light*>(view->renderTarget());
    QVERIFY(plasma);
    QCOMPARE(plasma->speedGradient.count(), std::size_t{2});

    // Without the colour maps beside the program, the speed ramp is the built-in hue circle.
    QTemporaryDir empty;
    main_->setProgramFolder(empty.path().toStdString());
    view->setRenderMode(0);
    view->setRenderMode(2);
    QCOMPARE(dynamic_cast<TBitmap3D_Light*>(view->renderTarget())->speedGradient.count(),
             std::size_t{7});
    main_->setProgramFolder(QM_DATA_DIR);

    // The option of an IFS: its map count, and the document starts over.
    view->setAttractorKind(1);
    QCOMPARE(view->attractor()->kind(), AttractorKind::IFS);
    view->setAttractorCount(6);
    QCOMPARE(static_cast<IFS*>(view->attractor())->count(), 6);
    QCOMPARE(view->state(), kStateNew);
    QVERIFY(view->windowTitle().endsWith(QStringLiteral(" - IFS")));
    QVERIFY(!view->A_demarrer->isEnabled());
}

void SessionTest::closingTheLastDocumentHidesTheCommands() {
    for (TForm_view* view : main_->documents()) QVERIFY(windowOf(view)->close());
    QCOMPARE(main_->openDocumentCount(), 0);
    QVERIFY(main_->A_ouvrir->isVisible() && !main_->A_enreg_att_sous->isVisible() &&
            !main_->A_fermer->isEnabled());
    QCOMPARE(main_->menuBar()->actions().size(), 3);
    QCOMPARE(main_->createdDocumentCount(), 3);
    QVERIFY(paletteCalls_.contains(QStringLiteral("release")));
    QCOMPARE(paletteCalls_.last(), QStringLiteral("visible 0"));
}

// The finds of three searches from a seeded generator, and the generator afterwards, as the
// same trials and preview samplings give when run in a row on one thread.
void SessionTest::searchesOnTheWorkerFindWhatTrialsInARowFind() {
    for (const std::int8_t kind : {std::int8_t{0}, std::int8_t{1}}) {  // Icon, IFS
        main_->defaults().kind = kind;
        TForm_view* view = main_->newDocument();
        QVERIFY(view);
        std::ostringstream initial;
        auto parser = makeAttractorParser();
        QVERIFY(writeAttractor(*parser, *view->attractor(), initial));

        seedRandom31(20261207);
        std::vector<std::vector<double>> shown;
        for (int press = 0; press < 3; ++press) {
            view->A_rechercher->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(view->state(), kStateRendered, 60000);
            std::vector<double> values;
            for (const ParamEntry& e : view->attractor()->params()) values.push_back(e.get());
            shown.push_back(values);
        }
        const std::uint64_t after = threadRandom31().state;

        std::vector<std::vector<double>> expected;
        std::uint64_t expectedAfter = 0;
        std::thread([&] {
            std::istringstream in(initial.str());
            LoadResult loaded = readAttractor(*parser, in);
            if (!loaded) return;
            Attractor& a = *loaded.attractor;
            seedRandom31(20261207);
            for (int press = 0; press < 3; ++press) {
                for (;;) {
                    if (!a.search(1.0)) continue;
                    if (previewStaysBounded(a)) break;
                }
                std::vector<double> values;
                for (const ParamEntry& e : a.params()) values.push_back(e.get());
                expected.push_back(values);
            }
            expectedAfter = threadRandom31().state;
        }).join();
        QCOMPARE(shown, expected);
        QCOMPARE(after, expectedAfter);
    }
}

void SessionTest::stoppingTheSearchIsImmediate() {
    main_->defaults().kind = 3;
    TForm_view* view = main_->newDocument();
    QVERIFY(view);
    // Every coefficient held, at a point without chaos: the trials fail until stopped.
    ParamList& params = view->attractor()->params();
    for (ParamEntry& entry : params) entry.randomizable = false;
    params.findParam("B")->set(0.5);
    view->A_rechercher->trigger();
    QTest::qWait(100);
    QCOMPARE(view->state(), kStateSearching);
    // The interface stays live: events are handled while the trials run.
    bool handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    QTRY_VERIFY_WITH_TIMEOUT(handled, 200);
    // A trial takes a millisecond or so: the generous bound only keeps a loaded machine green.
    pressKey(Qt::Key_F3, Qt::ShiftModifier);
    QTRY_COMPARE_WITH_TIMEOUT(view->state(), kStateNew, 2000);
}

void SessionTest::endingTheProgramStopsARunningRender() {
    main_->defaults().kind = 3;
    TForm_view* view = main_->newDocument();
    QVERIFY(view);
    QVERIFY(searchFound(view, kSearchSeed));
    useClassicLorenz(view);
    view->setTotalIterations(2000000000);
    view->A_demarrer->trigger();
    QCOMPARE(view->state(), kStateRendering);
    QTest::qWait(100);
    QPointer<QThread> worker = view->renderThread();
    QVERIFY(worker && worker->isRunning());
    // As when the session ends under the program: the windows go while the worker runs, and
    // the worker must not outlive the attractor and the image it works on.
    main_.reset();
    QVERIFY(!worker || worker->isFinished());
}

int main(int argc, char** argv) {
    qm::gui::requestPreviewSurfaceFormat();
    QApplication app(argc, argv);
    SessionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "session_test.moc"
