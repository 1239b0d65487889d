// One program for the dialog tests: a QApplication, then each test object in turn. The exit
// code is non-zero when any of them failed.
#include <QApplication>

int runNewDialogTests(int argc, char** argv);
int runAboutBoxTests(int argc, char** argv);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failed = 0;
    failed += runNewDialogTests(argc, argv) != 0;
    failed += runAboutBoxTests(argc, argv) != 0;
    return failed;
}
