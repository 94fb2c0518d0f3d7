// Go on the real path: the main window writes the script and starts the
// job's window program, vintrix-job, which runs the real Vintrix. This test
// program is built beside them, since vintrix-job is found beside the
// program that presses Go.
#include "Form1.h"
#include "WindowDriver.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QSet>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace vintrix;

class GoStartsTheJobWindowTest : public QObject {
    Q_OBJECT

private slots:
    void eachJobAndItsWindowOutliveTheMainWindow();

private:
    // The job windows running in `folder`, by process id.
    static QList<qint64> JobWindowsIn(const QString& folder);
};

QList<qint64> GoStartsTheJobWindowTest::JobWindowsIn(const QString& folder)
{
    const QString program = QFileInfo(JobWindowProgram()).canonicalFilePath();
    QList<qint64> found;
    QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        const QString process = processes.next();
        bool isNumber = false;
        const qint64 pid = processes.fileName().toLongLong(&isNumber);
        if (isNumber && QFileInfo(process + "/exe").symLinkTarget() == program &&
            QFileInfo(process + "/cwd").symLinkTarget() == folder) {
            found << pid;
        }
    }
    return found;
}

void GoStartsTheJobWindowTest::eachJobAndItsWindowOutliveTheMainWindow()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder));
    QVERIFY(QDir().mkdir(QStringLiteral("sprites")));
    QImage sprite(16, 16, QImage::Format_RGBA8888);
    sprite.fill(Qt::red);
    QVERIFY(sprite.save(QStringLiteral("sprites/red.png")));
    QVERIFY(QFileInfo(JobWindowProgram()).isExecutable());
    const auto closeJobWindows = qScopeGuard([&] {
        for (const qint64 pid : JobWindowsIn(folder)) {
            ::kill(static_cast<pid_t>(pid), SIGTERM);
        }
        QDir::setCurrent(previous);
    });

    {
        Form1 window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(testing::PickFolder(window, QStringLiteral("sprites")));
        auto* name = window.findChild<QLineEdit*>(QStringLiteral("Text4"));
        for (const QString& job : {QStringLiteral("first"), QStringLiteral("second")}) {
            name->setText(job);
            testing::CloseNextMessage(&window, [](const QMessageBox&) {});
            testing::ClickGo(window);
            QVERIFY(!QFile::exists(QStringLiteral("temp.sh")));
        }
    }

    // Each job ran, and each has its own window, which stays until the user
    // closes it.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("Output/first.json")), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("Output/second.json")), 60000);
    QList<qint64> windows;
    QTRY_VERIFY_WITH_TIMEOUT((windows = JobWindowsIn(folder)).size() == 2, 60000);
    QSet<QByteArray> titled;
    for (const qint64 pid : windows) {
        QFile arguments(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QVERIFY(arguments.open(QIODevice::ReadOnly));
        titled << arguments.readAll().split('\0').value(1);
    }
    QCOMPARE(titled, (QSet<QByteArray>{"first", "second"}));
}

QTEST_MAIN(GoStartsTheJobWindowTest)
#include "GoStartsTheJobWindowTest.moc"
