// Vintrix Studio: opens the main window and runs until it is closed. Besides
// --help and --version, which print and exit, it reads no arguments,
// settings or environment of its own.
#include "AtSpiGuard.h"
#include "Form1.h"
#include "ProgramIcon.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QLibraryInfo>
#include <QThread>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <string>
#include <thread>

#include <dlfcn.h>

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

// The window system's plugin, which QApplication loads first of all, where
// it is sure which one that is: xcb, where the environment names no other
// platform, no Wayland session and no other plugin folder. Empty elsewhere.
std::string PlatformPluginToLoadAhead()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((!platform.isEmpty() && platform != "xcb") || qgetenv("XDG_SESSION_TYPE") == "wayland" ||
        qEnvironmentVariableIsSet("QT_PLUGIN_PATH"))
        return {};
    return QFile::encodeName(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/libqxcb.so"))
        .toStdString();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Vintrix Studio"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));
    AnswerHelpAndVersion(argc, argv);

    // What the window needs before it shows is made ready on another thread
    // while the application sets up its connection to the window system,
    // which waits on the display server for most of that time: the window
    // system's plugin, loaded and linked here while QApplication looks for
    // it, so that it finds the plugin in memory; the font configuration,
    // which the captions need; the window icon; and the session bus, which
    // Qt's accessibility bridge waits for. This thread is made Qt's main
    // thread first, as the first to use Qt would be.
    QThread::currentThread();
    std::thread ahead([plugin = PlatformPluginToLoadAhead()] {
        if (!plugin.empty())
            dlopen(plugin.c_str(), RTLD_LAZY);  // kept loaded: QApplication's own load finds it
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
