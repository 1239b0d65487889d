// Autosaved and saved renders in the program: a render stopped with its state autosaved, taken
// up by a new main window as after a crash, ends with the bytes of a render that never
// stopped; "Reprendre un rendu..." refuses damaged and foreign files without opening anything.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/attractor/attractor.h"
#include "core/render/bitmap3d.h"
#include "core/render/render_engine.h"
#include "core/render/state/render_state_file.h"
#include "core/strings/string_table.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/render_autosave.h"
#include "gui/render_thread.h"
#include "gui/texts.h"
#include "gui/view.h"

using namespace qm;
using namespace qm::gui;
namespace fs = std::filesystem;

namespace {

// Palettes that render with 16 streams on 2 threads and many developments.
class TestPalettes final : public Palettes {
public:
    void showAttractor(Attractor*) override {}
    void showRenderTarget(TBitmap3D*) override {}
    void release(const Attractor*, const TBitmap3D*) override {}
    void retranslate() override {}
    void refreshValues() override {}
    void fillAttractorPalette() override {}
    void setPalettesEnabled(bool) override {}
    void setPalettesVisible(bool) override {}
    void selectKind(std::int8_t) override {}
    void selectMode(int) override {}
    void refreshScale() override {}
    std::int32_t updateCount() const override { return 37; }
    std::int32_t renderThreads() const override { return 2; }
    std::int32_t renderStreams() const override { return 16; }
};

std::vector<std::uint8_t> imageBytes(const TBitmap3D& target) {
    const ImageView v = target.imageView();
    return {v.bits, v.bits + static_cast<std::ptrdiff_t>(v.bytesPerLine) * v.height};
}

// A name of the autosave form whose process cannot be alive (past any pid_max).
constexpr const char* kDeadOwnerName = "render-2147483646-7.qmrender";

}  // namespace

class RenderResumeTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void autosaveNames();
    void crashedRenderResumesToTheSameBytes_data();
    void crashedRenderResumesToTheSameBytes();
    void badStateFilesChangeNothing();

private:
    QTemporaryDir state_;
    QStringList messages_;
};

void RenderResumeTest::initTestCase() {
    QVERIFY(state_.isValid());
    ::setenv("XDG_STATE_HOME", state_.path().toLocal8Bit().constData(), 1);
    setMessageHook([this](QMessageBox::Icon, const QString&, const QString& text) {
        messages_ << text;
        return true;
    });
}

void RenderResumeTest::autosaveNames() {
    QCOMPARE(autosaveFolder(), fs::path(state_.path().toStdString()) / "quillmere");
    const fs::path own = autosavePath(3);
    QCOMPARE(autosaveOwner(own), static_cast<std::int64_t>(::getpid()));
    QCOMPARE(autosaveOwner(autosaveFolder() / kDeadOwnerName), std::int64_t{2147483646});
    for (const char* bad : {"render-12.qmrender", "render--1-2.qmrender", "render-1-2.qmattr",
                            "render-99999999999-1.qmrender", "other-1-2.qmrender"})
        QCOMPARE(autosaveOwner(autosaveFolder() / bad), std::int64_t{0});

    // A live owner's file (this process) is never offered; a dead one's is.
    fs::create_directories(autosaveFolder());
    std::ofstream(own) << "x";
    std::ofstream(autosaveFolder() / kDeadOwnerName) << "x";
    const QStringList orphans = orphanedAutosaves();
    QCOMPARE(orphans.size(), 1);
    QVERIFY(orphans.front().endsWith(QLatin1String(kDeadOwnerName)));
    fs::remove_all(autosaveFolder());
}

void RenderResumeTest::crashedRenderResumesToTheSameBytes_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("gas") << 0;
    QTest::newRow("light") << 2;
    QTest::newRow("solid") << 4;
}

