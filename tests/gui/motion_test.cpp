// Motion in the desktop program, under a display: the point cloud of a document, written on
// its worker, equals the tool's cloud of the document's scene and can be stopped without
// leaving a file; the animation dialog writes the frames the tool's animate writes, goes on
// from the first missing frame, stops without a partial frame, and checks its keyframes.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "core/render/light.h"
#include "core/strings/string_table.h"
#include "gui/animation_dialog.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/point_cloud_export.h"
#include "gui/preview_widget.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"

using namespace qm;
using namespace qm::gui;

using namespace qm::gui::test;

class MotionTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void exportedCloudEqualsTheToolsOfTheScene();
    void stoppedExportLeavesNoFile();
    void turntableFramesEqualTheToolsAndResume();
    void stoppedRenderWritesNoPartialFrame();
    void journeyChecksItsKeyframesAndPreviewPlays();

private:
    TForm_view* foundDocument(int kind, int mode);

    TestProgram program_;
    std::unique_ptr<TMDIform>& main_ = program_.main;
    QTemporaryDir folder_;
    QStringList& messages_ = program_.messages;
    QString& nextFileName_ = program_.nextFileName;
    CloudSettings nextCloud_;
};

void MotionTest::initTestCase() {
    QVERIFY(folder_.isValid());
    QVERIFY(program_.start({900, 700}));
    main_->setCloudSettingsHook([this](CloudSettings& s) {
        s = nextCloud_;
        return true;
    });
}

void MotionTest::cleanupTestCase() {
    program_.stop();
}

TForm_view* MotionTest::foundDocument(int kind, int mode) {
    TForm_view* view = program_.newDocument(kind, mode, {128, 96});
    return view && searchFound(view) ? view : nullptr;
}

void MotionTest::exportedCloudEqualsTheToolsOfTheScene() {
    // Julia: its sampling draws from the generator, and it is mirrored. A drag and a gradient
    // of its own make the scene the document's alone.
    for (int mode : {2, 0}) {
        TForm_view* view = foundDocument(2, mode);
        QVERIFY(view);
        drag(view, {40, 40}, {{50, 35}, {70, 30}});
        if (auto* light = dynamic_cast<TBitmap3D_Light*>(view->renderTarget())) {
            light->speedGradient.Clear();
            light->speedGradient.AddStop(0, {0.2f, 0.9f, 0.1f});
            light->speedGradient.AddStop(1, {0.1f, 0.1f, 1});
            view->gradientChanged();
        }
        nextCloud_.count = 30000;
        nextFileName_ = folder_.filePath(QStringLiteral("program"));  // the suffix comes
        main_->A_exporter_nuage->trigger();
        PointCloudExport* running = main_->pointCloudExport();
        QVERIFY(running);
        QVERIFY(!running->progressDialog()->isModal());
        QSignalSpy finished(running, &PointCloudExport::finished);
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
        const QString written = folder_.filePath(QStringLiteral("program.ply"));
        QVERIFY(QFile::exists(written));

        nextFileName_ = folder_.filePath(QStringLiteral("scene.qmscene"));
        QVERIFY(main_->saveSceneOf(view));
        const QString fromTool = folder_.filePath(QStringLiteral("tool.ply"));
        std::string err;
        QCOMPARE(runTool({QStringLiteral("points"), nextFileName_, QStringLiteral("-o"), fromTool,
                          QStringLiteral("--count"), QStringLiteral("30000")},
                         &err),
                 0);
        QCOMPARE(slurp(written).size(), slurp(fromTool).size());
        QVERIFY(slurp(written) == slurp(fromTool));
        QTRY_VERIFY(!main_->pointCloudExport());
    }
}

