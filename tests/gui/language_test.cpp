// The interface language: which module the program loads at start, the choice kept in the
// settings, the language dialog at start and from the menu, and every open window taking the
// new texts at once. With QM_SCREENSHOTS=folder set, the session is saved in both languages.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

#include "core/strings/string_table.h"
#include "gui/attpal.h"
#include "gui/bmppal.h"
#include "gui/lang_dialog.h"
#include "gui/language.h"
#include "gui/main_window.h"
#include "gui/palette_window.h"
#include "gui/property_palette.h"
#include "gui/texts.h"
#include "gui/view.h"

using namespace qm;
using namespace qm::gui;

namespace {

const QString kEnglishModule = QStringLiteral(QM_DATA_DIR "/quillmere.ENU");

// Answers the language dialog once it is up: picks a row and presses a button.
void answerLanguageDialog(int row, const char* button = "B_ok") {
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<TForm_lang*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->S_lang->count(), 2);
        QCOMPARE(dialog->S_lang->currentRow(), 0);
        dialog->S_lang->setCurrentRow(row);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
    });
}

QStringList menuTitles(const QMainWindow& window) {
    QStringList titles;
    for (const QAction* a : window.menuBar()->actions())
        if (a->isVisible()) titles << a->text();
    return titles;
}

QStringList captions(const PropertyPalette& palette) {
    QStringList list;
    for (int i = 0; i < palette.rows().count(); ++i)
        list << QString::fromStdString(palette.rows().at(i)->caption());
    return list;
}

QByteArray contents(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class LanguageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void startLanguageFollowsTheStoredChoiceThenTheLocale();
    void damagedOrPartialModulesFallBackToFrench();
    void choiceRoundTripsThroughTheSettings();
    void dialogComesFirstAtStartThenTheWindowIsInEnglish();
    void switchingLanguageRetranslatesEveryOpenWindow();
    void switchingDuringARenderKeepsItsState();
    void cancelChangesNothing();
    void englishWithoutItsModuleSaysSoAndStaysFrench();
    void attractorFilesAreTheSameInBothLanguages();

private:
    // A program file in its own folder, with the English module beside it or not.
    QString makeProgram(const QString& name, bool withEnglish);
    std::unique_ptr<LanguageSettings> freshSettings();
    void makeMainWindow(const QString& program);
    void shoot(const QString& name);

    QTemporaryDir folder_;
    std::unique_ptr<TMDIform> main_;
    QStringList messages_;
    QString screenshots_;
    int settingsFiles_ = 0;
};

void LanguageTest::initTestCase() {
    QVERIFY(folder_.isValid());
    QVERIFY(QFile::exists(kEnglishModule));
    screenshots_ = qEnvironmentVariable("QM_SCREENSHOTS");
    setMessageHook([this](QMessageBox::Icon, const QString&, const QString& text) {
        messages_ << text;
        return true;
    });
}

void LanguageTest::init() {
    messages_.clear();
    strings().clearOverrides();
}

void LanguageTest::cleanupTestCase() {
    main_.reset();
    setMessageHook(nullptr);
    strings().clearOverrides();
}

QString LanguageTest::makeProgram(const QString& name, bool withEnglish) {
    const QString dir = folder_.filePath(name);
    QDir().mkpath(dir);
    const QString program = dir + QStringLiteral("/quillmere");
    QFile(program).open(QIODevice::WriteOnly);
    if (withEnglish) QFile::copy(kEnglishModule, dir + QStringLiteral("/quillmere.ENU"));
    return program;
}

std::unique_ptr<LanguageSettings> LanguageTest::freshSettings() {
    return std::make_unique<LanguageSettings>(
        folder_.filePath(QStringLiteral("settings%1.conf").arg(++settingsFiles_)));
}

void LanguageTest::makeMainWindow(const QString& program) {
    main_.reset();
    main_ = std::make_unique<TMDIform>();
    main_->setLanguageSettings(freshSettings(), program);
    main_->setProgramFolder(QM_DATA_DIR);
    main_->resize(900, 700);
}

void LanguageTest::shoot(const QString& name) {
    if (screenshots_.isEmpty()) return;
    QTest::qWait(300);
    QDir().mkpath(screenshots_);
    QGuiApplication::primaryScreen()->grabWindow(0).save(screenshots_ + QLatin1Char('/') + name +
                                                         QStringLiteral(".png"));
}

