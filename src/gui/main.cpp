// quillmere: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <string_view>

#include "gui/language.h"
#include "gui/main_window.h"
#include "gui/preview_widget.h"
#include "quillmere_version.h"

namespace {

// --help and --version work without a display: they are answered before Qt starts.
bool answeredWithoutDisplay(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") {
            std::printf(
                "Usage: quillmere [FILE.qmattr|FILE.qmscene|IMAGE.png ...]\n"
                "Renders three-dimensional strange attractors. Each file given opens in a new\n"
                "document: an attractor file with its view fitted, a scene file or a PNG image\n"
                "that carries a scene as the scene was framed.\n\n"
                "The interface is French, or English with the module quillmere.ENU; the choice is\n"
                "asked at the first start and under Aide > Langue..., and is kept in\n"
                "$XDG_CONFIG_HOME/Quillmere/Quillmere.conf (by default ~/.config).\n"
                "The module and the colour maps speed.map and angle.map are taken from beside the\n"
                "program, else from ../share/quillmere, else from the XDG data folders.\n\n"
                "  -h, --help     this text\n"
                "  -v, --version  the program's version\n");
            return true;
        }
        if (arg == "-v" || arg == "--version") {
            std::printf("quillmere %s\n", QM_VERSION);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (answeredWithoutDisplay(argc, argv)) return 0;

    qm::gui::requestPreviewSurfaceFormat();

    QApplication app(argc, argv);
    qm::gui::setUpApplicationNames(QStringLiteral(QM_VERSION));
    // Ties the windows to the desktop entry (icon and name in Wayland task bars).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quillmere.Quillmere"));

    QCommandLineParser options;
    options.addPositionalArgument(QStringLiteral("files"),
                                  QStringLiteral("Attractor files, scenes or images to open."),
                                  QStringLiteral("[FILE.qmattr|FILE.qmscene|IMAGE.png...]"));
    options.process(app);

    // The texts come first: every window takes them as it is built.
    qm::gui::loadStartLanguage(qm::gui::LanguageSettings(), QCoreApplication::applicationFilePath(), QLocale::system());

    qm::gui::TMDIform window;
    window.checkLanguage();
    // Maximising is the window manager's business; without one the frame still fills the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) window.setGeometry(screen->availableGeometry());
    window.showMaximized();
    window.openFiles(options.positionalArguments());
    // A render that a crash interrupted: offered once the window is up.
    QTimer::singleShot(0, &window, [&window] { window.offerAutosavedRenders(); });
    return QApplication::exec();
}