void MotionTest::stoppedExportLeavesNoFile() {
    TForm_view* view = foundDocument(3, 0);
    QVERIFY(view);
    nextCloud_.count = kMaxCloudPoints;
    QVERIFY(QDir(folder_.path()).mkpath(QStringLiteral("stop")));
    nextFileName_ = folder_.filePath(QStringLiteral("stop/stopped.ply"));
    main_->A_exporter_nuage->trigger();
    PointCloudExport* running = main_->pointCloudExport();
    QVERIFY(running);
    // A second export waits for the first.
    main_->A_exporter_nuage->trigger();
    QCOMPARE(main_->pointCloudExport(), running);
    QSignalSpy finished(running, &PointCloudExport::finished);
    // The interface goes on meanwhile: the progress shows, the stop button stops.
    QTRY_VERIFY_WITH_TIMEOUT(running->progress() > 0, 20000);
    QTRY_VERIFY(running->progressDialog()->value() > 0);
    QTest::mouseClick(running->progressDialog()->findChild<QPushButton*>(), Qt::LeftButton);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(messages_.isEmpty());
    QVERIFY(!QFile::exists(nextFileName_));
    QCOMPARE(QDir(folder_.filePath(QStringLiteral("stop"))).entryList(QDir::Files).size(), 0);
}

void MotionTest::turntableFramesEqualTheToolsAndResume() {
    TForm_view* view = foundDocument(0, 2);
    QVERIFY(view);
    view->setTotalIterations(120001);
    nextFileName_ = folder_.filePath(QStringLiteral("turn.qmscene"));
    QVERIFY(main_->saveSceneOf(view));
    const QString scene = nextFileName_;

    main_->A_animation->trigger();
    TForm_anim* dialog = main_->animationDialog(view);
    QVERIFY(dialog && dialog->isVisible());
    dialog->RB_tour->setChecked(true);
    dialog->M_images->setValue(2);
    dialog->M_degres->setValue(90);
    dialog->C_axe->setCurrentIndex(static_cast<int>(TurnAxis::Y));
    const QString frames = folder_.filePath(QStringLiteral("frames"));
    dialog->M_dossier->setText(frames);
    QSignalSpy finished(dialog, &TForm_anim::renderFinished);
    QVERIFY(dialog->startRender());
    QVERIFY(finished.wait(120000));
    auto outcome = finished.takeFirst().first().value<AnimationOutcome>();
    QCOMPARE(outcome.status, AnimationOutcome::Done);
    QCOMPARE(outcome.written, 2);
    QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));

    const QString tool = folder_.filePath(QStringLiteral("tool"));
    std::string err;
    QCOMPARE(runTool({QStringLiteral("animate"), scene, QStringLiteral("--frames"),
                      QStringLiteral("2"), QStringLiteral("--turn"), QStringLiteral("90"),
                      QStringLiteral("--axis"), QStringLiteral("y"), QStringLiteral("-o"),
                      tool + QStringLiteral("/frame-%04d.png"), QStringLiteral("--quiet")},
                     &err),
             0);
    for (const char* name : {"frame-0000.png", "frame-0001.png"}) {
        const QByteArray mine = slurp(frames + QLatin1Char('/') + QLatin1String(name));
        QVERIFY2(!mine.isEmpty(), name);
        QVERIFY2(mine == slurp(tool + QLatin1Char('/') + QLatin1String(name)), name);
    }
    QVERIFY(slurp(frames + QStringLiteral("/frame-0000.png")) !=
            slurp(frames + QStringLiteral("/frame-0001.png")));

    // A missing frame is rendered again; the other one is kept as it is.
    const QByteArray second = slurp(frames + QStringLiteral("/frame-0001.png"));
    QVERIFY(QFile::remove(frames + QStringLiteral("/frame-0001.png")));
    QVERIFY(dialog->startRender());
    QVERIFY(finished.wait(120000));
    outcome = finished.takeFirst().first().value<AnimationOutcome>();
    QCOMPARE(outcome.status, AnimationOutcome::Done);
    QCOMPARE(outcome.kept, 1);
    QCOMPARE(outcome.written, 1);
    QVERIFY(slurp(frames + QStringLiteral("/frame-0001.png")) == second);

    // Another animation into the same folder touches nothing there.
    dialog->M_degres->setValue(45);
    QVERIFY(dialog->startRender());
    QVERIFY(finished.wait(120000));
    outcome = finished.takeFirst().first().value<AnimationOutcome>();
    QCOMPARE(outcome.status, AnimationOutcome::NotThisFrame);
    QCOMPARE(outcome.frame, 0);
    QCOMPARE(messages_.size(), 1);
    messages_.clear();
    QVERIFY(slurp(frames + QStringLiteral("/frame-0001.png")) == second);
    dialog->close();
}