void LanguageTest::startLanguageFollowsTheStoredChoiceThenTheLocale() {
    const QString program = makeProgram(QStringLiteral("start"), true);
    const QString english = languageModulePath(program, QStringLiteral("ENU"));
    const QLocale en(QLocale::English, QLocale::UnitedStates), fr(QLocale::French, QLocale::France);
    QCOMPARE(abbreviatedLanguageName(en), QStringLiteral("ENU"));
    QCOMPARE(abbreviatedLanguageName(QLocale(QLocale::English, QLocale::UnitedKingdom)),
             QStringLiteral("ENU"));
    QCOMPARE(abbreviatedLanguageName(fr), QStringLiteral("FRA"));
    QCOMPARE(abbreviatedLanguageName(QLocale(QLocale::German)), QStringLiteral("DEU"));
    QCOMPARE(abbreviatedLanguageName(QLocale::c()), QString());
    QCOMPARE(languageModulePath(QStringLiteral("/opt/q/quillmere.bin"), QStringLiteral("EN")),
             QStringLiteral("/opt/q/quillmere.EN"));

    // Nothing stored: the locale's language; the dialog will ask.
    auto settings = freshSettings();
    QCOMPARE(loadStartLanguage(*settings, program, en), english);
    QCOMPARE(text(TextId::kMenuFile), std::string("&File"));
    QCOMPARE(loadStartLanguage(*settings, program, fr), QString());
    QVERIFY(strings().isFrench());
    QCOMPARE(loadStartLanguage(*settings, program, QLocale(QLocale::German)), QString());
    QCOMPARE(loadStartLanguage(*settings, program, QLocale::c()), QString());
    QVERIFY(languageCheckNeeded(*settings, program));

    // A stored choice wins over the locale, and "FR" gives French although an English module
    // is there and the locale is English.
    QVERIFY(settings->store(program, QStringLiteral("EN")));
    QCOMPARE(loadStartLanguage(*settings, program, fr), english);
    QVERIFY(!languageCheckNeeded(*settings, program));
    QVERIFY(settings->store(program, QStringLiteral("FR")));
    QCOMPARE(loadStartLanguage(*settings, program, en), QString());
    QVERIFY(strings().isFrench());
    QVERIFY(!languageCheckNeeded(*settings, program));
    // The three-letter codes load too, and bring the dialog back.
    QVERIFY(settings->store(program, QStringLiteral("ENU")));
    QCOMPARE(loadStartLanguage(*settings, program, fr), english);
    QVERIFY(languageCheckNeeded(*settings, program));
    QVERIFY(settings->store(program, QStringLiteral("FRA")));
    QCOMPARE(loadStartLanguage(*settings, program, en), QString());
    QVERIFY(languageCheckNeeded(*settings, program));
    // A code with no module, or one that is not a code at all, gives French.
    for (const char* code : {"DE", "", "../../etc/passwd", "EN/", "ENUX"}) {
        QVERIFY(settings->store(program, QString::fromLatin1(code)));
        QCOMPARE(loadStartLanguage(*settings, program, en), QString());
        QVERIFY(strings().isFrench());
    }

    // Without "quillmere.ENU" the two-letter module serves.
    const QString other = makeProgram(QStringLiteral("two-letters"), false);
    QVERIFY(QFile::copy(kEnglishModule, languageModulePath(other, QStringLiteral("EN"))));
    QCOMPARE(loadLanguage(other, QStringLiteral("EN")),
             languageModulePath(other, QStringLiteral("EN")));
    QCOMPARE(loadLanguage(other, QStringLiteral("ENU")),
             languageModulePath(other, QStringLiteral("EN")));
    QCOMPARE(text(TextId::kJuliaLevel), std::string("Level"));
}

