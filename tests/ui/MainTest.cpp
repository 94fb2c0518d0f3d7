// The whole program from its own entry: app/main.cpp, compiled here with its
// main() renamed StudioMain, opens the window; once it is up, the test picks
// a folder, types a width, presses Go and closes the notice as a user would.
// Go writes the script in the current folder, where a recording stand-in
// Vintrix receives the arguments. The notice carries the program's name,
// which only main() sets: without it the title would be this test's name.
#include "Form1.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <optional>

int StudioMain(int argc, char** argv);

namespace {

struct Notice {
    QString text;
    QString title;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    bool scriptPresent;
};
std::optional<Notice> g_notice;
bool g_folderPicked = false;

// Runs as each application object of main() is made; for the QApplication,
// the timer fires once main() has set it up and entered the event loop. The
// QCoreApplication that answers --help and --version is left alone.
void DriveTheWindowOnceRunning()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        return;
    }
    QTimer::singleShot(0, app, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<vintrix::Form1*>(widget);
            if (!window || !QTest::qWaitForWindowExposed(window)) {
                continue;
            }
            g_folderPicked = vintrix::testing::PickFolder(*window, QStringLiteral("art"));
            auto* width = window->findChild<QComboBox*>(QStringLiteral("Combo1"));
            width->setFocus();
            QTest::keyClick(width, Qt::Key_End);
            QTest::keyClicks(width, "0");  // 2560
            vintrix::testing::CloseNextMessage(window, [](const QMessageBox& box) {
                g_notice = Notice{box.text(), box.windowTitle(), box.icon(), box.standardButtons(),
                    QFile::exists(QStringLiteral("temp.sh"))};
            });
            vintrix::testing::ClickGo(*window);
        }
        QApplication::exit(0);
    });
}
Q_COREAPP_STARTUP_FUNCTION(DriveTheWindowOnceRunning)

int g_failures = 0;

void Expect(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "FAIL: %s\n", what);
        ++g_failures;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()) || !QDir().mkpath(QStringLiteral("art/tiles")) ||
        !QFile::copy(QStringLiteral(RECORD_ARGS), QStringLiteral("Vintrix"))) {
        std::fprintf(stderr, "cannot set up a current folder with a stand-in Vintrix\n");
        return 1;
    }
    Expect(StudioMain(argc, argv) == 0, "the program exits with 0");
    Expect(g_folderPicked, "the folder list shows art");

    // The job is detached: wait for its record.
    QFile record(dir.filePath(QStringLiteral("call-1")));
    const QDeadlineTimer deadline(10000);
    while (!record.exists() && !deadline.hasExpired()) {
        QThread::msleep(5);
    }
    const QByteArray expected = QByteArrayLiteral("2560\0"
                                                  "256\0"
                                                  "Vintrix\0"
                                                  "8\0"
                                                  "0\0"
                                                  "0\0") +
        QFile::encodeName(dir.filePath(QStringLiteral("art"))) + QByteArrayLiteral("/\0");
    Expect(record.open(QIODevice::ReadOnly) && record.readAll() == expected,
        "Vintrix receives the window's settings and the picked folder");
    Expect(!QFile::exists(QStringLiteral("temp.sh")), "the script is gone once the notice is closed");
    Expect(g_notice.has_value(), "Go shows a notice");
    if (g_notice) {
        Expect(g_notice->text == QStringLiteral("Please see output in /Output folder"), "the notice's text");
        Expect(g_notice->title == QStringLiteral("Vintrix Studio"), "the notice's title is the program's name");
        Expect(g_notice->icon == QMessageBox::NoIcon, "the notice has no icon");
        Expect(g_notice->buttons == QMessageBox::Ok, "the notice has one OK button");
        Expect(g_notice->scriptPresent, "the script exists while the notice is open");
    }
    return g_failures == 0 ? 0 : 1;
}
