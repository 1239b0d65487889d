// The program as a new user meets it: where documents go beside the palettes, a main window
// that keeps its native window, window titles, the hint of a new document, tooltips, refused
// closes that say why, and a status bar that follows the language and the document.
#include <QAbstractFileIconProvider>
#include <QAbstractProxyModel>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHelpEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QWindow>

#include <sys/resource.h>

#include <fstream>
#include <string>

#include "core/strings/string_table.h"
#include "gui/attpal.h"
#include "gui/bmppal.h"
#include "gui/file_dialog.h"
#include "gui/language.h"
#include "gui/main_window.h"
#include "gui/palette_window.h"
#include "gui/preview_widget.h"
#include "gui/property_palette.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"

using namespace qm;
using namespace qm::gui;
using namespace qm::gui::test;

namespace {

const QString kEnglishModule = QStringLiteral(QM_DATA_DIR "/quillmere.ENU");

QRect globalFrame(const QWidget* w) {
    return QRect(w->parentWidget() ? w->parentWidget()->mapToGlobal(w->pos()) : w->pos(),
                 w->size());
}

}  // namespace

class WorkspaceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void theMainWindowKeepsItsNativeWindow();
    void titlesAreTheCaptions();
    void documentsStayClearOfThePalettes();
    void openWorksWithoutADocument();
    void aNewDocumentShowsTheHintUntilItsFirstAttractor();
    void everyCommandHasATooltipInBothLanguages();
    void aFastRenderReportsSpeedAndTenthsInTheCurrentLanguage();
    void refusedClosesSayWhy();
    void imageSizesAreCheckedAgainstTheToolsMemoryBudget();
    void fileDialogsSpeakTheInterfaceLanguage();
    void theLanguageIsStoredUnderThePathEncodedOnce();
    // With QM_SCREENSHOTS=folder: the pictures of the README.
    void screenshots();

private:
    void makeMainWindow();
    void useLanguage(bool english);

    std::unique_ptr<TMDIform> main_;
    QTemporaryDir folder_;
    QStringList messages_;
    QString programPath_;
};

void WorkspaceTest::initTestCase() {
    QVERIFY(folder_.isValid());
    setUpApplicationNames(QStringLiteral("0.2.1"));
    setMessageHook([this](QMessageBox::Icon, const QString&, const QString& text) {
        messages_ << text;
        return true;
    });
    // A program beside the English module, for the changes of language.
    programPath_ = folder_.filePath(QStringLiteral("quillmere"));
    QFile(programPath_).open(QIODevice::WriteOnly);
    QVERIFY(QFile::copy(kEnglishModule, folder_.filePath(QStringLiteral("quillmere.ENU"))));
}

void WorkspaceTest::init() {
    messages_.clear();
    useLanguage(false);
    makeMainWindow();
}

void WorkspaceTest::cleanup() {
    main_.reset();
}

void WorkspaceTest::cleanupTestCase() {
    setMessageHook(nullptr);
    strings().clearOverrides();
}

void WorkspaceTest::makeMainWindow() {
    main_ = std::make_unique<TMDIform>();
    main_->setProgramFolder(QM_DATA_DIR);
    main_->setLanguageSettings(
        std::make_unique<LanguageSettings>(folder_.filePath(QStringLiteral("settings.conf"))),
        programPath_);
    main_->setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    main_->show();
    QVERIFY(QTest::qWaitForWindowExposed(main_.get()));
}

void WorkspaceTest::useLanguage(bool english) {
    loadLanguage(programPath_, english ? QStringLiteral("EN") : QStringLiteral("FR"));
    QCOMPARE(strings().isFrench(), !english);
    if (main_) main_->retranslate();
}

void WorkspaceTest::theMainWindowKeepsItsNativeWindow() {
    // The first OpenGL preview must not make Qt re-create the frame's native window.
    const WId before = main_->winId();
    const QWindow* handle = main_->windowHandle();
    QVERIFY(main_->newDocument());
    QTest::qWait(100);
    QCOMPARE(main_->winId(), before);
    QCOMPARE(main_->windowHandle(), handle);
}