void MotionTest::stoppedRenderWritesNoPartialFrame() {
    TForm_view* view = foundDocument(3, 0);
    QVERIFY(view);
    view->setTotalIterations(2000000000);
    TForm_anim* dialog = main_->animationDialog(view);
    dialog->RB_tour->setChecked(true);
    dialog->M_images->setValue(3);
    dialog->C_exposition->setChecked(false);
    const QString frames = folder_.filePath(QStringLiteral("stopped"));
    dialog->M_dossier->setText(frames);
    QSignalSpy finished(dialog, &TForm_anim::renderFinished);
    QVERIFY(dialog->startRender());
    QCOMPARE(dialog->B_rendre->text(), qtext(TextId::kAnimStop));
    QTRY_VERIFY_WITH_TIMEOUT(dialog->PB_image->value() > 0, 30000);
    QTest::mouseClick(dialog->B_rendre, Qt::LeftButton);
    QVERIFY(finished.wait(30000));
    const auto outcome = finished.first().first().value<AnimationOutcome>();
    QCOMPARE(outcome.status, AnimationOutcome::Stopped);
    QCOMPARE(outcome.written, 0);
    QCOMPARE(QDir(frames).entryList(QDir::Files).size(), 0);
    QCOMPARE(dialog->B_rendre->text(), qtext(TextId::kAnimRender));
    dialog->close();
}

void MotionTest::journeyChecksItsKeyframesAndPreviewPlays() {
    TForm_view* view = foundDocument(0, 0);
    QVERIFY(view);
    TForm_anim* dialog = main_->animationDialog(view);
    dialog->RB_voyage->setChecked(true);
    while (dialog->S_cles->count() > 0) {
        dialog->S_cles->setCurrentRow(0);
        dialog->B_retirer->click();
    }
    dialog->M_images->setValue(60);
    QVERIFY(dialog->addCurrentView());
    QString problem;
    QVERIFY(!dialog->animation(&problem));
    QCOMPARE(problem, qtext(TextId::kAnimTooFew));

    // A scene of another mode cannot be mixed with this one.
    TForm_view* other = foundDocument(0, 4);
    QVERIFY(other);
    nextFileName_ = folder_.filePath(QStringLiteral("solid.qmscene"));
    QVERIFY(main_->saveSceneOf(other));
    QVERIFY(dialog->addSceneFile(nextFileName_));
    QVERIFY(!dialog->animation(&problem));
    QCOMPARE(problem, qtext(TextId::kAnimMismatch));
    dialog->S_cles->setCurrentRow(1);
    dialog->B_retirer->click();
    QCOMPARE(dialog->S_cles->count(), 1);

    // The same document turned: a journey between two views, which the preview plays.
    dialog->setDocument(view);
    // (the first move of a drag only anchors it)
    drag(view, {30, 30}, {{40, 35}, {90, 60}});
    QCOMPARE(view->state(), kStatePreview);
    QVERIFY(dialog->addCurrentView());
    QVERIFY(dialog->animation());
    dialog->B_apercu->click();
    QVERIFY(dialog->previewing());
    const TBitmap3D* shown = dialog->previewWidget()->target();
    QVERIFY(shown);
    const Mat4 start = shown->viewMatrix;
    QTRY_VERIFY_WITH_TIMEOUT(dialog->previewFrame() > 20, 10000);
    QVERIFY(!(shown->viewMatrix == start));
    dialog->B_apercu->click();
    QVERIFY(!dialog->previewing());
    QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
    dialog->close();
}

QTEST_MAIN(MotionTest)
#include "motion_test.moc"
