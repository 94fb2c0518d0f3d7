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
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) == -1)
            ::open("/dev/null", O_RDWR);
}

void DescribeArguments(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Shows one packing job of Vintrix Studio: runs the script on its standard input with "
                       "/bin/sh and shows Vintrix's output, progress and outcome."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("name"), QStringLiteral("The job's output name, for the title."));
}

// --help and --version are answered before the window system is reached, so
// they work where no display is.
void AnswerHelpAndVersion(int argc, char** argv)
{
    QCoreApplication probe(argc, argv);
    QCommandLineParser parser;
    DescribeArguments(parser);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
}

}  // namespace

int main(int argc, char** argv)
{
    OpenStandardStreams();
    QCoreApplication::setApplicationName(QStringLiteral("Vintrix Studio"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));
    AnswerHelpAndVersion(argc, argv);

    QApplication app(argc, argv);
    // The same name as the main program's, so that job windows group with it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.vintrix.studio"));

    vintrix::GuardAtSpiGetAll();

    QCommandLineParser parser;
    DescribeArguments(parser);
    parser.process(app);
    const QStringList names = parser.positionalArguments();

    vintrix::JobWindow window(names.isEmpty() ? QStringLiteral("Vintrix") : names.first());
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.showMinimized();
    return app.exec();
}
