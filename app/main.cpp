// Vintrix Studio: opens the main window and runs until it is closed. Besides
// --help and --version, which print and exit, it reads no arguments,
// settings or environment of its own.
#include "AtSpiGuard.h"
#include "Form1.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

// --help and --version are answered before the window system is reached, so
// they work where no display is.
void AnswerHelpAndVersion(int argc, char** argv)
{
    QCoreApplication probe(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Packs a folder of sprites into sprite sheets: choose the images folder, the sheet's width, height and "
        "margin, the output name, BMP or PNG and 8 or 32 bits per pixel, and press Go. The packer Vintrix "
        "writes the sheets and their atlas data into Output/ in the current folder."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Vintrix Studio"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));
    AnswerHelpAndVersion(argc, argv);

    QApplication app(argc, argv);
    QApplication::setOrganizationDomain(QStringLiteral("vintrix.example.org"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.vintrix.studio"));

    vintrix::GuardAtSpiGetAll();

    vintrix::Form1 window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    return app.exec();
}