void WorkspaceTest::titlesAreTheCaptions() {
    const QString xprop = QStandardPaths::findExecutable(QStringLiteral("xprop"));
    if (xprop.isEmpty() || QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs xprop and an X display");
    QVERIFY(main_->newDocument());
    auto& palettes = static_cast<PaletteWindows&>(main_->palettes());
    QTest::qWait(100);
    const auto nativeTitle = [&](QWidget* w) {
        QProcess p;
        p.start(xprop, {QStringLiteral("-id"), QString::number(w->winId()),
                        QStringLiteral("_NET_WM_NAME")});
        p.waitForFinished(5000);
        const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        const int quote = out.indexOf(QLatin1Char('"'));
        return quote < 0 ? out : out.mid(quote + 1).chopped(1);
    };
    QCOMPARE(nativeTitle(main_.get()), QStringLiteral("Quillmere 0.2.1"));
    QCOMPARE(nativeTitle(&palettes.attractorPalette()), QStringLiteral("attracteur"));
    QCOMPARE(nativeTitle(&palettes.renderPalette()), QStringLiteral("vue"));
    // A document's frame shows its caption, with nothing appended.
    TForm_view* view = main_->activeDocument();
    QCOMPARE(documentWindow(view)->windowTitle(), view->windowTitle());
    QVERIFY(view->windowTitle().startsWith(QStringLiteral("Sans Titre 1 - ")));
}

void WorkspaceTest::documentsStayClearOfThePalettes() {
    main_->defaults().width = 800;
    main_->defaults().height = 600;
    QList<TForm_view*> views;
    for (int i = 0; i < 5; ++i) {
        TForm_view* view = main_->newDocument();
        QVERIFY(view);
        views << view;
    }
    const QRect occupied = main_->palettes().occupiedArea();
    QVERIFY(occupied.isValid());
    QMdiArea* area = main_->findChild<QMdiArea*>();
    const QRect frame(area->viewport()->mapToGlobal(QPoint(0, 0)), area->viewport()->size());
    const auto checkClear = [&](TForm_view* view) {
        const QRect g = globalFrame(documentWindow(view));
        QVERIFY2(!g.intersects(occupied),
                 qPrintable(QStringLiteral("%1,%2 %3x%4 under the palettes")
                                .arg(g.x())
                                .arg(g.y())
                                .arg(g.width())
                                .arg(g.height())));
        QVERIFY(frame.contains(g));
    };
    for (TForm_view* view : views) checkClear(view);
    // Cascaded: no two windows at the same place.
    for (int i = 1; i < views.size(); ++i)
        QVERIFY(documentWindow(views[i])->pos() != documentWindow(views[i - 1])->pos());

    // Widened to 1024 and taller than the frame: the window stays clear and shows the whole
    // image scaled down, or at 100% with scroll bars.
    TForm_view* last = views.last();
    QVERIFY(last->setImageSize(1024, 1200));
    checkClear(last);
    QVERIFY(last->displayScale() < 1);
    QVERIFY(last->height() < 1200);
    for (const QScrollBar* bar : last->findChildren<QScrollBar*>()) QVERIFY(!bar->isVisible());
    last->A_taille_reelle->trigger();
    checkClear(last);
    QCOMPARE(last->displayScale(), 1.0);
    for (const QScrollBar* bar : last->findChildren<QScrollBar*>())
        QVERIFY(bar->isVisible() && bar->maximum() > 0);

    // A small image keeps its whole size.
    QVERIFY(last->setImageSize(320, 240));
    QCOMPARE(documentWindow(last)->widget()->size(), QSize(320, 240));
    checkClear(last);
}

void WorkspaceTest::openWorksWithoutADocument() {
    QVERIFY(main_->A_ouvrir->isVisible() && main_->A_ouvrir->isEnabled());
    main_->setFileDialogHook([](const FileDialogRequest&) {
        return QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr");
    });
    main_->A_ouvrir->trigger();
    QCOMPARE(main_->openDocumentCount(), 1);
    TForm_view* view = main_->activeDocument();
    QVERIFY(view && view->attractor()->kindCode() == 3);
    QCOMPARE(view->state(), kStateRendered);
    // With a document, the file goes into it.
    main_->setFileDialogHook([](const FileDialogRequest&) {
        return QStringLiteral(QM_DATA_DIR "/examples/icon.qmattr");
    });
    main_->A_ouvrir->trigger();
    QCOMPARE(main_->openDocumentCount(), 1);
    QCOMPARE(view->attractor()->kindCode(), 0);
}

void WorkspaceTest::aNewDocumentShowsTheHintUntilItsFirstAttractor() {
    TForm_view* view = main_->newDocument();
    QVERIFY(view);
    auto* hint = view->findChild<QLabel*>(QStringLiteral("hint"));
    QVERIFY(hint && hint->isVisible());
    QCOMPARE(hint->text(), QStringLiteral("F3 : rechercher un attracteur"));
    QCOMPARE(hint->geometry(), view->rect());
    QVERIFY(hint->alignment() & Qt::AlignCenter);
    useLanguage(true);
    QCOMPARE(hint->text(), QStringLiteral("F3: search for an attractor"));
    useLanguage(false);
    QVERIFY(searchFound(view));
    QVERIFY(!hint->isVisible());
    // A new kind is a new attractor, but no longer a new document.
    view->setAttractorKind(3);
    QCOMPARE(view->state(), kStateNew);
    QVERIFY(!hint->isVisible());
}

void WorkspaceTest::everyCommandHasATooltipInBothLanguages() {
    TForm_view* view = main_->newDocument();
    QVERIFY(view);
    QList<QAction*> actions = main_->findChildren<QAction*>(Qt::FindDirectChildrenOnly);
    actions += view->findChildren<QAction*>(Qt::FindDirectChildrenOnly);
    QVERIFY(actions.size() >= 16);
    QStringList french;
    for (QAction* a : actions) {
        if (a->isSeparator() || a->menu()) continue;
        QVERIFY2(!a->toolTip().isEmpty() && a->toolTip() != a->text().remove(QLatin1Char('&')),
                 qPrintable(a->text()));
        french << a->toolTip();
    }
    useLanguage(true);
    QStringList english;
    for (QAction* a : actions)
        if (!a->isSeparator() && !a->menu()) english << a->toolTip();
    QCOMPARE(english.size(), french.size());
    for (int i = 0; i < english.size(); ++i)
        QVERIFY2(english[i] != french[i], qPrintable(english[i]));
    QVERIFY(english.contains(QStringLiteral("Fit the view to the whole attractor")));
}

void WorkspaceTest::aFastRenderReportsSpeedAndTenthsInTheCurrentLanguage() {
    TForm_view* view = main_->newDocument();
    QVERIFY(view);
    QVERIFY(searchFound(view));
    view->setTotalIterations(300000);
    QVERIFY(renderToEnd(view, 20000));
    // Well under a second: the average speed and a time with tenths.
    const QString speed = main_->statusText(2);
    QVERIFY2(speed.startsWith(QStringLiteral("i/s : ")) && speed.size() > 6, qPrintable(speed));
    const QString time = main_->statusText(3);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^temps total : 00:00:0\\d,\\d$")).match(time).hasMatch(),
        qPrintable(time));
    QCOMPARE(main_->progress(), 1024);

    // Every panel changes with the language, and back.
    useLanguage(true);
    QVERIFY2(main_->statusText(3).startsWith(QStringLiteral("total time: 00:00:0")),
             qPrintable(main_->statusText(3)));
    QVERIFY(main_->statusText(3).contains(QLatin1Char('.')));
    QVERIFY(main_->statusText(2).startsWith(QStringLiteral("i/s: ")));
    useLanguage(false);
    QCOMPARE(main_->statusText(3), time);

    // Back to the preview, the finished render's status goes.
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QCOMPARE(view->state(), kStatePreview);
    QCOMPARE(main_->progress(), 0);
    QVERIFY(main_->statusText(3).isEmpty());
    QCOMPARE(main_->statusText(2), QStringLiteral("i/s :"));
}

