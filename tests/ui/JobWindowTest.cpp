// The job's window on real jobs: the script holds a line as Go composes it,
// the window runs it with /bin/sh, and the real Vintrix does the packing in a
// temporary current folder.
#include "JobWindow.h"

#include "VintrixRun.h"
#include "WindowDriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vintrix;

namespace {

constexpr int kJobTimeout = 60000;

template <typename T>
T* Part(const JobWindow& window, const char* name)
{
    return window.findChild<T*>(QString::fromLatin1(name));
}

}  // namespace

class JobWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QVERIFY(QDir::setCurrent(dir_->path()));
        qputenv("PATH", QFileInfo(QStringLiteral(VINTRIX_BINARY)).absolutePath().toLocal8Bit() + ":/usr/bin:/bin");
    }

    void failuresComeToTheFrontWithTheirReason_data()
    {
        QTest::addColumn<bool>("folderChosen");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("printed");
        QTest::newRow("no folder chosen")
            << false << QByteArray() << "Failed: Vintrix did not accept the settings (bad arguments"
            << "error: no images folder given: choose one in the folder list";
        QTest::newRow("Vintrix missing")
            << true << QByteArray("/usr/bin:/bin")
            << "Failed: Vintrix was not found. The shell looked for it in:\n    /usr/bin\n    /bin"
            << "not found";
    }

    void failuresComeToTheFrontWithTheirReason()
    {
        QFETCH(bool, folderChosen);
        QFETCH(QByteArray, path);
        QFETCH(QString, sentence);
        QFETCH(QString, printed);
        const QString script = WriteScript("Vintrix 256 256 sheet 8 0 0 " + (folderChosen ? MakeFolder() : QString()));
        if (!path.isEmpty()) {
            qputenv("PATH", path);
        }

        JobWindow window(QStringLiteral("sheet"), script);
        window.setAttribute(Qt::WA_ShowWithoutActivating);
        window.showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(window.state() != JobWindow::State::Running, kJobTimeout);

        QCOMPARE(window.state(), JobWindow::State::Failed);
        QCOMPARE(window.windowTitle(), QStringLiteral("sheet \u2014 failed"));
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
        const QString status = Part<QLabel>(window, "status")->text();
        QVERIFY2(status.startsWith(sentence), qPrintable(status));
        const QString log = Part<QPlainTextEdit>(window, "log")->toPlainText();
        QVERIFY2(log.contains(printed), qPrintable(log));
        QVERIFY(!Part<QPushButton>(window, "openOutput")->isVisible());

        // A finished job's window closes with Esc, without a question.
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
    }

    // Progress shows on the bar while the job runs, and not in the log.
    void successShowsProgressThenTheSummaryAndStaysMinimized()
    {
        JobWindow window(QStringLiteral("my sheet"), WriteScript("Vintrix 128 64 'my sheet' 8 0 0 " + MakeFolder()));
        QCOMPARE(window.windowTitle(), QStringLiteral("my sheet \u2014 running"));
        auto* bar = Part<QProgressBar>(window, "progress");
        QStringList seen;
        connect(bar, &QProgressBar::valueChanged, this, [&] {
            seen << bar->format()
                        .replace(QStringLiteral("%v"), QString::number(bar->value()))
                        .replace(QStringLiteral("%m"), QString::number(bar->maximum()));
        });
        window.showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(window.state() != JobWindow::State::Running, kJobTimeout);

        QCOMPARE(window.state(), JobWindow::State::Done);
        QCOMPARE(window.windowTitle(), QStringLiteral("my sheet \u2014 done"));
        QVERIFY(window.isMinimized());
        QVERIFY2(seen.contains(QStringLiteral("Reading images: 3 of 3")), qPrintable(seen.join('|')));
        QVERIFY2(seen.filter(QStringLiteral("Writing sheets: row ")).size() > 0, qPrintable(seen.join('|')));
        QVERIFY(!Part<QPlainTextEdit>(window, "log")->toPlainText().contains(QStringLiteral("progress")));
        QVERIFY(!bar->isVisibleTo(&window));
        QCOMPARE(Part<QLabel>(window, "status")->text(),
            QStringLiteral("Done: packed 3 images (1 unique) into 1 sheet of 128x64 (2.9% full): Output/my sheet.bmp "
                           "with atlas data Output/my sheet.json\nOutput folder: %1/Output")
                .arg(dir_->path()));
        QVERIFY(Part<QPushButton>(window, "openOutput")->isVisibleTo(&window));
        const test::Atlas atlas = test::ReadAtlas(dir_->filePath(QStringLiteral("Output")), QStringLiteral("my sheet"));
        QCOMPARE(atlas.error, QString());
        QCOMPARE(atlas.frames.size(), 3u);
    }

    // The job waits for its input in a process of its own below the shell,
    // which only a stop that reaches the whole job ends; the shell marks
    // that the process is there. Closing the window asks first: keeping the
    // job running leaves the window open.
    void closingAsksAndStoppingEndsEveryProcessOfTheJob()
    {
        QCOMPARE(mkfifo(dir_->filePath(QStringLiteral("gate")).toLocal8Bit().constData(), 0600), 0);

        JobWindow window(
            QStringLiteral("sheet"), WriteScript("Vintrix 256 256 sheet 8 0 0 sprites/ < gate & touch started; wait"));
        window.show();
        QTRY_VERIFY(QFile::exists(QStringLiteral("started")));
        QString asked;
        const auto answer = [&](const QString& button) {
            testing::CloseNextMessage(
                this, [&](const QMessageBox& box) { asked = box.text(); }, button);
        };
        answer(QStringLiteral("Keep running"));
        window.close();
        QVERIFY2(asked.startsWith(QStringLiteral("The job sheet is still running. Stop it?")), qPrintable(asked));
        QVERIFY(window.isVisible());
        QCOMPARE(window.state(), JobWindow::State::Running);

        answer(QStringLiteral("Stop the job"));
        window.close();
        QCOMPARE(window.windowTitle(), QStringLiteral("sheet \u2014 stopping"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), kJobTimeout);

        QCOMPARE(window.state(), JobWindow::State::Failed);
        const QString status = Part<QLabel>(window, "status")->text();
        QVERIFY2(status.startsWith(QStringLiteral("Stopped by SIGTERM")), qPrintable(status));
    }

    // While the job waits for another run that holds Output's lock, the bar
    // says so. A run of the same name that starts meanwhile and ends first
    // overtakes it: the job ends saying so, never "Done", and Output keeps
    // the later run's files.
    void overtakenByALaterRunSaysSoAndLeavesItsOutput()
    {
        const QString folder = MakeFolder();
        QVERIFY(QDir().mkpath(QStringLiteral("Output")));
        const int lock = ::open("Output/.vintrix.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX) == 0);
        JobWindow window(QStringLiteral("sheet"),
            WriteScript("Vintrix 128 64 sheet 8 0 0 " + folder + " & echo $! > vintrix.pid; wait $!"));
        window.showMinimized();
        auto* bar = Part<QProgressBar>(window, "progress");
        QTRY_COMPARE_WITH_TIMEOUT(
            bar->format(), QStringLiteral("Waiting for another run writing into Output"), kJobTimeout);

        // Stopped, the job cannot take the lock while the later run writes.
        QFile pidFile(QStringLiteral("vintrix.pid"));
        QTRY_VERIFY(pidFile.size() > 0);
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const pid_t pid = pidFile.readAll().trimmed().toInt();
        QVERIFY(pid > 0 && ::kill(pid, SIGSTOP) == 0);
        const auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });
        QTRY_COMPARE(ProcessState(pid), 'T');
        ::close(lock);
        const test::RunResult later = test::RunVintrix(dir_->path(), {"64", "64", "sheet", "32", "1", "0", folder});
        QCOMPARE(later.exitCode, test::Ok);
        const test::Files laterFiles = test::FilesIn(QStringLiteral("Output"));
        ::kill(pid, SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(window.state() != JobWindow::State::Running, kJobTimeout);

        QCOMPARE(window.state(), JobWindow::State::Failed);
        const QString status = Part<QLabel>(window, "status")->text();
        QVERIFY2(status.startsWith(QStringLiteral("Superseded by a later run of the same name")), qPrintable(status));
        QCOMPARE(test::FilesIn(QStringLiteral("Output")), laterFiles);
    }

private:
    // R, S, T, ...: the state /proc gives for a process.
    static char ProcessState(pid_t pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        const qsizetype end = text.lastIndexOf(')');
        return end >= 0 && end + 2 < text.size() ? text[end + 2] : '?';
    }

    // The images folder, with three equal sprites in it, as the line names it.
    QString MakeFolder()
    {
        const QString path = dir_->filePath(QStringLiteral("sprites/"));
        QDir().mkpath(path);
        for (int i = 0; i < 3; ++i) {
            test::FlatSprite(20, 12, Qt::darkCyan).save(path + QStringLiteral("s%1.png").arg(i));
        }
        return path;
    }

    QString WriteScript(const QString& line)
    {
        QFile script(dir_->filePath(QStringLiteral("temp.sh")));
        script.open(QIODevice::WriteOnly);
        script.write(line.toUtf8() + '\n');
        return script.fileName();
    }

    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(JobWindowTest)
#include "JobWindowTest.moc"
