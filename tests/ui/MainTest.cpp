// The whole program from app/main.cpp, its main() renamed StudioMain: the
// test picks a folder, presses Go and closes the notice, which carries the
// name only main() sets. Each Go starts a job window of its own,
// titled by the output name: the first job finds a recording stand-in
// Vintrix in the current folder, the second, with it gone, the real one
// beside the program.
#include "Form1.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>

int StudioMain(int argc, char** argv);

namespace {

int g_failures = 0;
bool g_noticed = false;
QString g_jobWindowProgram;

void Expect(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "FAIL: %s\n", what);
        ++g_failures;
    }
}

// The jobs are detached: their traces appear in their own time, all of them
// within one minute of the start, so that a failure reports within it.
const QDeadlineTimer g_deadline(60000);

bool Eventually(const std::function<bool()>& holds)
{
    while (!holds() && !g_deadline.hasExpired())
        QThread::msleep(5);
    return holds();
}

// Runs as each application object of main() is made; for the QApplication,
// the timer fires once main() has set it up and entered the event loop. The
// QCoreApplication that answers --help and --version is left alone.
void DriveTheWindowOnceRunning()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    g_jobWindowProgram = QFileInfo(vintrix::JobWindowProgram()).canonicalFilePath();
    QTimer::singleShot(0, app, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<vintrix::Form1*>(widget);
            if (!window || !QTest::qWaitForWindowExposed(window))
                continue;
            Expect(vintrix::testing::PickFolder(*window, QStringLiteral("art")), "the folder list shows art");
            vintrix::testing::CloseNextMessage(window, [](const QMessageBox& box) {
                g_noticed = true;
                Expect(
                    box.windowTitle() == QStringLiteral("Vintrix Studio"), "the notice's title is the program's name");
                Expect(box.icon() == QMessageBox::NoIcon, "the notice has no icon");
                Expect(box.standardButtons() == QMessageBox::Ok, "the notice has one OK button");
            });
            vintrix::testing::ClickGo(*window);
            Expect(g_noticed, "Go shows a notice");

            Expect(Eventually([] { return QFile::exists(QStringLiteral("call-1")); }), "the stand-in is called");
            QFile::remove(QStringLiteral("Vintrix"));
            window->findChild<QLineEdit*>(QStringLiteral("Text4"))->setText(QStringLiteral("second"));
            vintrix::testing::CloseNextMessage(window, [](const QMessageBox&) {});
            vintrix::testing::ClickGo(*window);
        }
        QApplication::exit(0);
    });
}
Q_COREAPP_STARTUP_FUNCTION(DriveTheWindowOnceRunning)

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    QImage sprite(16, 16, QImage::Format_RGBA8888);
    sprite.fill(Qt::red);
    if (!dir.isValid() || !QDir::setCurrent(folder) || !QDir().mkpath(QStringLiteral("art/tiles")) ||
        !sprite.save(QStringLiteral("art/red.png")) ||
        !QFile::copy(QStringLiteral(RECORD_ARGS), QStringLiteral("Vintrix"))) {
        std::fprintf(stderr, "cannot set up a current folder with a stand-in Vintrix\n");
        return 1;
    }
    Expect(StudioMain(argc, argv) == 0, "the program exits with 0");

    Expect(Eventually([] { return QFile::exists(QStringLiteral("Output/second.json")); }),
        "the second job runs the Vintrix beside the program");
    QList<qint64> windows;  // the job windows running in the current folder, by process id
    Expect(Eventually([&] {
        windows.clear();
        for (QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot); processes.hasNext();) {
            const QString process = processes.next();
            if (QFileInfo(process + "/exe").symLinkTarget() == g_jobWindowProgram &&
                QFileInfo(process + "/cwd").symLinkTarget() == QDir::currentPath())
                windows << processes.fileName().toLongLong();
        }
        return windows.size() == 2;
    }),
        "each job has a window of its own");
    QSet<QByteArray> titled;
    for (const qint64 pid : windows) {
        QFile arguments(QStringLiteral("/proc/%1/cmdline").arg(pid));
        titled << (arguments.open(QIODevice::ReadOnly) ? arguments.readAll().split('\0').value(1) : QByteArray());
        ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
    Expect(titled == QSet<QByteArray>{"Vintrix", "second"}, "each job's window is titled by its output name");
    return g_failures == 0 ? 0 : 1;
}
