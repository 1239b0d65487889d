// The program's file loading against special files: a pipe, a device, a folder, a file over
// the size limit, given to "open" or standing where the language module should be. Each is
// refused at once with a message, and the program goes on. An alarm ends the test program if
// any of them hangs, as a plain open of a pipe without a writer does.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

#include "core/strings/string_table.h"
#include "gui/language.h"
#include "gui/main_window.h"
#include "gui/texts.h"

using namespace qm;
using namespace qm::gui;

class SpecialFilesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void openingRefusesSpecialFilesAtOnceAndOpensTheRest();
    void languageModuleThatIsAPipeLeavesTheProgramInFrench();
    void settingsFileThatIsAPipeIsNeitherReadNorWritten();

private:
    QTemporaryDir folder_;
    QStringList messages_;
};

void SpecialFilesTest::initTestCase() {
    QVERIFY(folder_.isValid());
    alarm(120);
    setMessageHook([this](QMessageBox::Icon, const QString&, const QString& text) {
        messages_ << text;
        return true;
    });
}

void SpecialFilesTest::cleanupTestCase() {
    setMessageHook(nullptr);
    alarm(0);
}

void SpecialFilesTest::openingRefusesSpecialFilesAtOnceAndOpensTheRest() {
    const QString pipe = folder_.filePath(QStringLiteral("pipe.qmattr"));
    QCOMPARE(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    const QString zero = folder_.filePath(QStringLiteral("zero.qmattr"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
    const QString huge = folder_.filePath(QStringLiteral("huge.qmattr"));
    std::ofstream(huge.toStdString()).close();
    QVERIFY(QFile::resize(huge, 100 << 20));

    TMDIform main;
    main.resize(800, 600);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    const QStringList files = {pipe, zero, folder_.path(), huge,
                               QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr")};
    QCOMPARE(main.openFiles(files), 1);
    QCOMPARE(messages_.size(), 4);
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(messages_[i].contains(files[i]), qPrintable(messages_[i]));
        QVERIFY2(messages_[i].contains(qtext(TextId::kReasonNotRegular)), qPrintable(messages_[i]));
    }
    QVERIFY(messages_[3].contains(qtext(TextId::kReasonTooLarge)));
    QVERIFY(main.activeDocument());
    QVERIFY(main.isVisible());
}

void SpecialFilesTest::languageModuleThatIsAPipeLeavesTheProgramInFrench() {
    const QString program = folder_.filePath(QStringLiteral("quillmere"));
    QCOMPARE(
        mkfifo(languageModulePath(program, QStringLiteral("ENU")).toLocal8Bit().constData(), 0600),
        0);
    QCOMPARE(loadLanguage(program, QStringLiteral("ENU")), QString());
    QVERIFY(strings().isFrench());
}

void SpecialFilesTest::settingsFileThatIsAPipeIsNeitherReadNorWritten() {
    const QString file = folder_.filePath(QStringLiteral("Quillmere.conf"));
    QCOMPARE(mkfifo(file.toLocal8Bit().constData(), 0600), 0);
    LanguageSettings settings(file);
    QVERIFY(!settings.stored(QStringLiteral("/usr/bin/quillmere")));
    QVERIFY(!settings.store(QStringLiteral("/usr/bin/quillmere"), QStringLiteral("ENU")));
    QCOMPARE(settings.fileName(), file);
    QVERIFY(!QFileInfo(file).isFile());  // the pipe still stands
}

QTEST_MAIN(SpecialFilesTest)
#include "special_files_test.moc"
