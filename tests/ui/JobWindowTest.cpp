// The job's window on real jobs: the script holds the line Go composes, the
// window runs it with /bin/sh, and the real Vintrix does the packing in a
// temporary current folder.
#include "JobWindow.h"

#include "CommandLine.h"
#include "FileNames.h"
#include "PackSettings.h"
#include "VintrixRun.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
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

enum class Folder { None, Empty, Sprites };

}  // namespace

Q_DECLARE_METATYPE(Folder)

class JobWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void failuresComeToTheFrontWithTheirReason_data();
    void failuresComeToTheFrontWithTheirReason();
    void successShowsTheSummaryAndStaysMinimized();
    void progressIsShownAndNotPrinted();
    void closingAsksAndStoppingEndsEveryProcessOfTheJob();

private:
    QString MakeFolder(Folder folder);
    QString WriteScript(const QString& width, const QString& height, const QString& margin, const QString& name,
        const QString& folder, const QString& extra = {});
    // Once the next question is open, clicks its button with `text`.
    void AnswerNextQuestion(const QString& text);

    template <typename T>
    static T* Part(const JobWindow& window, const char* name)
    {
        return window.findChild<T*>(QString::fromLatin1(name));
    }

    std::unique_ptr<QTemporaryDir> dir_;
    QString previous_;
    QByteArray path_;
    QString asked_;
};

void JobWindowTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    previous_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_->path()));
    path_ = qgetenv("PATH");
    qputenv("PATH", QFileInfo(QStringLiteral(VINTRIX_BINARY)).absolutePath().toLocal8Bit() + ":/usr/bin:/bin");
    asked_.clear();
}

void JobWindowTest::cleanup()
{
    qputenv("PATH", path_);
    QDir::setCurrent(previous_);
    dir_.reset();
}

QString JobWindowTest::MakeFolder(Folder folder)
{
    if (folder == Folder::None) {
        return {};
    }
    const QString path = dir_->filePath(QStringLiteral("sprites"));
    QDir().mkpath(path);
    if (folder == Folder::Sprites) {
        for (int i = 0; i < 3; ++i) {
            test::FlatSprite(20, 12, Qt::darkCyan).save(path + QStringLiteral("/s%1.png").arg(i));
        }
    }
    return path;
}

QString JobWindowTest::WriteScript(const QString& width, const QString& height, const QString& margin,
    const QString& name, const QString& folder, const QString& extra)
{
    PackSettings settings;
    TakeNumbers(settings, width.toStdU16String(), height.toStdU16String(), margin.toStdU16String());
    TakeName(settings, name.toStdU16String());
    if (!folder.isEmpty()) {
        SetFolder(settings, folder.toStdU16String());
    }
    QFile script(dir_->filePath(QStringLiteral("temp.sh")));
    script.open(QIODevice::WriteOnly);
    script.write(QByteArray::fromStdString(EncodeText(ComposeCommandLine(settings))) + extra.toUtf8() + '\n');
    return script.fileName();
}

void JobWindowTest::AnswerNextQuestion(const QString& text)
{
    testing::CloseNextMessage(
        this, [this](const QMessageBox& box) { asked_ = box.text(); }, text);
}

void JobWindowTest::failuresComeToTheFrontWithTheirReason_data()
{
    QTest::addColumn<Folder>("folder");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("sentence");
    QTest::addColumn<QString>("printed");
    QTest::newRow("no folder chosen") << Folder::None << QByteArray()
                                      << "Failed: Vintrix did not accept the settings (bad arguments"
                                      << "error: no images folder given: choose one in the folder list";
    QTest::newRow("Vintrix missing")
        << Folder::Sprites << QByteArray("/usr/bin:/bin")
        << "Failed: Vintrix was not found. The shell looked for it in:\n    /usr/bin\n    /bin"
        << "not found";
}

