// The program's own entry, app/main.cpp, compiled here with its main()
// renamed StudioMain: once its window is up, Go is pressed and the notice
// closed as a user would. The notice must carry the program's name, which
// only main() sets; without it the title would be this test's file name.
#include "Form1.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>

int StudioMain(int argc, char** argv);

namespace {

QString g_noticeTitle;

// Runs as main()'s QApplication is made; the timer fires once main() has
// set the application up and entered the event loop.
void PressGoOnceRunning()
{
    QTimer::singleShot(0, qApp, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<vintrix::Form1*>(widget)) {
                vintrix::testing::CloseNextMessage(window, [](const QMessageBox& box) {
                    g_noticeTitle = box.windowTitle();
                });
                vintrix::testing::ClickGo(*window);
            }
        }
        QApplication::exit(0);
    });
}
Q_COREAPP_STARTUP_FUNCTION(PressGoOnceRunning)

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()) ||
        !QFile::copy(QStringLiteral(RECORD_ARGS), dir.filePath(QStringLiteral("Vintrix")))) {
        std::fprintf(stderr, "cannot set up a current folder with a stand-in Vintrix\n");
        return 1;
    }
    const int status = StudioMain(argc, argv);
    // The job is detached: let it finish before the folder goes.
    const QDeadlineTimer deadline(10000);
    while (!QFile::exists(dir.filePath(QStringLiteral("call-1"))) && !deadline.hasExpired()) {
        QThread::msleep(5);
    }
    const bool ran = QFile::exists(dir.filePath(QStringLiteral("call-1")));
    if (status != 0 || !ran || g_noticeTitle != QStringLiteral("Vintrix Studio")) {
        std::fprintf(stderr, "exit %d, job %s, notice title \"%s\" (expected \"Vintrix Studio\")\n", status,
                     ran ? "ran" : "did not run", qPrintable(g_noticeTitle));
        return 1;
    }
    return 0;
}
