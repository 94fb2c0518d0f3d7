// The whole window with the real launcher: Go writes the script in the
// current folder, a recording stand-in Vintrix receives the arguments, and
// the test closes the notice as a user would.
#include "Form1.h"
#include "WindowDriver.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vintrix;

class Form1JobTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void goRunsThePackerAndTheNoticeIsPlain();

private:
    // Closes the next modal message with its OK button and records it.
    void closeNextMessage();
    QStringList recordedCall(int n) const;

    QTemporaryDir dir_;
    QString previous_;
    struct Seen {
        QString text;
        QString title;
        QMessageBox::Icon icon = QMessageBox::Information;
        QMessageBox::StandardButtons buttons;
        bool scriptPresent = false;
    };
    QList<Seen> seen_;
};

void Form1JobTest::initTestCase()
{
    QApplication::setApplicationName(QStringLiteral("Vintrix Studio"));
    QVERIFY(dir_.isValid());
    previous_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));
    QVERIFY(QFile::copy(QStringLiteral(RECORD_ARGS), dir_.filePath("Vintrix")));
    QVERIFY(QDir(dir_.path()).mkpath("art/tiles"));
}

void Form1JobTest::cleanupTestCase()
{
    QDir::setCurrent(previous_);
}

void Form1JobTest::closeNextMessage()
{
    testing::CloseNextMessage(this, [this](const QMessageBox& box) {
        seen_ << Seen{box.text(), box.windowTitle(), box.icon(), box.standardButtons(),
                      QFile::exists(QStringLiteral("temp.sh"))};
    });
}

QStringList Form1JobTest::recordedCall(int n) const
{
    QFile record(dir_.filePath(QStringLiteral("call-%1").arg(n)));
    if (!record.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList args;
    for (const QByteArray& arg : record.readAll().split('\0')) {
        args << QString::fromLocal8Bit(arg);
    }
    args.removeLast();  // after the last terminator
    return args;
}

void Form1JobTest::goRunsThePackerAndTheNoticeIsPlain()
{
    Form1 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(testing::PickFolder(window, QStringLiteral("art")));
    auto* width = window.findChild<QComboBox*>("Combo1");
    width->setFocus();
    QTest::keyClick(width, Qt::Key_End);
    QTest::keyClicks(width, "0");  // 2560

    closeNextMessage();
    QTest::mouseClick(window.findChild<QPushButton*>("Command1"), Qt::LeftButton);

    QCOMPARE(seen_.size(), 1);
    QCOMPARE(seen_[0].text, QStringLiteral("Please see output in /Output folder"));
    QCOMPARE(seen_[0].title, QStringLiteral("Vintrix Studio"));
    QCOMPARE(seen_[0].icon, QMessageBox::NoIcon);
    QCOMPARE(seen_[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(seen_[0].scriptPresent);
    QVERIFY(!QFile::exists(QStringLiteral("temp.sh")));
    QTRY_VERIFY(QFile::exists(dir_.filePath("call-1")));
    QTRY_COMPARE(recordedCall(1),
                 (QStringList{"2560", "256", "Vintrix", "8", "0", "0", dir_.filePath("art") + "/"}));
    QVERIFY(window.isVisible());
}

QTEST_MAIN(Form1JobTest)
#include "Form1JobTest.moc"