void LanguageTest::damagedOrPartialModulesFallBackToFrench() {
    const QString program = makeProgram(QStringLiteral("damaged"), false);
    const QString module = languageModulePath(program, QStringLiteral("ENU"));
    const auto write = [&](const QByteArray& bytes) {
        QFile file(module);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    makeMainWindow(program);

    // Not a module: French, whatever was loaded before.
    QVERIFY(
        !loadLanguage(makeProgram(QStringLiteral("whole"), true), QStringLiteral("EN")).isEmpty());
    write(
        QByteArray("\x7f"
                   "ELF\x02\x01\x01\x00\x00\x00",
                   10));
    QCOMPARE(loadLanguage(program, QStringLiteral("EN")), QString());
    QVERIFY(strings().isFrench());
    write("");
    QCOMPARE(loadLanguage(program, QStringLiteral("EN")), QString());
    QFile::remove(module);
    QCOMPARE(loadLanguage(program, QStringLiteral("EN")), QString());

    // A partial module with damaged lines: what it gives is English, the rest French, and the
    // file keywords stay as they are.
    write(
        "quillmere-language 1\n"
        "3001\t&File\n"
        "3002 Help\n"
        "3008\t\xff&Quit\n"
        "2400\tattracteur\n"
        "3003\t&New...\n");
    QCOMPARE(loadLanguage(program, QStringLiteral("EN")), module);
    main_->retranslate();
    QCOMPARE(menuTitles(*main_), (QStringList{"&File", "&Edition", "Aide"}));
    QCOMPARE(main_->A_nouveau->text(), QStringLiteral("&New..."));
    QCOMPARE(main_->A_quitter->text(), QStringLiteral("&Quitter"));
    QCOMPARE(main_->A_apropos->text(), QStringLiteral("A propos..."));
    QCOMPARE(text(TextId::kFileAttractor), std::string("attractor"));
}

void LanguageTest::choiceRoundTripsThroughTheSettings() {
    const QString file = folder_.filePath(QStringLiteral("roundtrip.conf"));
    const QString first = QStringLiteral("/opt/Quillmère 2/bin/quillmere");
    const QString second = QStringLiteral("/usr/bin/quillmere");
    {
        LanguageSettings settings(file);
        QVERIFY(!settings.stored(first));
        QVERIFY(settings.store(first, QStringLiteral("EN")));
        QVERIFY(settings.store(second, QStringLiteral("FR")));
    }
    LanguageSettings again(file);
    QCOMPARE(again.stored(first), std::optional<QString>(QStringLiteral("EN")));
    QCOMPARE(again.stored(second), std::optional<QString>(QStringLiteral("FR")));
    QVERIFY(!again.stored(QStringLiteral("/opt/Quillmère 2/bin")));  // a folder is not its program
    QVERIFY(contents(file).contains("[Locales]"));

    // A settings file that cannot be written says so; the choice holds for the session.
    const QString blocked = folder_.filePath(QStringLiteral("blocked"));
    QVERIFY(QDir().mkpath(blocked + QStringLiteral("/settings.conf")));  // a folder in its way
    LanguageSettings unwritable(blocked + QStringLiteral("/settings.conf"));
    QVERIFY(!unwritable.store(first, QStringLiteral("EN")));

    const QString program = makeProgram(QStringLiteral("unwritable"), true);
    TForm_lang dialog(unwritable, program);
    dialog.S_lang->setCurrentRow(0);
    QTest::mouseClick(dialog.B_ok, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.loadedModule(), languageModulePath(program, QStringLiteral("ENU")));
    QCOMPARE(messages_.size(), 1);
    QVERIFY2(messages_[0].startsWith(QStringLiteral("The language choice could not be saved in ")),
             qPrintable(messages_[0]));
}

void LanguageTest::dialogComesFirstAtStartThenTheWindowIsInEnglish() {
    const QString program = makeProgram(QStringLiteral("first-start"), true);
    makeMainWindow(program);
    QCOMPARE(menuTitles(*main_), (QStringList{"&Fichier", "&Edition", "Aide"}));

    bool dialogSeenBeforeTheWindow = false;
    QTimer::singleShot(0, [&] { dialogSeenBeforeTheWindow = !main_->isVisible(); });
    answerLanguageDialog(0);
    QVERIFY(main_->checkLanguage());
    QVERIFY(dialogSeenBeforeTheWindow);
    QCOMPARE(main_->languageSettings().stored(program),
             std::optional<QString>(QStringLiteral("EN")));
    QCOMPARE(menuTitles(*main_), (QStringList{"&File", "&Edit", "Help"}));
    QCOMPARE(main_->windowTitle(), QStringLiteral("Quillmere 0.2.1"));
    QCOMPARE(main_->A_langue->text(), QStringLiteral("&Language..."));
    QCOMPARE(main_->statusText(2), QStringLiteral("i/s:"));
    // "EN" is kept: no dialog at the next start.
    QVERIFY(!main_->checkLanguage());
    QCOMPARE(main_->openFiles({QStringLiteral(QM_DATA_DIR "/examples/julia.qmattr")}), 1);
    QCOMPARE(main_->activeDocument()->windowTitle(),
             QStringLiteral("Untitled 1 - Julia (rendered)"));
}

void LanguageTest::switchingLanguageRetranslatesEveryOpenWindow() {
    const QString program = makeProgram(QStringLiteral("switch"), true);
    makeMainWindow(program);
    main_->show();
    QVERIFY(QTest::qWaitForWindowExposed(main_.get()));
    QCOMPARE(main_->openFiles({QStringLiteral(QM_DATA_DIR "/examples/julia.qmattr")}), 1);
    main_->defaults().kind = 6;  // a polynomial
    TForm_view* second = main_->newDocument();
    QVERIFY(second);
    TForm_view* julia = main_->documents().value(0);
    QVERIFY(julia && julia != second);
    auto& palettes = dynamic_cast<PaletteWindows&>(main_->palettes());
    QCOMPARE(second->windowTitle(), QStringLiteral("Sans Titre 2 - Polynôme, type A"));
    shoot(QStringLiteral("language-french"));

    answerLanguageDialog(0);
    main_->A_langue->trigger();
    QCOMPARE(main_->languageSettings().stored(program),
             std::optional<QString>(QStringLiteral("EN")));
    // Menus, merged document menus and their commands, captions, palettes and status bar.
    QCOMPARE(menuTitles(*main_), (QStringList{"&File", "&Edit", "&Attractor", "&View", "Help"}));
    QCOMPARE(second->A_rechercher->text(), QStringLiteral("&Search"));
    QCOMPARE(julia->A_demarrer->text(), QStringLiteral("&Start"));
    QCOMPARE(second->windowTitle(), QStringLiteral("Untitled 2 - Polynomial, type A"));
    QCOMPARE(julia->windowTitle(), QStringLiteral("Untitled 1 - Julia (rendered)"));
    QCOMPARE(main_->statusText(2), QStringLiteral("i/s:"));
    TForm_attpal& att = palettes.attractorPalette();
    TForm_bmppal& bmp = palettes.renderPalette();
    QCOMPARE(att.windowTitle(), QStringLiteral("attractor"));
    QCOMPARE(bmp.windowTitle(), QStringLiteral("view"));
    QCOMPARE(att.C_type->currentText(), QStringLiteral("Polynomial, type A"));
    QCOMPARE(bmp.C_render->currentText(), QStringLiteral("Gas"));
    QCOMPARE(captions(bmp.palette()).mid(0, 9),
             (QStringList{"Width", "Height", "Updates", "Threads", "Streams", "Autosave (min)",
                          "Scale", "Brightness", "Gamma"}));
    QCOMPARE(captions(att.palette()).mid(0, 2), (QStringList{"Iterations", "Randomness"}));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));

    // Julia's level is a name in the interface language, in documents made before the change.
    auto* juliaWindow = documentWindow(julia);
    juliaWindow->mdiArea()->setActiveSubWindow(juliaWindow);
    QTRY_COMPARE(main_->activeDocument(), julia);
    QCOMPARE(captions(att.palette()),
             (QStringList{"Iterations", "Randomness", "Level", "Cr", "Ci", "Phi"}));
    QCOMPARE(att.C_type->currentText(), QStringLiteral("Julia"));
    QVERIFY(julia->attractor()->params().findParam("Level"));
    shoot(QStringLiteral("language-english"));

    // "French" with no French module: the built-in texts, at once, and "FR" kept for the next
    // start.
    answerLanguageDialog(1);
    main_->A_langue->trigger();
    QCOMPARE(main_->languageSettings().stored(program),
             std::optional<QString>(QStringLiteral("FR")));
    QVERIFY(strings().isFrench());
    QCOMPARE(menuTitles(*main_),
             (QStringList{"&Fichier", "&Edition", "&Attracteur", "&Vue", "Aide"}));
    QCOMPARE(julia->windowTitle(), QStringLiteral("Sans Titre 1 - Julia (rendu)"));
    QCOMPARE(captions(att.palette()),
             (QStringList{"Itérations", "Hasard", "Niveau", "Cr", "Ci", "Phi"}));
    QCOMPARE(bmp.windowTitle(), QStringLiteral("vue"));
    // The toolkit's own dialogs speak French too.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Annuler"));
    QVERIFY(messages_.isEmpty());
    main_.reset();
}

