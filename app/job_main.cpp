// vintrix-job: the window of one packing job. The launcher starts it with the
// job's script as its standard input and the output name as its argument; it
// runs the script with /bin/sh and stays, minimized, until the user closes
// it. A job that fails brings its window to the front.
#include "AtSpiGuard.h"
#include "JobWindow.h"

#include <QApplication>
#include <QCommandLineParser>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The job writes through pipes opened after these: a closed standard stream
// here must not lend its number to one of them.
void OpenStandardStreams()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1) {
            ::open("/dev/null", O_RDWR);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    OpenStandardStreams();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vintrix Studio"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.vintrix.studio"));

    vintrix::GuardAtSpiGetAll();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows one packing job of Vintrix Studio: runs the script on its standard input with "
                       "/bin/sh and shows Vintrix's output, progress and outcome."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("name"), QStringLiteral("The job's output name, for the title."));
    parser.process(app);
    const QStringList names = parser.positionalArguments();

    vintrix::JobWindow window(names.isEmpty() ? QStringLiteral("Vintrix") : names.first());
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.showMinimized();
    return app.exec();
}