void JobWindowTest::failuresComeToTheFrontWithTheirReason()
{
    QFETCH(Folder, folder);
    QFETCH(QByteArray, path);
    QFETCH(QString, sentence);
    QFETCH(QString, printed);
    const QString folderPath = MakeFolder(folder);
    if (!path.isEmpty()) {
        qputenv("PATH", path);
    }
    const QString script = WriteScript("256", "256", "0", "sheet", folderPath);

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

void JobWindowTest::successShowsTheSummaryAndStaysMinimized()
{
    const QString script = WriteScript("128", "64", "0", "my sheet", MakeFolder(Folder::Sprites));
    JobWindow window(QStringLiteral("my sheet"), script);
    QCOMPARE(window.windowTitle(), QStringLiteral("my sheet \u2014 running"));
    window.showMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(window.state() != JobWindow::State::Running, kJobTimeout);

    QCOMPARE(window.state(), JobWindow::State::Done);
    QCOMPARE(window.windowTitle(), QStringLiteral("my sheet \u2014 done"));
    QVERIFY(window.isMinimized());
    QCOMPARE(Part<QLabel>(window, "status")->text(),
        QStringLiteral("Done: packed 3 images (1 unique) into 1 sheet of 128x64 (2.9% full): Output/my sheet.bmp "
                       "with atlas data Output/my sheet.json\nOutput folder: %1/Output")
            .arg(dir_->path()));
    QVERIFY(Part<QPushButton>(window, "openOutput")->isVisibleTo(&window));
    const test::Atlas atlas = test::ReadAtlas(dir_->filePath(QStringLiteral("Output")), QStringLiteral("my sheet"));
    QCOMPARE(atlas.error, QString());
    QCOMPARE(atlas.frames.size(), 3u);
}

void JobWindowTest::progressIsShownAndNotPrinted()
{
    QImage sprite(10, 10, QImage::Format_RGBA8888);
    const QString folder = MakeFolder(Folder::Empty);
    constexpr int kSprites = 60;
    for (int i = 0; i < kSprites; ++i) {
        sprite.fill(QColor::fromHsv(i * 6, 200, 200));
        sprite.save(folder + QStringLiteral("/%1.png").arg(i));
    }
    const QString script = WriteScript("64", "64", "0", "many", folder);
    JobWindow window(QStringLiteral("many"), script);
    auto* bar = Part<QProgressBar>(window, "progress");
    QStringList seen;
    connect(bar, &QProgressBar::valueChanged, this, [&] {
        seen << bar->format()
                    .replace(QStringLiteral("%v"), QString::number(bar->value()))
                    .replace(QStringLiteral("%m"), QString::number(bar->maximum()));
    });
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(window.state() != JobWindow::State::Running, kJobTimeout);

    QCOMPARE(window.state(), JobWindow::State::Done);
    QVERIFY2(seen.contains(QStringLiteral("Reading images: 60 of 60")), qPrintable(seen.join('|')));
    QVERIFY2(seen.filter(QStringLiteral("Writing sheets: row ")).size() > 0, qPrintable(seen.join('|')));
    QVERIFY(!Part<QPlainTextEdit>(window, "log")->toPlainText().contains(QStringLiteral("progress")));
    QVERIFY(!bar->isVisible());
}

// The job waits for its input in a process of its own below the shell,
// which only a stop that reaches the whole job ends. Closing the window asks
// first: keeping the job running leaves the window open.
void JobWindowTest::closingAsksAndStoppingEndsEveryProcessOfTheJob()
{
    const QString folder = MakeFolder(Folder::Sprites);
    QDir().mkpath(dir_->filePath(QStringLiteral("Output")));
    QFile earlier(dir_->filePath(QStringLiteral("Output/sheet.json")));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier output");
    earlier.close();
    QCOMPARE(mkfifo(dir_->filePath(QStringLiteral("gate")).toLocal8Bit().constData(), 0600), 0);
    const QString script = WriteScript("256", "256", "0", "sheet", folder, QStringLiteral(" < gate"));

    JobWindow window(QStringLiteral("sheet"), script);
    window.show();
    AnswerNextQuestion(QStringLiteral("Keep running"));
    window.close();
    QVERIFY2(asked_.startsWith(QStringLiteral("The job sheet is still running. Stop it?")), qPrintable(asked_));
    QVERIFY(window.isVisible());
    QCOMPARE(window.state(), JobWindow::State::Running);

    AnswerNextQuestion(QStringLiteral("Stop the job"));
    window.close();
    QCOMPARE(window.windowTitle(), QStringLiteral("sheet \u2014 stopping"));
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), kJobTimeout);

    QCOMPARE(window.state(), JobWindow::State::Failed);
    const QString status = Part<QLabel>(window, "status")->text();
    QVERIFY2(status.startsWith(QStringLiteral("Stopped by SIGTERM")), qPrintable(status));
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    QCOMPARE(earlier.readAll(), QByteArray("earlier output"));
    QCOMPARE(QDir(dir_->filePath(QStringLiteral("Output"))).entryList(QDir::Files | QDir::Hidden),
        QStringList{QStringLiteral("sheet.json")});
}

QTEST_MAIN(JobWindowTest)
#include "JobWindowTest.moc"
