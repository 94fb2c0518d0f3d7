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
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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

    // Progress shows on the bar while the job runs, and not in the log; the
    // summary shows the settings taken from the folder's settings file too.
    void successShowsProgressThenTheSummaryAndStaysMinimized()
    {
        const QString folder = MakeFolder();
        QFile settings(folder + QStringLiteral("vintrix.toml"));
        QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write("trim = true\n") > 0);
        settings.close();
        JobWindow window(QStringLiteral("my sheet"), WriteScript("Vintrix 128 64 'my sheet' 8 0 0 " + folder));
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
                           "with atlas data Output/my sheet.json\nsettings from %1vintrix.toml: trim\n"
                           "Output folder: %2/Output")
                .arg(folder, dir_->path()));
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

private:
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
