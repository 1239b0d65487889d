// What the program's window tests share: the main window made, shown and active with its
// message boxes, questions and file dialogs answered by the test; documents made, searched and
// rendered with waits on conditions (a wait that runs out says what it saw); mouse drags, keys
// and screenshots; the tool run in this process; files read whole.
//
//   TestProgram program;                       // a member of the test object
//   QVERIFY(program.start({900, 700}));        // in initTestCase
//   TForm_view* view = program.newDocument(3, 0, {128, 96});
//   QVERIFY(searchFound(view));
//   QVERIFY(renderToEnd(view));
#pragma once

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/attractor/random31.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/view.h"

namespace qm::gui::test {

// The names of a document's states, for messages.
inline const char* stateName(std::uint8_t state) {
    switch (state) {
        case kStateNew:
            return "new";
        case kStatePreview:
            return "preview";
        case kStateRendering:
            return "rendering";
        case kStateRendered:
            return "rendered";
        case kStateSearching:
            return "searching";
        default:
            return "?";
    }
}

// Waits, handling events, until the document is in the state; false, with what it waited for
// and what it saw, when the time runs out.
inline bool waitForState(const TForm_view* view, std::uint8_t state, int timeoutMs = 60000) {
    QElapsedTimer waited;
    waited.start();
    while (view->state() != state && waited.elapsed() < timeoutMs) QTest::qWait(20);
    if (view->state() == state) return true;
    qWarning("waited %lld ms for \"%s\" to be %s; it is %s",
             static_cast<long long>(waited.elapsed()), qPrintable(view->windowTitle()),
             stateName(state), stateName(view->state()));
    return false;
}

// Waits, handling events, until done() holds; false, saying what it waited for and, given
// seen, what it saw instead, when the time runs out.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs, const char* what,
                      const std::function<QString()>& seen = {}) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < timeoutMs) QTest::qWait(20);
    if (done()) return true;
    if (seen)
        qWarning("waited %lld ms for %s; %s", static_cast<long long>(waited.elapsed()), what,
                 qPrintable(seen()));
    else
        qWarning("waited %lld ms for %s", static_cast<long long>(waited.elapsed()), what);
    return false;
}

// "Rechercher" until a find is shown. The search draws from this thread's generator, which a
// new view seeds from the clock: seeded here instead (with the seed given, else one that
// follows the searches of this process in turn), every run finds the same attractors, and a
// find whose orbit leaves in a later render fails every run, never one run in many.
inline bool searchFound(TForm_view* view, std::optional<std::uint32_t> seed = std::nullopt,
                        int timeoutMs = 60000) {
    static std::uint32_t searches = 0;
    seedRandom31(seed ? *seed : 20261207 + searches++);
    view->A_rechercher->trigger();
    return waitForState(view, kStateRendered, timeoutMs);
}

// "Démarrer", and the render waited for to its end.
inline bool renderToEnd(TForm_view* view, int timeoutMs = 60000) {
    QSignalSpy completed(view, &TForm_view::renderCompleted);
    view->A_demarrer->trigger();
    if (view->state() != kStateRendering && completed.isEmpty()) {
        qWarning("\"%s\" did not start its render: it is %s", qPrintable(view->windowTitle()),
                 stateName(view->state()));
        return false;
    }
    if (completed.isEmpty() && !completed.wait(timeoutMs)) {
        qWarning("the render of \"%s\" did not end within %d ms: it is %s",
                 qPrintable(view->windowTitle()), timeoutMs, stateName(view->state()));
        return false;
    }
    return view->state() == kStateRendered;
}

// Activates the window (there is no window manager to do it under Xvfb) and waits for it;
// false, saying which window is active instead, when it does not become active.
inline bool activate(QWidget* window) {
    window->activateWindow();
    if (QTest::qWaitForWindowActive(window)) return true;
    const QWidget* active = QApplication::activeWindow();
    qWarning("%s did not become active; the active window is %s", window->metaObject()->className(),
             active ? active->metaObject()->className() : "none");
    return false;
}

// Shortcuts reach the active window only.
inline bool pressKey(QWidget* window, Qt::Key key,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    if (!activate(window)) return false;
    QTest::keyClick(window, key, modifiers);
    return true;
}

