// quillmere: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QSurfaceFormat>

#include "gui/main_window.h"

int main(int argc, char* argv[]) {
    // The preview uses fixed-function OpenGL 1.1: a compatibility context with a depth buffer,
    // chosen before the application exists.
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    QSurfaceFormat::setDefaultFormat(format);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillmere"));
    QApplication::setApplicationVersion(QStringLiteral("0.2.1"));

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Renders three-dimensional strange attractors. Each FILE.qmattr given opens in a new "
                       "document, its view fitted."));
    options.addHelpOption();
    options.addVersionOption();
    options.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Attractor files to open."),
                                  QStringLiteral("[FILE.qmattr...]"));
    options.process(app);

    qm::gui::TMDIform window;
    window.showMaximized();
    window.openFiles(options.positionalArguments());
    return QApplication::exec();
}
