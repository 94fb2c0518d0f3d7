// The whole window with the real launcher and the real Vintrix, on the
// folders a user's disk can hold: names with line breaks and shell syntax,
// a leading dash or blanks around, a current folder that cannot be written.
// Go gives a sheet or a clear message; nothing crashes and no command hidden
// in a name runs.
#include "Form1.h"
#include "VintrixRun.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

using namespace vintrix;

class WindowFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setApplicationName(QStringLiteral("Vintrix Studio"));
        QVERIFY(dir_.isValid());
        QVERIFY(QDir::setCurrent(dir_.path()));
        // The script finds Vintrix in the current folder first.
        QVERIFY(QFile::copy(QStringLiteral(VINTRIX_BINARY), dir_.filePath("Vintrix")));
    }
    // Output is not cleared between cases: a detached packer of the case
    // before may still be tidying it. Each case writes a name of its own.
    void init() { messages_.clear(); }

    // The shell's quoting of every kind of name is checked in process with
    // the launcher; here the whole way from the folder list to the sheet.
    void hostileFolderNamesArePackedAndRunNothing_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("line break") << QStringLiteral("two\nlines; touch pwned-1");
        QTest::newRow("leading dash") << QStringLiteral("-rf");
        QTest::newRow("blanks around") << QStringLiteral("  spaced  ");
    }
    void hostileFolderNamesArePackedAndRunNothing()
    {
        QFETCH(QString, folder);
        QVERIFY(QDir(dir_.path()).mkpath(folder));
        QVERIFY(test::FlatSprite(7, 5, Qt::green).save(dir_.filePath(folder + "/only.png")));

        Form1 window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(testing::PickFolder(window, folder));
        const QString name = QStringLiteral("sheet-%1").arg(++cases_);
        window.findChild<QLineEdit*>(QStringLiteral("Text4"))->setText(name);
        go(window);
        QCOMPARE(messages_, QStringList{QStringLiteral("Please see output in /Output folder")});

        // One minute for all the jobs, so that a failure reports within it
        // (QTRY would wait twice as long again before it reports).
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(dir_.filePath("Output/" + name + ".json")); },
            int(std::max(deadline_.remainingTime(), qint64{0}))));
        const test::Atlas atlas = test::ReadAtlas(dir_.filePath("Output"), name);
        QCOMPARE(atlas.error, QString());
        QCOMPARE(test::Names(atlas.frames), QStringList{QStringLiteral("only.png")});
        QVERIFY(QDir(dir_.filePath(folder)).removeRecursively());
        // Nothing named like the files the hostile names would create, anywhere below the test's folder.
        QDirIterator planted(dir_.path(), {"pwned*"}, QDir::AllEntries | QDir::Hidden, QDirIterator::Subdirectories);
        QCOMPARE(planted.hasNext() ? planted.next() : QString(), QString());
        QVERIFY(window.isVisible());
    }

    // The failure reaches the user as the launcher words it, and nothing is
    // written anywhere else instead.
    void goInACurrentFolderThatIsGoneShowsWhy()
    {
        QTemporaryDir scratch;
        const QString gone = scratch.filePath("gone");
        QVERIFY(QDir().mkdir(gone));
        QVERIFY(QDir::setCurrent(gone));
        QVERIFY(QDir().rmdir(gone));  // even root cannot write into it now
        {
            Form1 window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            go(window);
            QCOMPARE(messages_.size(), 1);
            QVERIFY2(messages_[0].startsWith(QStringLiteral("Cannot write temp.sh in the current folder: ")),
                qPrintable(messages_[0]));
            QVERIFY(window.isVisible());
        }
        QVERIFY(QDir::setCurrent(dir_.path()));
        QCOMPARE(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{});
    }

private:
    // Clicks Go and records the text of the message that follows, closed with OK.
    void go(Form1& window)
    {
        testing::CloseNextMessage(this, [this](const QMessageBox& box) { messages_ << box.text(); });
        testing::ClickGo(window);
    }
    QTemporaryDir dir_;
    const QDeadlineTimer deadline_{60000};
    QStringList messages_;
    int cases_ = 0;
};

QTEST_MAIN(WindowFaultsTest)
#include "WindowFaultsTest.moc"
