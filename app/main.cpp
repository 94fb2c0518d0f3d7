// Vintrix Studio: opens the main window and runs until it is closed. Besides
// --help and --version, which print and exit, it reads no arguments,
// settings or environment of its own.
#include "AtSpiGuard.h"
#include "Form1.h"
#include "ProgramIcon.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QThread>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <thread>

namespace {

// --help and --version are answered before the window system is reached, so
// they work where no display is.
void AnswerHelpAndVersion(int argc, char** argv)
{
    // Only an option can ask for them; a start without one skips the parser.
    if (std::none_of(argv + 1, argv + argc, [](const char* argument) { return argument[0] == '-'; }))
        return;
    QCoreApplication probe(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Packs a folder of sprites into sprite sheets: choose the images folder, the sheet's width, height and "
        "margin, the output name, BMP or PNG and 8 or 32 bits per pixel, and press Go. The packer Vintrix "
        "writes the sheets and their atlas data into Output/ in the current folder."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Vintrix Studio"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));
    AnswerHelpAndVersion(argc, argv);

    // What the window needs before it shows is made ready on another thread
    // while the application sets up its connection to the window system,
    // which waits on the display server for most of that time: the font
    // configuration, which the captions need; the window icon; and the
    // session bus, which Qt's accessibility bridge waits for. This thread is
    // made Qt's main thread first, as the first to use Qt would be.
    QThread::currentThread();
    std::thread ahead([] {
        FcInit();
        vintrix::DecodeProgramIcon();
        vintrix::ConnectSessionBus();
    });
    QApplication app(argc, argv);
    ahead.join();
    QApplication::setOrganizationDomain(QStringLiteral("vintrix.example.org"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.vintrix.studio"));

    vintrix::GuardAtSpiGetAll();

    vintrix::Form1 window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    return app.exec();
}
