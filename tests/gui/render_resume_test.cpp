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

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/attractor/attractor.h"
#include "core/file/attractor_file.h"
#include "core/render/bitmap3d.h"
#include "core/render/render_engine.h"
#include "core/render/sampling.h"
#include "core/render/state/render_resume.h"
#include "core/render/state/render_state_file.h"
#include "core/strings/string_table.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/render_autosave.h"
#include "gui/render_thread.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"

using namespace qm;
using namespace qm::gui;
namespace fs = std::filesystem;

namespace {

// Palettes that render with 16 streams on 2 threads and many developments.
std::unique_ptr<Palettes> testPalettes() {
    return std::make_unique<test::FixedPalettes>(37, 2, 16);
}

std::vector<std::uint8_t> imageBytes(const TBitmap3D& target) {
    const ImageView v = target.imageView();
    return {v.bits, v.bits + static_cast<std::ptrdiff_t>(v.bytesPerLine) * v.height};
}

// Develops at the updates; asks the render to stop after `rounds` rounds.
class StoppingSink final : public RenderSink {
public:
    StoppingSink(TBitmap3D& target, RenderControl& control, int rounds)
        : target_(target), control_(control), rounds_(rounds) {}
    void develop() override {
        target_.BuildImage();
        ++developments;
    }
    void betweenRounds() override {
        if (--rounds_ == 0) control_.stopRequested.store(true);
    }
    std::uint64_t developments = 0;

private:
    TBitmap3D& target_;
    RenderControl& control_;
    int rounds_;
};

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
    void savedStateResumesFromTheMenu();
    void badStateFilesChangeNothing();
    void damagedAutosaveIsSetAsideAfterItsOffer();
    void failedAutosaveIsShownInTheStatusBar();

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
    std::string renderScene;  // what a PNG of the stopped render carries
    const fs::path orphan = autosaveFolder() / kDeadOwnerName;
    fs::path ownFile;
    {
        TMDIform main;
        main.setPalettes(testPalettes());
        main.setAutosaveSeconds(0.02);
        // Two documents of the same file and settings: the first renders to its end, the
        // second is stopped and resumed.
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
        renderScene = view->pngTexts().scene;
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
    main.setPalettes(testPalettes());
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
    // The scene's preview points, for the live preview once the render is over.
    const std::vector<Vecd>& preview = view->renderTarget()->previewPoints;
    QVERIFY(std::any_of(preview.begin(), preview.end(),
                        [](const Vecd& p) { return p.x != 0 || p.y != 0 || p.z != 0; }));
    QSignalSpy completed(view, &TForm_view::renderCompleted);
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 60000);
    QVERIFY(imageBytes(*view->renderTarget()) == expected);
    // Its image carries the scene the render began with, kept in the autosave.
    QCOMPARE(view->pngTexts().scene, renderScene);
    // Done: nothing is left to offer.
    QVERIFY(!fs::exists(orphan));
    QVERIFY(orphanedAutosaves().isEmpty());
    QVERIFY(!fs::exists(autosavePath(view->autosaveNumber())));
}

