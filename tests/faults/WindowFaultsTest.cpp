// The whole window with the real launcher and the real Vintrix, on the
// folders a user's disk can hold: names with line breaks, quotes and shell
// syntax, a chosen folder deleted before Go, a current folder that cannot be
// written. Go gives a sheet or a clear message; nothing crashes and no
// command hidden in a name runs.
#include "DirListBox.h"
#include "Form1.h"
#include "VintrixRun.h"
#include "WindowDriver.h"

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vintrix;

class WindowFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void hostileFolderNamesArePackedAndRunNothing_data();
    void hostileFolderNamesArePackedAndRunNothing();
    void aChosenFolderDeletedBeforeGoWritesNothing();
    void goInACurrentFolderThatIsGoneShowsWhy();

private:
    // Closes the next modal message with its OK button and records its text.
    void closeNextMessage();
    QStringList planted() const;

    QTemporaryDir dir_;
    QString previous_;
    QStringList messages_;
    int cases_ = 0;
};

void WindowFaultsTest::initTestCase()
{
    QApplication::setApplicationName(QStringLiteral("Vintrix Studio"));
    QVERIFY(dir_.isValid());
    previous_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));
    // The script finds Vintrix in the current folder first.
    QVERIFY(QFile::copy(QStringLiteral(VINTRIX_BINARY), dir_.filePath("Vintrix")));
}

// Output is not cleared between cases: a detached packer of the case before
// may still be tidying it. Each case writes a name of its own instead.
void WindowFaultsTest::init()
{
    messages_.clear();
}

void WindowFaultsTest::cleanupTestCase()
{
    QDir::setCurrent(previous_);
}

void WindowFaultsTest::closeNextMessage()
{
    testing::CloseNextMessage(this, [this](const QMessageBox& box) { messages_ << box.text(); });
}

// Files named like the ones the hostile names would create, anywhere below
// the test's folder.
QStringList WindowFaultsTest::planted() const
{
    QStringList found;
    QDirIterator it(dir_.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileName().startsWith(QStringLiteral("pwned"))) {
            found << it.filePath();
        }
    }
    return found;
}

void WindowFaultsTest::hostileFolderNamesArePackedAndRunNothing_data()
{
    QTest::addColumn<QString>("folder");

    QTest::newRow("line break") << QStringLiteral("two\nlines; touch pwned-1");
    QTest::newRow("quotes") << QStringLiteral("it's \"q\" '; touch pwned-2; '");
    QTest::newRow("command substitution") << QStringLiteral("$(touch pwned-3)");
    QTest::newRow("leading dash") << QStringLiteral("-rf");
    QTest::newRow("blanks around") << QStringLiteral("  spaced  ");
}

void WindowFaultsTest::hostileFolderNamesArePackedAndRunNothing()
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
    closeNextMessage();
    testing::ClickGo(window);
    QCOMPARE(messages_, QStringList{QStringLiteral("Please see output in /Output folder")});

    const QString json = dir_.filePath("Output/" + name + ".json");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(json), 60000);
    const test::Atlas atlas = test::ReadAtlas(dir_.filePath("Output"), name);
    QCOMPARE(atlas.error, QString());
    QCOMPARE(atlas.frames.size(), 1u);
    QVERIFY(atlas.frames.count(QStringLiteral("only.png")));
    QCOMPARE(planted(), QStringList{});
    QVERIFY(window.isVisible());
    QVERIFY(QDir(dir_.filePath(folder)).removeRecursively());
}

void WindowFaultsTest::aChosenFolderDeletedBeforeGoWritesNothing()
{
    QVERIFY(QDir(dir_.path()).mkpath("brief"));
    Form1 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(testing::PickFolder(window, QStringLiteral("brief")));
    QVERIFY(QDir(dir_.path()).rmdir("brief"));
    window.findChild<QLineEdit*>(QStringLiteral("Text4"))->setText(QStringLiteral("brief"));

    // The packer reports the missing folder on its own stderr and stops; the
    // window, which does not watch the job, stays usable.
    closeNextMessage();
    testing::ClickGo(window);
    QCOMPARE(messages_, QStringList{QStringLiteral("Please see output in /Output folder")});
    QTRY_VERIFY(!QFile::exists(QStringLiteral("temp.sh")));
    QTest::qWait(200);  // no assertion on time: only a chance for a wrong write to show
    QCOMPARE(QDir(dir_.filePath("Output")).entryList({QStringLiteral("brief*")}), QStringList{});
    QVERIFY(window.isVisible());
}

void WindowFaultsTest::goInACurrentFolderThatIsGoneShowsWhy()
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
        closeNextMessage();
        testing::ClickGo(window);
        QCOMPARE(messages_.size(), 1);
        QVERIFY2(messages_[0].startsWith(QStringLiteral("Cannot write temp.sh in ")), qPrintable(messages_[0]));
        QVERIFY(window.isVisible());

        // Back in a folder that exists, the same window goes on working.
        QVERIFY(QDir::setCurrent(dir_.path()));
        QVERIFY(QDir(dir_.path()).mkpath("again"));
        QVERIFY(test::FlatSprite(3, 3, Qt::red).save(dir_.filePath("again/a.png")));
        window.findChild<DirListBox*>(QStringLiteral("Dir1"))->setPath(QFile::encodeName(dir_.path()));
        QVERIFY(testing::PickFolder(window, QStringLiteral("again")));
        closeNextMessage();
        testing::ClickGo(window);
        QCOMPARE(messages_.size(), 2);
        QCOMPARE(messages_[1], QStringLiteral("Please see output in /Output folder"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir_.filePath("Output/Vintrix.json")), 60000);
    }
    QVERIFY(QDir::setCurrent(dir_.path()));
}

QTEST_MAIN(WindowFaultsTest)
#include "WindowFaultsTest.moc"