// A left-button drag from `from` through the points to the last, with the keys held (which
// QTest::mouseMove does not send); the first move only anchors it.
inline void drag(QWidget* view, QPoint from, const std::vector<QPoint>& through,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mousePress(view, Qt::LeftButton, modifiers, from);
    std::vector<QPoint> moves{from};
    moves.insert(moves.end(), through.begin(), through.end());
    for (const QPoint at : moves) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), view->mapToGlobal(QPointF(at)),
                         Qt::NoButton, Qt::LeftButton, modifiers);
        QApplication::sendEvent(view, &move);
    }
    QTest::mouseRelease(view, Qt::LeftButton, modifiers, moves.back());
}
inline void drag(QWidget* view, QPoint from, QPoint to,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    drag(view, from, std::vector<QPoint>{to}, modifiers);
}

// Types the text key by key.
inline void typeInto(QWidget* w, const QString& text) {
    for (QChar c : text) QTest::keyClick(w, c.toLatin1());
}

// With QM_SCREENSHOTS=folder set, saves the window's frame there as name.png.
inline void shoot(QWidget* window, const QString& name, int settleMs = 200) {
    const QString folder = qEnvironmentVariable("QM_SCREENSHOTS");
    if (folder.isEmpty()) return;
    QTest::qWait(settleMs);
    QDir().mkpath(folder);
    const QRect frame = window->frameGeometry();
    window->screen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

inline QByteArray slurp(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// quillmere-cli with these arguments, run in this process; its exit status, and what it wrote
// on standard error into err.
inline int runTool(const QStringList& args, std::string* err = nullptr) {
    std::vector<std::string> words{"quillmere-cli"};
    for (const QString& a : args) words.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    std::ostringstream out, errors;
    const int status = qm::cli::run(static_cast<int>(argv.size()), argv.data(), out, errors);
    if (err) *err = errors.str();
    return status;
}

// Palettes that show nothing and give the render settings the test chooses.
class FixedPalettes final : public Palettes {
public:
    FixedPalettes(std::int32_t updates, std::int32_t threads, std::int32_t streams)
        : updates_(updates), threads_(threads), streams_(streams) {}
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
    std::int32_t updateCount() const override { return updates_; }
    std::int32_t renderThreads() const override { return threads_; }
    std::int32_t renderStreams() const override { return streams_; }

private:
    std::int32_t updates_, threads_, streams_;
};

// The program's main window for a test, with every dialog it would show answered here.
class TestProgram {
public:
    QStringList messages;   // the texts of the message boxes shown
    QStringList questions;  // the texts of the questions asked
    QList<int> answers;     // the buttons the next questions take, in order
    int answer = -1;        // the button any other question takes; -1: the last one
    // False: no question is asked here, and the program takes the answer it gives unattended.
    bool answerQuestions = true;
    QString nextFileName;  // what the next file dialog gives
    QString nextFilter;    // the filter it reports chosen
    std::unique_ptr<TMDIform> main;

    TestProgram() = default;
    TestProgram(const TestProgram&) = delete;
    TestProgram& operator=(const TestProgram&) = delete;
    ~TestProgram() { stop(); }

    // Installs the hooks, makes the main window with the palettes given (none by default; the
    // program's own with programPalettes), the data files of the source tree, shows it at
    // that size and waits until it is active.
    bool start(QSize size, std::unique_ptr<Palettes> palettes = nullptr,
               bool programPalettes = false) {
        setMessageHook([this](QMessageBox::Icon, const QString&, const QString& text) {
            messages << text;
            return true;
        });
        if (answerQuestions)
            setQuestionHook([this](const QString& text, const QStringList& buttons) {
                questions << text;
                if (!answers.isEmpty()) return answers.takeFirst();
                return answer >= 0 ? answer : static_cast<int>(buttons.size()) - 1;
            });
        main = std::make_unique<TMDIform>();
        if (!programPalettes) main->setPalettes(std::move(palettes));
        main->setProgramFolder(QM_DATA_DIR);
        main->setFileDialogHook([this](const FileDialogRequest& request) {
            if (request.selectedFilter) *request.selectedFilter = nextFilter;
            return nextFileName;
        });
        main->resize(size);
        main->show();
        return activate(main.get());
    }

    // Ends the window (a running worker is stopped) and removes the hooks.
    void stop() {
        main.reset();
        setMessageHook(nullptr);
        setQuestionHook(nullptr);
    }

    // A new document of the kind and mode at that size, which the next ones take too.
    TForm_view* newDocument(int kind, int mode, QSize size) {
        main->defaults().kind = static_cast<std::int8_t>(kind);
        main->defaults().mode = static_cast<std::uint8_t>(mode);
        main->defaults().width = size.width();
        main->defaults().height = size.height();
        return main->newDocument();
    }

    // The messages shown so far, one a line, and forgotten: for a check that there was none.
    QString takeMessages() {
        const QString all = messages.join(QLatin1Char('\n'));
        messages.clear();
        return all;
    }
};

}  // namespace qm::gui::test