void LanguageTest::switchingDuringARenderKeepsItsState() {
    const QString program = makeProgram(QStringLiteral("render"), true);
    makeMainWindow(program);
    main_->show();
    QVERIFY(QTest::qWaitForWindowExposed(main_.get()));
    QCOMPARE(main_->openFiles({QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr")}), 1);
    TForm_view* view = main_->activeDocument();
    auto& palettes = dynamic_cast<PaletteWindows&>(main_->palettes());
    view->A_demarrer->trigger();
    QCOMPARE(view->state(), kStateRendering);

    answerLanguageDialog(0);
    main_->A_langue->trigger();
    QCOMPARE(view->state(), kStateRendering);
    QCOMPARE(view->windowTitle(), QStringLiteral("Untitled 1 - Lorenz (rendering)"));
    QVERIFY(!palettes.attractorPalette().palette().isEnabled());
    QVERIFY(!palettes.attractorPalette().C_type->isEnabled());
    QVERIFY(!palettes.renderPalette().palette().rows().find("Brightness")->enabled());
    QVERIFY(!main_->fileCommandsEnabled());

    view->A_arreter->trigger();
    QTRY_COMPARE(view->state(), kStateRendered);
    QCOMPARE(view->windowTitle(), QStringLiteral("Untitled 1 - Lorenz (rendered)"));
    QVERIFY(palettes.attractorPalette().palette().isEnabled());
    QVERIFY(palettes.renderPalette().palette().rows().find("Brightness")->enabled());
    main_.reset();
}

void LanguageTest::cancelChangesNothing() {
    const QString program = makeProgram(QStringLiteral("cancel"), true);
    makeMainWindow(program);
    answerLanguageDialog(0, "B_annuler");
    QVERIFY(main_->checkLanguage());
    QVERIFY(!main_->languageSettings().stored(program));
    QVERIFY(strings().isFrench());
    QCOMPARE(menuTitles(*main_), (QStringList{"&Fichier", "&Edition", "Aide"}));
}

void LanguageTest::englishWithoutItsModuleSaysSoAndStaysFrench() {
    const QString program = makeProgram(QStringLiteral("no-module"), false);
    makeMainWindow(program);
    answerLanguageDialog(0);
    QVERIFY(main_->chooseLanguage());
    QCOMPARE(main_->languageSettings().stored(program),
             std::optional<QString>(QStringLiteral("EN")));
    QVERIFY(strings().isFrench());
    QCOMPARE(messages_.size(), 1);
    QVERIFY(messages_[0].contains(languageModulePath(program, QStringLiteral("ENU"))));
    QCOMPARE(menuTitles(*main_), (QStringList{"&Fichier", "&Edition", "Aide"}));
}

void LanguageTest::attractorFilesAreTheSameInBothLanguages() {
    const QString program = makeProgram(QStringLiteral("files"), true);
    makeMainWindow(program);
    main_->show();
    QVERIFY(QTest::qWaitForWindowExposed(main_.get()));
    QStringList written;
    for (const char* example : {"julia", "ifs", "polynomial_sprott", "lorenz_84"}) {
        const QString source =
            QStringLiteral(QM_DATA_DIR "/examples/%1.qmattr").arg(QLatin1String(example));
        QCOMPARE(main_->openFiles({source}), 1);
        TForm_view* view = main_->activeDocument();
        const QString french =
            folder_.filePath(QStringLiteral("%1-fr.qmattr").arg(QLatin1String(example)));
        const QString english =
            folder_.filePath(QStringLiteral("%1-en.qmattr").arg(QLatin1String(example)));
        strings().clearOverrides();
        main_->retranslate();
        QVERIFY(view->saveAttractor(french));
        QVERIFY(!loadLanguage(program, QStringLiteral("EN")).isEmpty());
        main_->retranslate();
        QVERIFY(view->saveAttractor(english));
        QVERIFY(!contents(french).isEmpty());
        QCOMPARE(contents(english), contents(french));
        // Read back in the other language.
        strings().clearOverrides();
        QCOMPARE(main_->openFiles({english}), 1);
        QVERIFY(messages_.isEmpty());
    }
    main_.reset();
}

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