void WorkspaceTest::refusedClosesSayWhy() {
    TForm_view* view = main_->newDocument();
    QVERIFY(view);
    QVERIFY(searchFound(view));
    view->setTotalIterations(2000000000);
    QSignalSpy completed(view, &TForm_view::renderCompleted);
    view->A_demarrer->trigger();
    QCOMPARE(view->state(), kStateRendering);

    QVERIFY(!documentWindow(view)->close());
    QCOMPARE(messages_.size(), 1);
    QVERIFY2(messages_.last().contains(view->windowTitle()) &&
                 messages_.last().contains(QStringLiteral("F5")),
             qPrintable(messages_.last()));
    QVERIFY(!main_->close());
    QCOMPARE(messages_.size(), 2);
    QVERIFY(messages_.last().startsWith(QStringLiteral("Quillmere ne peut pas se fermer")));

    view->A_arreter->trigger();
    QVERIFY(completed.wait(20000));
    QVERIFY(documentWindow(view)->close());
    QCOMPARE(messages_.size(), 2);
}

void WorkspaceTest::imageSizesAreCheckedAgainstTheToolsMemoryBudget() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's own mappings make a tight data limit unsafe");
#endif
    // A data limit (ulimit -d) that leaves 64 MiB above what the program holds now: the
    // program refuses what the tool would, and says which limit and how much.
    std::uint64_t dataBytes = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmData:")) dataBytes = std::stoull(line.substr(7)) * 1024;
    QVERIFY(dataBytes > 0);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_DATA, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = dataBytes + (std::uint64_t{64} << 20);
    if (saved.rlim_cur != RLIM_INFINITY && saved.rlim_cur < tight.rlim_cur)
        QSKIP("the data limit is already tighter than this test's");
    QCOMPARE(setrlimit(RLIMIT_DATA, &tight), 0);
    // Gaz (mode 0) at 4096 × 4096 takes 288 MiB with its fixed-point sums and the encoder's
    // copy; 256 × 256 under 1.
    const bool large = main_->imageSizeAllowed(0, 4096, 4096);
    const bool small = main_->imageSizeAllowed(0, 256, 256);
    setrlimit(RLIMIT_DATA, &saved);
    QVERIFY(!large);
    QVERIFY(small);
    QCOMPARE(messages_.size(), 1);
    for (const char* part : {"4096 × 4096", "288 Mio", "ulimit -d"})
        QVERIFY2(messages_.last().contains(QString::fromUtf8(part)), qPrintable(messages_.last()));
}