// A checkpoint as the tool writes one (its scene, settings and counters), stopped after a few
// rounds, continued through "Reprendre un rendu...", against the same render run through.
void RenderResumeTest::savedStateResumesFromTheMenu() {
    const std::int64_t total = 2000003;
    const EngineSettings settings{total, 10, 16, 2, 9, {}};
    auto parser = makeAttractorParser();
    auto setUp = [&](std::unique_ptr<Attractor>& attractor, std::unique_ptr<TBitmap3D>& target) {
        LoadResult loaded = loadAttractor(*parser, QM_DATA_DIR "/examples/lorenz.qmattr");
        QVERIFY(loaded);
        attractor = std::move(loaded.attractor);
        target = CreateRenderTarget(0);
        target->SetWidth(320);
        target->SetHeight(240);
        target->SetEye({0, 0, -5});
        target->SetTarget({0, 0, 0});
        QVERIFY(sampleAttractor(*attractor, *target, 10000, SamplingMode::Fit));
        target->SetView();
        target->ClearImage();
        attractor->restart();
    };
    std::vector<std::uint8_t> expected;
    {
        std::unique_ptr<Attractor> attractor;
        std::unique_ptr<TBitmap3D> target;
        setUp(attractor, target);
        RenderEngine engine(*attractor, *target, settings);
        RenderControl control;
        StoppingSink sink(*target, control, -1);
        if (engine.run(sink, control).needsFinalDevelop) target->BuildImage();
        expected = imageBytes(*target);
    }
    const QString file = state_.filePath(QStringLiteral("tool.qmrender"));
    {
        std::unique_ptr<Attractor> attractor;
        std::unique_ptr<TBitmap3D> target;
        setUp(attractor, target);
        RenderEngine engine(*attractor, *target, settings);
        RenderControl control;
        StoppingSink sink(*target, control, 7);
        const RenderOutcome outcome = engine.run(sink, control);
        QVERIFY(outcome.stopped && outcome.counter < total);
        RenderState state;
        std::ostringstream scene;
        QVERIFY(writeAttractor(*parser, *attractor, scene));
        state.scene = scene.str();
        setRenderSettings(state, settings);
        state.set("checkpoint_every", 300.0);
        state.set("seed", "0");
        captureRender(*target, engine, sink.developments, state);
        QVERIFY(writeRenderState(file.toStdString(), state));
    }

    TMDIform main;
    main.setPalettes(testPalettes());
    main.setAutosaveSeconds(0);
    main.setFileDialogHook([&](const FileDialogRequest&) { return file; });
    messages_.clear();
    main.A_reprendre->trigger();
    QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
    TForm_view* view = main.activeDocument();
    QVERIFY(view);
    QCOMPARE(view->renderTarget()->imageWidth, 320);
    QSignalSpy completed(view, &TForm_view::renderCompleted);
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 60000);
    QVERIFY(imageBytes(*view->renderTarget()) == expected);
    // The user's file is theirs: resuming it neither moves nor removes it.
    QVERIFY(QFile::exists(file));
}

void RenderResumeTest::badStateFilesChangeNothing() {
    TMDIform main;
    main.setPalettes(testPalettes());
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

void RenderResumeTest::damagedAutosaveIsSetAsideAfterItsOffer() {
    fs::create_directories(autosaveFolder());
    const fs::path orphan = autosaveFolder() / kDeadOwnerName;
    std::ofstream(orphan) << "QMRENDER, but cut short";
    TMDIform main;
    main.setPalettes(testPalettes());
    int offers = 0;
    main.setResumeOfferHook([&](const QString&) {
        ++offers;
        return ResumeChoice::Resume;
    });
    messages_.clear();
    QCOMPARE(main.offerAutosavedRenders(), 0);
    QCOMPARE(offers, 1);
    // Refused once, with where the file went; the next start offers nothing.
    const fs::path aside = orphan.string() + ".damaged";
    QCOMPARE(messages_.size(), 1);
    QVERIFY2(messages_.front().contains(QString::fromStdString(aside.string())),
             qPrintable(messages_.front()));
    QVERIFY(!fs::exists(orphan));
    QVERIFY(fs::exists(aside));
    QCOMPARE(main.offerAutosavedRenders(), 0);
    QCOMPARE(offers, 1);
    QCOMPARE(main.openDocumentCount(), 0);
    fs::remove(aside);
}

void RenderResumeTest::failedAutosaveIsShownInTheStatusBar() {
    // A file where the autosave folder should be: every write fails.
    const fs::path folder = autosaveFolder();
    fs::remove_all(folder);
    std::ofstream(folder) << "not a folder";
    TMDIform main;
    main.setPalettes(testPalettes());
    main.setAutosaveSeconds(0.02);
    QCOMPARE(main.openFiles({QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr")}), 1);
    TForm_view* view = main.activeDocument();
    view->setTotalIterations(400000001);
    QSignalSpy completed(view, &TForm_view::renderCompleted);
    view->A_demarrer->trigger();
    const QString failed = qtext(TextId::kAutosaveFailed).section(QLatin1Char('%'), 0, 0);
    QTRY_VERIFY_WITH_TIMEOUT(main.statusText(4).startsWith(failed), 30000);
    view->A_arreter->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 60000);
    // Still shown once the render is over (the stop's own autosave failed too).
    QVERIFY(main.statusText(4).startsWith(failed));
    fs::remove(folder);
}

QTEST_MAIN(RenderResumeTest)
#include "render_resume_test.moc"
