// The job's window on real jobs: the script holds a line as Go composes it,
// the window runs it with /bin/sh, and the real Vintrix does the packing in a
// temporary current folder.
#include "JobWindow.h"
#include "SheetPreview.h"

#include "VintrixRun.h"
#include "WindowDriver.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/file.h>

using namespace vintrix;

namespace {

constexpr int kJobTimeout = 60000;

// Waits up to kJobTimeout for `expr`. Unlike QTRY_VERIFY_WITH_TIMEOUT, which
// waits twice as long again before it reports, a failure is reported then.
#define VERIFY_WITHIN_JOB_TIMEOUT(expr) QVERIFY2(QTest::qWaitFor([&] { return (expr); }, kJobTimeout), #expr)
#define VERIFY_JOB_ENDS(window, end)                                                                                   \
    VERIFY_WITHIN_JOB_TIMEOUT((window).state() != JobWindow::State::Running);                                          \
    QCOMPARE((window).state(), JobWindow::State::end)
// The status line begins with `start`, and a screen reader hears all of it.
#define VERIFY_STATUS(window, start)                                                                                   \
    QVERIFY2(                                                                                                          \
        Part<QLabel>(window, "status")->text().startsWith(start), qPrintable(Part<QLabel>(window, "status")->text())); \
    QCOMPARE(SpokenName(Part<QLabel>(window, "status")), Part<QLabel>(window, "status")->text())

template <typename T>
T* Part(const JobWindow& window, const char* name)
{
    return window.findChild<T*>(QString::fromLatin1(name));
}

// What a screen reader is given as the widget's name.
QString SpokenName(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
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

    // The shell's own message is shown, and the folders it searched.
    void aFailureComesToTheFrontWithItsReason()
    {
        const QString script = WriteScript(QStringLiteral("Vintrix 256 256 sheet 8 0 0 sprites/"));
        qputenv("PATH", "/usr/bin:/bin");
        JobWindow window(QStringLiteral("sheet"), script);
        window.setAttribute(Qt::WA_ShowWithoutActivating);
        window.showMinimized();
        // The main window's notice, which keeps the keyboard while it is open.
        QWidget notice;
        notice.show();
        notice.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &notice);
        VERIFY_JOB_ENDS(window, Failed);
        QCOMPARE(window.windowTitle(), QStringLiteral("sheet \u2014 failed"));
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
        QTest::qWait(50);
        QCOMPARE(QApplication::activeWindow(), &notice);
        VERIFY_STATUS(window, "Failed: Vintrix was not found. The shell looked for it in:\n    /usr/bin\n    /bin");
        const QString log = Part<QPlainTextEdit>(window, "log")->toPlainText();
        QVERIFY2(log.contains(QStringLiteral("not found")), qPrintable(log));
        QVERIFY(!Part<QPushButton>(window, "openOutput")->isVisible());
        QVERIFY(!Part<QWidget>(window, "sheets")->isVisible());

        // A finished job's window closes with Esc, without a question.
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
    }