void WorkspaceTest::fileDialogsSpeakTheInterfaceLanguage() {
    // The type column of a file dialog: its context is missing from the toolkit's French.
    const QFileInfo folder(QStringLiteral(QM_DATA_DIR "/examples"));
    QAbstractFileIconProvider icons;
    QCOMPARE(icons.type(folder), QStringLiteral("Dossier"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Voir dans :"));
    useLanguage(true);
    QCOMPARE(icons.type(folder), QStringLiteral("Folder"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
    useLanguage(false);
    QCOMPARE(icons.type(folder), QStringLiteral("Dossier"));

    // Sizes, types and dates in French whatever the system's regional settings.
    QFileDialog dialog(main_.get(), QString(), folder.absoluteFilePath());
    followInterfaceLanguage(dialog);
    dialog.show();
    auto* files = dialog.findChild<QFileSystemModel*>();
    QVERIFY(files && dialog.proxyModel());
    const QModelIndex lorenz = dialog.proxyModel()->mapFromSource(
        files->index(folder.absoluteFilePath() + QStringLiteral("/lorenz.qmattr")));
    QTRY_VERIFY(dialog.proxyModel()
                    ->data(lorenz.siblingAtColumn(1))
                    .toString()
                    .endsWith(QStringLiteral(" octets")));
    QCOMPARE(dialog.proxyModel()->data(lorenz.siblingAtColumn(2)).toString(),
             QStringLiteral("Fichier QMATTR"));
    const QDateTime modified =
        QFileInfo(folder.absoluteFilePath() + QStringLiteral("/lorenz.qmattr")).lastModified();
    QCOMPARE(dialog.proxyModel()->data(lorenz.siblingAtColumn(3)).toString(),
             QLocale(QLocale::French, QLocale::France).toString(modified, QLocale::ShortFormat));
}

void WorkspaceTest::theLanguageIsStoredUnderThePathEncodedOnce() {
    const QString file = folder_.filePath(QStringLiteral("locales.conf"));
    const QString program = QStringLiteral("/opt/quill mere/bin/quillmere");
    // As earlier versions wrote it: the path's percent signs encoded again.
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Locales]\n%252Fopt%252Fquill%2520mere%252Fbin%252Fquillmere=EN\n");
    }
    {
        LanguageSettings settings(file);
        QCOMPARE(settings.stored(program), std::optional<QString>(QStringLiteral("EN")));
        QVERIFY(!settings.stored(QStringLiteral("/opt/other")));
        QVERIFY(settings.store(program, QStringLiteral("FR")));
    }
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString written = QString::fromUtf8(f.readAll());
    QCOMPARE(written, QStringLiteral("[Locales]\n%2Fopt%2Fquill%20mere%2Fbin%2Fquillmere=FR\n"));
    QCOMPARE(LanguageSettings(file).stored(program), std::optional<QString>(QStringLiteral("FR")));
}

void WorkspaceTest::screenshots() {
    const QString folder = qEnvironmentVariable("QM_SCREENSHOTS");
    if (folder.isEmpty()) QSKIP("QM_SCREENSHOTS is not set");
    QDir().mkpath(folder);
    const auto grab = [&](const QRect& area, const QString& name) {
        QTest::qWait(400);
        QGuiApplication::primaryScreen()
            ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
            .save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    };
    // A new document, then four examples, beside the palettes.
    main_->defaults().width = 640;
    main_->defaults().height = 480;
    TForm_view* fresh = main_->newDocument();
    QVERIFY(fresh);
    grab(globalFrame(documentWindow(fresh)), QStringLiteral("hint"));
    const QString examples = QStringLiteral(QM_DATA_DIR "/examples/");
    QCOMPARE(main_->openFiles({examples + QStringLiteral("lorenz.qmattr"),
                               examples + QStringLiteral("icon.qmattr"),
                               examples + QStringLiteral("julia.qmattr"),
                               examples + QStringLiteral("pickover.qmattr")}),
             4);
    grab(main_->frameGeometry(), QStringLiteral("workspace"));

    // A tooltip over the check box of a parameter row.
    auto& palettes = static_cast<PaletteWindows&>(main_->palettes());
    PropertyPalette& rows = palettes.attractorPalette().palette();
    const QRect row = rows.rowRect(*rows.rows().at(3));
    const QPoint at(6, row.center().y());
    QHelpEvent help(QEvent::ToolTip, at, rows.viewport()->mapToGlobal(at));
    QApplication::sendEvent(rows.viewport(), &help);
    QVERIFY(QToolTip::isVisible());
    const QRect palette = palettes.attractorPalette().frameGeometry();
    grab(QRect(palette.left() - 120, palette.top(), palette.width() + 120, palette.height() + 40),
         QStringLiteral("tooltip"));
    QToolTip::hideText();

    // The open dialog in French, on a copy of the examples.
    const QString copies = folder_.filePath(QStringLiteral("exemples"));
    QDir().mkpath(copies);
    for (const QString& name : QDir(examples).entryList({QStringLiteral("*.qmattr")}))
        QFile::copy(examples + name, copies + QLatin1Char('/') + name);
    QFileDialog dialog(main_.get(), qtext(TextId::kOpenDialogTitle), copies,
                       dialogFilter(TextId::kAttractorFilter));
    followInterfaceLanguage(dialog);
    dialog.setViewMode(QFileDialog::Detail);
    dialog.resize(760, 440);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.selectFile(copies + QStringLiteral("/lorenz.qmattr"));
    grab(dialog.frameGeometry(), QStringLiteral("file-dialog"));
}

int main(int argc, char** argv) {
    qm::gui::requestPreviewSurfaceFormat();
    QApplication app(argc, argv);
    WorkspaceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "workspace_test.moc"
