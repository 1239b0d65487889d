// Motion in the desktop program, under a display: the point cloud of a document, written on
// its worker, equals the tool's cloud of the document's scene and can be stopped without
// leaving a file.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sstream>

#include "cli/cli.h"
#include "core/render/light.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/point_cloud_export.h"
#include "gui/texts.h"
#include "gui/view.h"

using namespace qm;
using namespace qm::gui;

namespace {

QByteArray slurp(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int runTool(const QStringList& args, std::string* err = nullptr) {
    std::vector<std::string> words{"quillmere-cli"};
    for (const QString& a : args) words.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    std::ostringstream out, errors;
    const int status = qm::cli::run(static_cast<int>(argv.size()), argv.data(), out, errors);
    if (err) *err = errors.str();
    return status;
}

}  // namespace

class MotionTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void exportedCloudEqualsTheToolsOfTheScene();
    void stoppedExportLeavesNoFile();

private:
    TForm_view* foundDocument(int kind, int mode);

    std::unique_ptr<TMDIform> main_;
    QTemporaryDir folder_;
    QStringList messages_;
    QString nextFileName_;
    CloudSettings nextCloud_;
};

void MotionTest::initTestCase() {
    QVERIFY(folder_.isValid());
    setMessageHook([this](QMessageBox::Icon, const QString&, const QString& text) {
        messages_ << text;
        return true;
    });
    setQuestionHook([](const QString&, const QStringList& buttons) {
        return static_cast<int>(buttons.size()) - 1;
    });
    main_ = std::make_unique<TMDIform>();
    main_->setPalettes(nullptr);
    main_->setProgramFolder(QM_DATA_DIR);
    main_->setFileDialogHook([this](const FileDialogRequest&) { return nextFileName_; });
    main_->setCloudSettingsHook([this](CloudSettings& s) {
        s = nextCloud_;
        return true;
    });
    main_->resize(900, 700);
    main_->show();
    main_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main_.get()));
}

void MotionTest::cleanupTestCase() {
    setMessageHook(nullptr);
    setQuestionHook(nullptr);
    main_.reset();
}

TForm_view* MotionTest::foundDocument(int kind, int mode) {
    main_->defaults().kind = static_cast<std::int8_t>(kind);
    main_->defaults().mode = static_cast<std::uint8_t>(mode);
    main_->defaults().width = 128;
    main_->defaults().height = 96;
    TForm_view* view = main_->newDocument();
    if (!view) return nullptr;
    view->A_rechercher->trigger();
    QElapsedTimer waited;
    waited.start();
    while (view->state() != kStateRendered && waited.elapsed() < 60000) QTest::qWait(20);
    return view->state() == kStateRendered ? view : nullptr;
}

void MotionTest::exportedCloudEqualsTheToolsOfTheScene() {
    // Julia: its sampling draws from the generator, and it is mirrored. A drag and a gradient
    // of its own make the scene the document's alone.
    for (int mode : {2, 0}) {
        TForm_view* view = foundDocument(2, mode);
        QVERIFY(view);
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(40, 40));
        QTest::mouseMove(view, QPoint(70, 30));
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(70, 30));
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

QTEST_MAIN(MotionTest)
#include "motion_test.moc"