void RenderResumeTest::crashedRenderResumesToTheSameBytes() {
    QFETCH(int, mode);
    // Solid's light maps make it the slowest by far.
    const std::int64_t total = mode == 4 ? 400009 : 3000017;
    std::vector<std::uint8_t> expected;
    const fs::path orphan = autosaveFolder() / kDeadOwnerName;
    fs::path ownFile;
    {
        TMDIform main;
        main.setPalettes(std::make_unique<TestPalettes>());
        main.setAutosaveSeconds(0.02);
        // Two documents of the same file and settings: the first renders to its end, the
        // second is stopped and resumed. Each renders once: a Light document's second render
        // does not repeat its first one's bytes.
        auto open = [&] {
            [&] {
                QCOMPARE(main.openFiles({QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr")}),
                         1);
            }();
            TForm_view* view = main.activeDocument();
            view->setRenderMode(mode);
            view->setTotalIterations(total);
            view->setRenderSeed(5);
            return view;
        };
        TForm_view* reference = open();
        QSignalSpy referenceDone(reference, &TForm_view::renderCompleted);
        reference->A_demarrer->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(referenceDone.count(), 1, 120000);
        expected = imageBytes(*reference->renderTarget());
        // Ended by itself: no autosave is left.
        QVERIFY(!fs::exists(autosavePath(reference->autosaveNumber())));

        TForm_view* view = open();
        QSignalSpy completed(view, &TForm_view::renderCompleted);
        view->A_demarrer->trigger();
        QVERIFY(view->renderThread());
        QTRY_VERIFY_WITH_TIMEOUT(view->renderThread() && view->renderThread()->autosaves() >= 2,
                                 60000);
        // "Arrêter" (F5): the state of the last round is written once more.
        view->A_arreter->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 60000);
        ownFile = autosavePath(view->autosaveNumber());
        QVERIFY(fs::exists(ownFile));
        RenderState saved;
        QVERIFY(readRenderState(ownFile, saved));
        QVERIFY(saved.iterationsDone > 0 &&
                saved.iterationsDone < static_cast<std::uint64_t>(total));
        // A crashed program's file: the same state under an owner that is gone.
        fs::copy_file(ownFile, orphan, fs::copy_options::overwrite_existing);
    }
    // Closing the document took its own autosave away, not the crashed one.
    QVERIFY(!fs::exists(ownFile));
    QVERIFY(fs::exists(orphan));

    TMDIform main;
    main.setPalettes(std::make_unique<TestPalettes>());
    QStringList offered;
    main.setResumeOfferHook([&](const QString& file) {
        offered << file;
        return ResumeChoice::Resume;
    });
    messages_.clear();
    QCOMPARE(main.offerAutosavedRenders(), 1);
    QCOMPARE(offered.size(), 1);
    QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
    TForm_view* view = main.activeDocument();
    QVERIFY(view);
    QCOMPARE(view->state(), std::uint8_t{kStateRendering});
    QCOMPARE(int(view->renderTarget()->mode), mode);
    QCOMPARE(view->totalIterations(), total);
    QSignalSpy completed(view, &TForm_view::renderCompleted);
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 60000);
    QVERIFY(imageBytes(*view->renderTarget()) == expected);
    // Done: nothing is left to offer.
    QVERIFY(!fs::exists(orphan));
    QVERIFY(orphanedAutosaves().isEmpty());
    QVERIFY(!fs::exists(autosavePath(view->autosaveNumber())));
}

void RenderResumeTest::badStateFilesChangeNothing() {
    TMDIform main;
    main.setPalettes(std::make_unique<TestPalettes>());
    main.setAutosaveSeconds(0);
    // A real state, cut short; and an attractor file, which is no state at all.
    RenderState state;
    state.scene = "x";
    state.set("mode", 0.0);
    state.buffers.push_back({"density", std::vector<float>(4096, 1.5f), {}});
    const QString good = state_.filePath(QStringLiteral("good.qmrender"));
    QVERIFY(writeRenderState(good.toStdString(), state));
    const QString truncated = state_.filePath(QStringLiteral("cut.qmrender"));
    QVERIFY(QFile::copy(good, truncated));
    QVERIFY(QFile::resize(truncated, QFileInfo(good).size() - 100));
    const QString foreign = QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr");

    QString answer;
    main.setFileDialogHook([&](const FileDialogRequest& request) {
        [&] { QCOMPARE(request.kind, FileDialogKind::OpenRenderState); }();
        return answer;
    });
    const struct {
        QString file;
        int reason;
    } cases[] = {{truncated, TextId::kStateTruncated},
                 {foreign, TextId::kStateNotAState},
                 {state_.filePath(QStringLiteral("missing.qmrender")), TextId::kStateCannotOpen},
                 // Read back whole, but its scene is no attractor.
                 {good, TextId::kStateInconsistent}};
    for (const auto& c : cases) {
        messages_.clear();
        answer = c.file;
        main.A_reprendre->trigger();
        QCOMPARE(messages_.size(), 1);
        QVERIFY2(messages_.front().contains(c.file) && messages_.front().contains(qtext(c.reason)),
                 qPrintable(messages_.front()));
        QCOMPARE(main.openDocumentCount(), 0);
        QVERIFY(!main.renderRunning());
    }
}

QTEST_MAIN(RenderResumeTest)
#include "render_resume_test.moc"
