// The whole window with the real launcher: Go writes the script in the
// current folder, a recording stand-in Vintrix receives the arguments, and
// the test closes the notice as a user would. Last, the real Vintrix takes its
// place and Go leaves a sheet in Output.
#include "DirListBox.h"
#include "Form1.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vintrix;

class Form1JobTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void goRunsThePackerAndTheNoticeIsPlain();
    void anOutOfRangeNumberIsReportedInAPlainMessage();
    void goWithTheRealPackerLeavesASheetInOutput();

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
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, timer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        seen_ << Seen{box->text(), box->windowTitle(), box->icon(), box->standardButtons(),
                      QFile::exists(QStringLiteral("temp.sh"))};
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    timer->start(10);
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
    auto* folders = window.findChild<DirListBox*>("Dir1");
    const QModelIndex art = folders->model()->index(folders->model()->rowCount() - 1, 0);
    QCOMPARE(art.data().toString(), QStringLiteral("art"));
    QTest::mouseClick(folders->viewport(), Qt::LeftButton, {}, folders->visualRect(art).center());
    QTest::mouseDClick(folders->viewport(), Qt::LeftButton, {}, folders->visualRect(art).center());
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

void Form1JobTest::anOutOfRangeNumberIsReportedInAPlainMessage()
{
    seen_.clear();
    Form1 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* margin = window.findChild<QComboBox*>("Combo3");
    margin->setFocus();
    QTest::keyClick(margin, Qt::Key_End);
    QTest::keyClick(margin, Qt::Key_Backspace);
    QApplication::clipboard()->setText(QStringLiteral("-1e10"));
    QTest::keyClick(margin, Qt::Key_Insert, Qt::ShiftModifier);

    closeNextMessage();
    QTest::mouseClick(window.findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QCOMPARE(seen_.size(), 1);
    QCOMPARE(seen_[0].text, QStringLiteral("The number in Margin is out of range."));
    QCOMPARE(seen_[0].icon, QMessageBox::NoIcon);
    QVERIFY(!QFile::exists(dir_.filePath("call-2")));
    QVERIFY(!QFile::exists(QStringLiteral("temp.sh")));
}

void Form1JobTest::goWithTheRealPackerLeavesASheetInOutput()
{
    QVERIFY(QFile::remove(dir_.filePath("Vintrix")));
    QVERIFY(QFile::copy(QStringLiteral(VINTRIX), dir_.filePath("Vintrix")));
    QVERIFY(QDir(dir_.path()).mkpath("sprites"));
    const QList<QPair<QString, QColor>> sprites{{"red.png", QColor(255, 0, 0, 255)},
                                                {"green.png", QColor(0, 255, 0, 128)},
                                                {"blue.png", QColor(0, 0, 255, 64)}};
    for (int i = 0; i < sprites.size(); ++i) {
        QImage image(20 + 10 * i, 30, QImage::Format_RGBA8888);
        image.fill(sprites[i].second);
        QVERIFY(image.save(dir_.filePath("sprites/" + sprites[i].first)));
    }

    Form1 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* folders = window.findChild<DirListBox*>("Dir1");
    const QModelIndexList found = folders->model()->match(folders->model()->index(0, 0), Qt::DisplayRole,
                                                          QStringLiteral("sprites"), 1, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    const QPoint center = folders->visualRect(found[0]).center();
    QTest::mouseClick(folders->viewport(), Qt::LeftButton, {}, center);
    QTest::mouseDClick(folders->viewport(), Qt::LeftButton, {}, center);
    QTest::mouseClick(window.findChild<QRadioButton*>("Option3"), Qt::LeftButton);
    QTest::mouseClick(window.findChild<QRadioButton*>("Option2"), Qt::LeftButton);

    closeNextMessage();
    QTest::mouseClick(window.findChild<QPushButton*>("Command1"), Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir_.filePath("Output/Vintrix.json")), 20000);
    QFile data(dir_.filePath("Output/Vintrix.json"));
    QVERIFY(data.open(QIODevice::ReadOnly));
    const QJsonObject frames = QJsonDocument::fromJson(data.readAll()).object()["frames"].toObject();
    QCOMPARE(frames.size(), sprites.size());
    const QImage sheet(dir_.filePath("Output/Vintrix.png"));
    QCOMPARE(sheet.size(), QSize(256, 256));
    for (const auto& [name, color] : sprites) {
        const QJsonObject frame = frames[name].toObject()["frame"].toObject();
        const QRect place(frame["x"].toInt(), frame["y"].toInt(), frame["w"].toInt(), frame["h"].toInt());
        QVERIFY2(sheet.rect().contains(place), qPrintable(name));
        QCOMPARE(sheet.pixelColor(place.center()), color);
    }
}

QTEST_MAIN(Form1JobTest)
#include "Form1JobTest.moc"