    // Each row: the command after "Vintrix", the images folder's settings
    // file, the output folder as the window names it, the first sheet's file
    // and picture's name, and the summary. The images folder is sprites.
    void successShowsProgressTheFoldersAndTheSheets_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("summary");
        QTest::newRow("one 8-bit BMP, its colour key transparent")
            << "128 64 'my sheet' 8 0 0 %1/sprites/" << QByteArray("trim = true\noutput = \"../atlases\"\n")
            << "atlases"
            << "Sheet 1 of 1: my sheet.bmp, 128 \u00d7 64"
            << "packed 3 images into 1 sheet of 128x64 (8.8% full): %1/sprites/../atlases/my sheet.bmp with atlas data "
               "%1/sprites/../atlases/my sheet.json\nsettings from %1/sprites/vintrix.toml: trim, output = ../atlases";
        QTest::newRow("three PNG sheets in another folder")
            << "--output ./sheets// 24 16 -name 32 1 0 sprites/../sprites" << QByteArray() << "sheets"
            << "Sheet 1 of 3: -name.png, 24 \u00d7 16"
            << "packed 3 images into 3 sheets of 24x16 (first 62.5% full, 62.5% overall): ./sheets/-name.png to "
               "./sheets/-name-3.png with atlas data ./sheets/-name.json";
    }

    // Progress shows on the bar while the job runs, and not in the log.
    void successShowsProgressTheFoldersAndTheSheets()
    {
        QFETCH(QString, arguments);
        QFETCH(QByteArray, settings);
        QFETCH(QString, output);
        QFETCH(QString, picture);
        QFETCH(QString, summary);
        MakeFolder();
        if (!settings.isEmpty())
            WriteFile(QStringLiteral("sprites/vintrix.toml"), settings);
        JobWindow window(QStringLiteral("my sheet"), WriteScript("Vintrix " + arguments.replace("%1", dir_->path())));
        QCOMPARE(window.windowTitle(), QStringLiteral("my sheet \u2014 running"));
        auto* bar = Part<QProgressBar>(window, "progress");
        QStringList seen;
        connect(bar, &QProgressBar::valueChanged, this, [&] { seen << bar->text(); });
        window.showMinimized();
        VERIFY_JOB_ENDS(window, Done);
        QCOMPARE(window.windowTitle(), QStringLiteral("my sheet \u2014 done"));
        QVERIFY(window.isMinimized());
        QCOMPARE(Part<QLabel>(window, "folders")->text(),
            QStringLiteral("Images folder: %1/sprites\nOutput folder: %1/%2").arg(dir_->path(), output));
        QVERIFY2(seen.contains(QStringLiteral("Reading images: 3 of 3")), qPrintable(seen.join('|')));
        QVERIFY2(seen.filter(QStringLiteral("Writing sheets: row ")).size() > 0, qPrintable(seen.join('|')));
        QVERIFY(!Part<QPlainTextEdit>(window, "log")->toPlainText().contains(QStringLiteral("progress")));
        QVERIFY(!bar->isVisibleTo(&window));
        QCOMPARE(Part<QLabel>(window, "status")->text(), "Done: " + summary.replace("%1", dir_->path()));
        VERIFY_STATUS(window, "Done: ");
        QVERIFY(Part<QPushButton>(window, "openOutput")->isVisibleTo(&window));

        // The first sheet, read on another thread; the corner of the sheet,
        // where no sprite lies, shows the checkerboard.
        window.showNormal();
        auto* pane = Part<QLabel>(window, "sheetPicture");
        VERIFY_WITHIN_JOB_TIMEOUT(!pane->pixmap().isNull());
        QCOMPARE(SpokenName(pane), picture);
        QCOMPARE(QAccessible::queryAccessibleInterface(pane)->role(), QAccessible::Graphic);
        const QImage shown = pane->pixmap().toImage();
        const QColor corner = shown.pixelColor(shown.width() - 1, shown.height() - 1);
        QVERIFY2(corner == Qt::white || corner == QColor(0xcc, 0xcc, 0xcc), qPrintable(corner.name()));
        const QString caption = Part<QLabel>(window, "sheetCaption")->text();
        QVERIFY2(caption.startsWith(picture.section(QStringLiteral(": "), 1) + ", "), qPrintable(caption));
        auto* chooser = Part<QComboBox>(window, "sheetChooser");
        QCOMPARE(chooser->isVisible(), chooser->count() > 1);
        if (chooser->count() > 1) {
            chooser->setCurrentIndex(2);
            QTRY_COMPARE(SpokenName(pane), QStringLiteral("Sheet 3 of 3: -name-3.png, 24 \u00d7 16"));
            chooser->setCurrentIndex(0);
        }

        // The buttons run the opener from PATH. The job's search path begins
        // with its current folder, for Vintrix; an xdg-open planted there
        // never runs. A stand-in opener records what it was asked to open and
        // exits with the row's status (-1: no stand-in); without any, or when
        // it fails, the window says so.
        WriteFile(QStringLiteral("xdg-open"), ": > planted-ran", true);
        const QString folder = dir_->filePath(output),
                      sheet = folder + '/' + picture.section(": ", 1).section(", ", 0, 0);
        auto* error = Part<QLabel>(window, "openError");
        for (const auto& [button, status, opened, message] : {std::tuple{"openOutput", 0, folder, QString()},
                 {"openSheet", 0, sheet, QString()}, {"sheetPicture", 0, sheet, QString()},
                 {"openOutput", 3, folder,
                     "Cannot open " + folder + ": xdg-open could not open it (xdg-open: no method available)."},
                 {"openSheet", -1, sheet,
                     "Cannot open " + sheet + ": the desktop's opener, xdg-open, was not found."}}) {
            QTemporaryDir openerFolder;
            if (status >= 0)
                WriteFile(openerFolder.filePath(QStringLiteral("xdg-open")),
                    QStringLiteral("printf '%s\\n' \"$1\" > opened\necho 'xdg-open: no method available' >&2\nexit %1")
                        .arg(status)
                        .toUtf8(),
                    true);
            // Only the stand-in, which needs nothing from PATH: an xdg-open
            // installed on the machine must not answer.
            qputenv("PATH", ".:" + QFile::encodeName(openerFolder.path()));
            QFile::remove(QStringLiteral("opened"));
            auto* clicked = Part<QWidget>(window, button);
            QTest::mouseClick(clicked, Qt::LeftButton, {}, clicked->rect().center());
            if (status >= 0)
                QTRY_COMPARE(test::FilesIn(QStringLiteral("."))["opened"], (opened + "\n").toUtf8());
            if (message.isEmpty()) {
                QTest::qWait(100);
                QVERIFY2(!error->isVisible(), button);
            } else {
                QTRY_COMPARE(error->text(), message);
                QVERIFY(error->isVisible());
                QCOMPARE(SpokenName(error), error->text());
            }
        }
        QVERIFY(!QFile::exists(QStringLiteral("planted-ran")));
    }

    // A sheet too large to hold whole is reduced as it is read, to the same
    // picture and the same fill as a sheet read whole: here the threshold is
    // lowered to none, so that small sheets take that way.
    void largeSheetsAreReducedRowByRowAlike_data()
    {
        QTest::addColumn<QImage>("sheet");
        QImage sprites(300, 200, QImage::Format_ARGB32);
        sprites.fill(qRgba(255, 255, 255, 0));  // transparent, with a colour that must not show
        QPainter paint(&sprites);
        paint.fillRect(10, 10, 120, 80, QColor(200, 40, 40));
        paint.fillRect(150, 20, 100, 170, QColor(20, 90, 200, 128));
        paint.end();
        QTest::newRow("RGBA") << sprites;
        QTest::newRow("palette with transparency") << sprites.convertToFormat(QImage::Format_Indexed8);
        QTest::newRow("grey, opaque, taller than wide")
            << sprites.transformed(QTransform().rotate(90)).convertToFormat(QImage::Format_Grayscale8);
    }

    void largeSheetsAreReducedRowByRowAlike()
    {
        QFETCH(QImage, sheet);
        const QString file = dir_->filePath(QStringLiteral("sheet.png"));
        QVERIFY(sheet.save(file));
        const SheetPicture whole = ReadSheet(file, 100);
        const SheetPicture reduced = ReadSheet(file, 100, 0);
        QCOMPARE(reduced.error, QString());
        const SheetPicture stopped = ReadSheet(file, 100, 0, [] { return true; });
        QCOMPARE(stopped.error, QStringLiteral("stopped"));
        QVERIFY(stopped.preview.isNull());
        QCOMPARE(reduced.size, sheet.size());
        QCOMPARE(reduced.fill, whole.fill);
        QCOMPARE(reduced.preview.size(), whole.preview.size());
        QCOMPARE(std::max(reduced.preview.width(), reduced.preview.height()), 100);
        const QImage a = reduced.preview.convertToFormat(QImage::Format_ARGB32);
        const QImage b = whole.preview.convertToFormat(QImage::Format_ARGB32);
        for (const QPoint at : {QPoint(10, 10), QPoint(60, 30), QPoint(3, 20), QPoint(43, 20), QPoint(1, 60)})
            QVERIFY2(test::ChannelError(a.pixel(at), b.pixel(at)) <= 24,
                qPrintable(QStringLiteral("at %1,%2").arg(at.x()).arg(at.y())));
    }

    // The job waits for Output's lock, held here, in a process of its own
    // below the shell, which only a stop that reaches the whole job ends;
    // meanwhile the bar says what it waits for. Closing the window asks
    // first: keeping the job running leaves the window open.
    void closingAsksAndStoppingEndsEveryProcessOfTheJob()
    {
        MakeFolder();
        QVERIFY(QDir().mkpath(QStringLiteral("Output")));
        QFile lock(QStringLiteral("Output/.vintrix.lock"));
        QVERIFY(lock.open(QIODevice::ReadWrite) && ::flock(lock.handle(), LOCK_EX) == 0);
        JobWindow window(
            QStringLiteral("sheet"), WriteScript(QStringLiteral("Vintrix 128 64 sheet 8 0 0 sprites/ & wait")));
        window.show();
        auto* bar = Part<QProgressBar>(window, "progress");
        VERIFY_WITHIN_JOB_TIMEOUT(bar->format() == QStringLiteral("Waiting for another run writing into Output"));
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
        VERIFY_WITHIN_JOB_TIMEOUT(!window.isVisible());
        QCOMPARE(window.state(), JobWindow::State::Failed);
        VERIFY_STATUS(window, QStringLiteral("Stopped by SIGTERM"));
    }

private:
    // The images folder, sprites, with three sprites in it.
    void MakeFolder()
    {
        const QString path = dir_->filePath(QStringLiteral("sprites/"));
        QDir().mkpath(path);
        int i = 0;
        for (const QColor colour : {Qt::darkCyan, Qt::darkRed, Qt::darkBlue})
            test::FlatSprite(20, 12, colour).save(path + QStringLiteral("s%1.png").arg(i++));
    }

    // Writes the file, as a shell program when `program`, and returns its name.
    static QString WriteFile(const QString& name, const QByteArray& text, bool program = false)
    {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(program ? "#!/bin/sh\n" + text + '\n' : text) < 0 ||
            !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                (program ? QFileDevice::ExeOwner : QFileDevice::Permissions())))
            qFatal("cannot write %s", qPrintable(name));
        return name;
    }
    QString WriteScript(const QString& line) { return WriteFile(dir_->filePath("temp.sh"), line.toUtf8() + '\n'); }

    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(JobWindowTest)
#include "JobWindowTest.moc"
