#include "DirListBox.h"
#include "Form1.h"
#include "WindowDriver.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace vintrix;

namespace {

// Everything Go handed to the launcher and every message the window showed.
struct Record {
    QStringList lines;
    QStringList messages;
    std::optional<LaunchFailure> failure;
};

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void captionIconAndTip();
    void fieldsAreAnnouncedByTheirLabels_data();
    void fieldsAreAnnouncedByTheirLabels();
    void focusWalksFromGoInOrder();
    void comboLists();
    void typingIntoANumericBox_data();
    void typingIntoANumericBox();
    void refusedKeysDoNothingInNumericBoxes_data();
    void refusedKeysDoNothingInNumericBoxes();
    void keysWithoutACharacterStillWork();
    void pastesAreBoundedAtOnce();
    void characterChordsTypeNothing_data();
    void characterChordsTypeNothing();
    void ctrlHDeletesLikeBackspace();
    void aPastedLongNameStaysWholeAndReachesTheLineAsFifty();
    void inputMethodTextIsFilteredCharacterByCharacter();
    void theNameBoxTakesFiftyOneCharacters();
    void enterAndEscDoNotPressTheButtons();
    void goComposesTheLine_data();
    void goComposesTheLine();
    void pickingTheSameEntryAgainRestoresItsText();
    void aNumberOutOfRangeStopsGo();
    void aLaunchFailureIsReportedAndTheWindowStaysUsable();
    void resetAfterAJobLeavesRecordAndFolder();
    void aDoubleClickedFolderEndsTheLine();

private:
    template <typename T>
    T* control(const char* name) const
    {
        auto* found = window_->findChild<T*>(QString::fromLatin1(name));
        if (!found) {
            qFatal("no control %s", name);
        }
        return found;
    }
    QComboBox* combo(const char* name) const { return control<QComboBox>(name); }
    void clearBox(QWidget* box, int length);
    void typeInto(const char* name, const QString& keys);
    void pick(QComboBox* box, int row);
    void clickGo();

    QTemporaryDir folder_;
    QString previousFolder_;
    Record record_;
    std::unique_ptr<Form1> window_;
};

void Form1Test::initTestCase()
{
    QVERIFY(folder_.isValid());
    previousFolder_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder_.path()));
    QVERIFY(QDir(folder_.path()).mkpath("sprites/heroes"));
}

void Form1Test::init()
{
    record_ = {};
    window_ = std::make_unique<Form1>(
        [this](const std::u16string& line) {
            record_.lines << QString::fromStdU16String(line);
            return record_.failure;
        },
        [this](const QString& text) { record_.messages << text; });
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    testing::WaitForFolderList();
    QApplication::clipboard()->setText(QStringLiteral("123"));
}

void Form1Test::cleanup()
{
    window_.reset();
}

// Empties a box the way a user does: End, then Backspace for each character.
void Form1Test::clearBox(QWidget* box, int length)
{
    QTest::keyClick(box, Qt::Key_End);
    for (int i = 0; i < length; ++i) {
        QTest::keyClick(box, Qt::Key_Backspace);
    }
}

void Form1Test::typeInto(const char* name, const QString& keys)
{
    QWidget* box = window_->findChild<QWidget*>(QString::fromLatin1(name));
    box->setFocus();
    if (auto* comboBox = qobject_cast<QComboBox*>(box)) {
        clearBox(box, int(comboBox->currentText().size()));
    } else {
        clearBox(box, int(qobject_cast<QLineEdit*>(box)->text().size()));
    }
    QTest::keyClicks(box, keys);
}

// Opens the list, highlights an entry and takes it with Enter.
void Form1Test::pick(QComboBox* box, int row)
{
    box->setFocus();
    box->showPopup();
    QAbstractItemView* list = box->view();
    QTRY_VERIFY(list->isVisible());
    list->setCurrentIndex(list->model()->index(row, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
}

void Form1Test::clickGo()
{
    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
}

void Form1Test::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("container");

    const auto row = [](const char* name, const char* kind, const char* text, QRect rect,
                         const char* container = "Form1") {
        QTest::newRow(name) << name << kind << text << rect << container;
    };
    row("Label4", "QLabel", "Filename :", {24, 16, 65, 25});
    row("Text4", "QLineEdit", "Vintrix", {80, 16, 305, 25});
    row("Frame2", "QGroupBox", "Bits Per Pixel", {24, 48, 169, 129});
    row("Option4", "QRadioButton", "8-Bit", {48, 40, 89, 17}, "Frame2");
    row("Option3", "QRadioButton", "32-Bit", {48, 72, 89, 17}, "Frame2");
    row("Label1", "QLabel", "Width :", {248, 56, 41, 25});
    row("Combo1", "QComboBox", "256", {296, 56, 89, 21});
    row("Label2", "QLabel", "Height :", {248, 128, 41, 25});
    row("Combo2", "QComboBox", "256", {296, 128, 89, 21});
    row("Frame1", "QGroupBox", "Image Output", {24, 184, 169, 129});
    row("Option1", "QRadioButton", "BMP", {48, 40, 89, 17}, "Frame1");
    row("Option2", "QRadioButton", "PNG", {48, 72, 89, 17}, "Frame1");
    row("Label3", "QLabel", "Margin :", {248, 200, 41, 25});
    row("Combo3", "QComboBox", "0", {296, 200, 89, 21});
    row("Command2", "QPushButton", "Reset", {200, 264, 73, 49});
    row("Command1", "QPushButton", "Go", {280, 264, 137, 49});
    row("Label5", "QLabel", "Images Folder :", {24, 328, 73, 25});
    row("Dir1", "QListView", "", {104, 328, 313, 96});
}

void Form1Test::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(QString, container);

    QCOMPARE(window_->objectName(), QStringLiteral("Form1"));
    QCOMPARE(window_->size(), QSize(427, 431));
    QWidget* widget = window_->findChild<QWidget*>(name);
    QVERIFY(widget);
    QVERIFY2(widget->inherits(kind.toLatin1()), widget->metaObject()->className());
    QCOMPARE(widget->parentWidget()->objectName(), container);
    QCOMPARE(widget->geometry(), geometry);

    QString shown;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        shown = label->text();
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        shown = edit->text();
    } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        shown = frame->title();
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        shown = button->text();
    } else if (auto* box = qobject_cast<QComboBox*>(widget)) {
        shown = box->currentText();
        QVERIFY(box->isEditable());
        QCOMPARE(box->insertPolicy(), QComboBox::NoInsert);
    }
    QCOMPARE(shown, text);

    // Nothing moves when the window is resized.
    window_->resize(700, 600);
    QCOMPARE(widget->geometry(), geometry);
}

void Form1Test::captionIconAndTip()
{
    QCOMPARE(window_->windowTitle(), QStringLiteral("Vintrix Studio Ver. 0.5 [ https://vintrix.example.org ]"));
    const QList<QSize> sizes = window_->windowIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(32, 32)));
    QCOMPARE(control<QWidget>("Dir1")->toolTip(),
        QStringLiteral("Please select the directory where the images to pack resides."));
}

void Form1Test::fieldsAreAnnouncedByTheirLabels_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("labelledBy");  // a list view reports no relations
    QTest::newRow("file name") << "Text4"
                               << "Filename" << true;
    QTest::newRow("width") << "Combo1"
                           << "Width" << true;
    QTest::newRow("height") << "Combo2"
                            << "Height" << true;
    QTest::newRow("margin") << "Combo3"
                            << "Margin" << true;
    QTest::newRow("folder list") << "Dir1"
                                 << "Images Folder" << false;
}

// What a screen reader asks: the name of the field, or in a combo box of the
// edit field it reports as focused, and the label the field is labelled by.
void Form1Test::fieldsAreAnnouncedByTheirLabels()
{
    QFETCH(QString, field);
    QFETCH(QString, name);
    QFETCH(bool, labelledBy);
    QWidget* widget = control<QWidget>(field.toLatin1().constData());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QAccessibleInterface* named = accessible;
    if (qobject_cast<QComboBox*>(widget)) {
        named = accessible->focusChild();
        QVERIFY(named);
    }
    QCOMPARE(named->text(QAccessible::Name), name);
    if (!labelledBy) {
        return;
    }
    QStringList labels;
    for (const auto& [label, relation] : accessible->relations(QAccessible::Label)) {
        labels << label->text(QAccessible::Name);
    }
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels[0].remove(QLatin1Char(':')).trimmed(), name);
}

void Form1Test::focusWalksFromGoInOrder()
{
    QCOMPARE(QApplication::focusWidget(), control<QWidget>("Command1"));
    // Tab enters each option group once, at its first button in the order;
    // the arrow keys move within it.
    const QStringList expected{
        "Option1", "Option3", "Text4", "Combo1", "Combo2", "Combo3", "Command2", "Dir1", "Command1"};
    QStringList walked;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(walked, expected);

    control<QWidget>("Option1")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Option2"));
}

void Form1Test::comboLists()
{
    const auto entries = [this](const char* name) {
        QStringList texts;
        for (int i = 0; i < combo(name)->count(); ++i) {
            texts << combo(name)->itemText(i);
        }
        return texts;
    };
    const QStringList sizes{"16", "32", "64", "128", "256", "512", "1024", "2048"};
    QCOMPARE(entries("Combo1"), sizes);
    QCOMPARE(entries("Combo2"), sizes);
    QStringList margins;
    for (int i = 0; i <= 32; ++i) {
        margins << QStringLiteral(" %1").arg(i);
    }
    QCOMPARE(entries("Combo3"), margins);
}

void Form1Test::typingIntoANumericBox_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");

    QTest::newRow("70000 bounded on the fifth digit") << "Combo1"
                                                      << "70000"
                                                      << " 65536";
    QTest::newRow("65536 stays") << "Combo1"
                                 << "65536"
                                 << "65536";
    QTest::newRow("typing on after the bound") << "Combo2"
                                               << "700009"
                                               << " 65536";
    QTest::newRow("letters and blanks refused") << "Combo2"
                                                << "1a2 b3"
                                                << "123";
    QTest::newRow("sign, point and exponent refused") << "Combo3"
                                                      << "-1.5e9"
                                                      << "159";
}

void Form1Test::typingIntoANumericBox()
{
    QFETCH(QString, box);
    QFETCH(QString, keys);
    QFETCH(QString, shown);

    typeInto(box.toLatin1(), keys);
    QCOMPARE(combo(box.toLatin1())->currentText(), shown);
}

void Form1Test::refusedKeysDoNothingInNumericBoxes_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");

    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    QTest::newRow("Combo1 Ctrl+V") << "Combo1" << int(Qt::Key_V) << ctrl;
    QTest::newRow("Combo1 Enter") << "Combo1" << int(Qt::Key_Return) << Qt::KeyboardModifiers();
    QTest::newRow("Combo2 Ctrl+X") << "Combo2" << int(Qt::Key_X) << ctrl;
    QTest::newRow("Combo2 Ctrl+G") << "Combo2" << int(Qt::Key_G) << ctrl;
    QTest::newRow("Combo3 Ctrl+C") << "Combo3" << int(Qt::Key_C) << ctrl;
    QTest::newRow("Combo3 Ctrl+Z") << "Combo3" << int(Qt::Key_Z) << ctrl;
}

// The box holds 12 with all of it selected, and the clipboard holds 123: a key
// that got through would paste, cut, copy or undo.
void Form1Test::refusedKeysDoNothingInNumericBoxes()
{
    QFETCH(QString, box);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);

    QComboBox* target = combo(box.toLatin1());
    typeInto(box.toLatin1(), "12");
    QTest::keyClick(target, Qt::Key_Home);
    QTest::keyClick(target, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(target->lineEdit()->selectedText(), QStringLiteral("12"));

    // Swallowed whole: not even a shortcut of the window sees the key.
    QShortcut shortcut(QKeySequence(QKeyCombination(modifiers, Qt::Key(key))), window_.get());
    QSignalSpy shortcutRuns(&shortcut, &QShortcut::activated);

    QTest::keyClick(target, Qt::Key(key), modifiers);
    QTest::keyClick(target->lineEdit(), Qt::Key(key), modifiers);

    QCOMPARE(target->currentText(), QStringLiteral("12"));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("123"));
    QCOMPARE(target->lineEdit()->selectedText(), QStringLiteral("12"));
    QCOMPARE(shortcutRuns.count(), 0);
    QVERIFY(record_.lines.isEmpty());
}

void Form1Test::keysWithoutACharacterStillWork()
{
    QComboBox* width = combo("Combo1");
    typeInto("Combo1", "1234");
    QTest::keyClick(width, Qt::Key_Home);
    QTest::keyClick(width, Qt::Key_Delete);
    QCOMPARE(width->currentText(), QStringLiteral("234"));
    QTest::keyClick(width, Qt::Key_Right);
    QTest::keyClick(width, Qt::Key_Backspace);
    QCOMPARE(width->currentText(), QStringLiteral("34"));
    QTest::keyClick(width, Qt::Key_End, Qt::ShiftModifier);
    QTest::keyClick(width, Qt::Key_Insert, Qt::ControlModifier);  // copies
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("34"));
}

// A paste is no typed key: the text arrives whole and is bounded at once,
// whether Shift+Insert or the context menu pastes it.
void Form1Test::pastesAreBoundedAtOnce()
{
    QComboBox* height = combo("Combo2");
    typeInto("Combo2", "");
    QApplication::clipboard()->setText(QStringLiteral("abc"));
    QTest::keyClick(height, Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(height->currentText(), QStringLiteral("abc"));

    typeInto("Combo2", "");
    QApplication::clipboard()->setText(QStringLiteral("70000"));
    QTest::keyClick(height, Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(height->currentText(), QStringLiteral(" 65536"));

    QComboBox* width = combo("Combo1");
    typeInto("Combo1", "");
    std::unique_ptr<QMenu> menu(width->lineEdit()->createStandardContextMenu());
    const QList<QAction*> actions = menu->actions();
    const auto paste = std::find_if(actions.begin(), actions.end(),
        [](const QAction* action) { return action->text().remove(u'&').startsWith(QStringLiteral("Paste")); });
    QVERIFY(paste != actions.end() && (*paste)->isEnabled());
    (*paste)->trigger();
    QCOMPARE(width->currentText(), QStringLiteral(" 65536"));
    clickGo();
    QCOMPARE(record_.lines, QStringList{"Vintrix 65536 65536 Vintrix 8 0 0 "});
}

void Form1Test::characterChordsTypeNothing_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("text");

    const Qt::KeyboardModifiers alt = Qt::AltModifier;
    QTest::newRow("Alt+A in Combo1") << "Combo1"
                                     << "12" << int(Qt::Key_A) << alt << "a";
    QTest::newRow("Alt+Q in a full Text4") << "Text4" << QString(51, u'n') << int(Qt::Key_Q) << alt << "q";
}

// Qt would insert the key's text; the filters see no character, so nothing
// may arrive.
void Form1Test::characterChordsTypeNothing()
{
    QFETCH(QString, box);
    QFETCH(QString, before);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, text);

    typeInto(box.toLatin1(), before);
    QWidget* target = window_->findChild<QWidget*>(box);
    QTest::sendKeyEvent(QTest::Click, target, Qt::Key(key), text, modifiers);
    const auto* comboBox = qobject_cast<QComboBox*>(target);
    QCOMPARE(comboBox ? comboBox->currentText() : qobject_cast<QLineEdit*>(target)->text(), before);
}

void Form1Test::ctrlHDeletesLikeBackspace()
{
    QComboBox* height = combo("Combo2");
    typeInto("Combo2", "123");
    QTest::keyClick(height, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(height->currentText(), QStringLiteral("12"));

    auto* name = control<QLineEdit>("Text4");
    typeInto("Text4", QString(51, u'n'));
    QTest::keyClick(name, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(name->text(), QString(50, u'n'));
}

// Pasting is not typing, and the box has no length limit of its own (a line
// edit's default is 32767): the box keeps the whole paste, the job gets 50.
void Form1Test::aPastedLongNameStaysWholeAndReachesTheLineAsFifty()
{
    auto* name = control<QLineEdit>("Text4");
    typeInto("Text4", "");
    const QString pasted = QString(50, u'a') + QString(40000, u'b');
    QApplication::clipboard()->setText(pasted);
    QTest::keyClick(name, Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(name->text(), pasted);
    clickGo();
    QCOMPARE(record_.lines, QStringList{"Vintrix 256 256 " + QString(50, u'a') + " 8 0 0 "});
    QCOMPARE(name->text(), pasted);
}

void Form1Test::inputMethodTextIsFilteredCharacterByCharacter()
{
    QComboBox* margin = combo("Combo3");
    typeInto("Combo3", "");
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("1x2\u00E93"));
    QApplication::sendEvent(margin, &commit);
    QCOMPARE(margin->currentText(), QStringLiteral("123"));

    auto* name = control<QLineEdit>("Text4");
    typeInto("Text4", QString(49, u'n'));
    QInputMethodEvent longCommit;
    longCommit.setCommitString(QStringLiteral("abcd"));
    QApplication::sendEvent(name, &longCommit);
    QCOMPARE(name->text(), QString(49, u'n') + QStringLiteral("ab"));
}

void Form1Test::theNameBoxTakesFiftyOneCharacters()
{
    auto* name = control<QLineEdit>("Text4");
    typeInto("Text4", QString(50, u'x'));
    QCOMPARE(name->text().size(), 50);
    QTest::keyClick(name, Qt::Key_Y);
    QCOMPARE(name->text(), QString(50, u'x') + u'y');
    QTest::keyClicks(name, "zz");
    QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(name, Qt::Key_Home);
    QTest::keyClick(name, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(name->text(), QString(50, u'x') + u'y');
    QTest::keyClick(name, Qt::Key_End);
    QTest::keyClick(name, Qt::Key_Backspace);
    QCOMPARE(name->text(), QString(50, u'x'));

    // At 50 a keyboard paste is a typed character that passes.
    QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(name->text(), QString(50, u'x') + QStringLiteral("123"));
}

void Form1Test::enterAndEscDoNotPressTheButtons()
{
    for (const char* name : {"Command1", "Command2"}) {
        auto* button = control<QPushButton>(name);
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }
    typeInto("Combo1", "99");
    for (const char* focus : {"Command1", "Command2", "Text4"}) {
        QWidget* widget = control<QWidget>(focus);
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_Return);
        QTest::keyClick(widget, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(widget, Qt::Key_Escape);
    }
    QVERIFY(record_.lines.isEmpty());
    QCOMPARE(combo("Combo1")->currentText(), QStringLiteral("99"));
    QTest::keyClick(control<QPushButton>("Command1"), Qt::Key_Space);
    QCOMPARE(record_.lines.size(), 1);
}

void Form1Test::goComposesTheLine_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::addColumn<int>("marginEntry");
    QTest::addColumn<QString>("marginKeys");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("shownAfter");

    const QString keep = QStringLiteral("keep");
    const QStringList none;
    QTest::newRow("margin 5 from the list")
        << keep << keep << 5 << keep << keep << none << "Vintrix 256 256 Vintrix 8 0 5 "
        << QStringList{"256", "256", " 5", "Vintrix"};
    QTest::newRow("32-Bit and PNG") << keep << keep << -1 << keep << keep << QStringList{"Option3", "Option2"}
                                    << "Vintrix 256 256 Vintrix 32 1 0 " << QStringList{"256", "256", "0", "Vintrix"};
    QTest::newRow("emptied boxes refilled")
        << ""
        << "" << -1 << ""
        << "" << none << "Vintrix 256 256 Vintrix 8 0 0 " << QStringList{"256", "256", "0", "Vintrix"};
    QTest::newRow("blank name is kept") << keep << keep << -1 << keep << "   " << none << "Vintrix 256 256 '' 8 0 0 "
                                        << QStringList{"256", "256", "0", "   "};
}

void Form1Test::goComposesTheLine()
{
    QFETCH(QString, width);
    QFETCH(QString, height);
    QFETCH(int, marginEntry);
    QFETCH(QString, marginKeys);
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    QFETCH(QString, line);
    QFETCH(QStringList, shownAfter);

    const QString keep = QStringLiteral("keep");
    for (const auto& [box, keys] :
        {std::pair{"Combo1", width}, {"Combo2", height}, {"Combo3", marginKeys}, {"Text4", name}}) {
        if (keys != keep) {
            typeInto(box, keys);
        }
    }
    if (marginEntry >= 0) {
        pick(combo("Combo3"), marginEntry);
    }
    for (const QString& option : options) {
        QTest::mouseClick(control<QRadioButton>(option.toLatin1()), Qt::LeftButton);
    }
    clickGo();

    QCOMPARE(record_.lines, QStringList{line});
    QVERIFY(record_.messages.isEmpty());
    const QStringList shown{combo("Combo1")->currentText(), combo("Combo2")->currentText(),
        combo("Combo3")->currentText(), control<QLineEdit>("Text4")->text()};
    QCOMPARE(shown, shownAfter);
}

void Form1Test::pickingTheSameEntryAgainRestoresItsText()
{
    QComboBox* margin = combo("Combo3");
    pick(margin, 7);
    QCOMPARE(margin->currentText(), QStringLiteral(" 7"));
    QTest::keyClick(margin, Qt::Key_End);
    QTest::keyClicks(margin, "1");
    QCOMPARE(margin->currentText(), QStringLiteral(" 71"));
    pick(margin, 7);
    QCOMPARE(margin->currentText(), QStringLiteral(" 7"));
}

void Form1Test::aNumberOutOfRangeStopsGo()
{
    typeInto("Combo1", "100");
    typeInto("Combo2", "");
    typeInto("Text4", "later");
    QApplication::clipboard()->setText(QStringLiteral("-3e9"));
    QTest::keyClick(combo("Combo2"), Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(combo("Combo2")->currentText(), QStringLiteral("-3e9"));
    QTest::mouseClick(control<QRadioButton>("Option3"), Qt::LeftButton);
    clickGo();

    QVERIFY(record_.lines.isEmpty());
    QCOMPARE(record_.messages, QStringList{"The number in Height is out of range."});
    QCOMPARE(window_->settings().bitsPerPixel, 32);
    QCOMPARE(window_->settings().width, 100);
    QCOMPARE(window_->settings().height, 256);
    QCOMPARE(window_->settings().fileName, FixedName(u"Vintrix"));

    typeInto("Combo2", "64");
    clickGo();
    QCOMPARE(record_.lines, QStringList{"Vintrix 100 64 later 32 0 0 "});
}

void Form1Test::aLaunchFailureIsReportedAndTheWindowStaysUsable()
{
    record_.failure = LaunchFailure{QStringLiteral("Cannot write temp.sh in /gone: No such file or directory")};
    clickGo();
    QCOMPARE(record_.messages, QStringList{"Cannot write temp.sh in /gone: No such file or directory"});
    record_.failure.reset();
    typeInto("Combo1", "8");
    clickGo();
    QCOMPARE(record_.lines.size(), 2);
    QCOMPARE(record_.lines.last(), QStringLiteral("Vintrix 8 256 Vintrix 8 0 0 "));
    QCOMPARE(record_.messages.size(), 1);
}

void Form1Test::resetAfterAJobLeavesRecordAndFolder()
{
    auto* folders = control<DirListBox>("Dir1");
    const int sprites = folders->model()->rowCount() - 1;
    QCOMPARE(folders->model()->index(sprites, 0).data().toString(), QStringLiteral("sprites"));
    folders->openRow(sprites);
    typeInto("Combo1", "512");
    typeInto("Combo2", "128");
    pick(combo("Combo3"), 2);
    typeInto("Text4", "job");
    QTest::mouseClick(control<QRadioButton>("Option3"), Qt::LeftButton);
    QTest::mouseClick(control<QRadioButton>("Option2"), Qt::LeftButton);
    clickGo();
    const PackSettings afterJob = window_->settings();
    QCOMPARE(afterJob.width, 512);
    QCOMPARE(afterJob.margin, 2);

    typeInto("Combo1", "1");
    typeInto("Combo2", "");
    typeInto("Text4", "changed");
    QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);

    const QStringList shown{combo("Combo1")->currentText(), combo("Combo2")->currentText(),
        combo("Combo3")->currentText(), control<QLineEdit>("Text4")->text()};
    QCOMPARE(shown, (QStringList{"256", "256", "0", "Vintrix"}));
    QVERIFY(control<QRadioButton>("Option4")->isChecked());
    QVERIFY(!control<QRadioButton>("Option3")->isChecked());
    QVERIFY(control<QRadioButton>("Option1")->isChecked());
    QVERIFY(!control<QRadioButton>("Option2")->isChecked());
    QVERIFY(window_->settings() == afterJob);
    QCOMPARE(folders->path(), QDir(folder_.path()).filePath("sprites"));
    QCOMPARE(record_.lines.size(), 1);
}

void Form1Test::aDoubleClickedFolderEndsTheLine()
{
    QVERIFY(testing::PickFolder(*window_, QStringLiteral("sprites")));
    QVERIFY(testing::PickFolder(*window_, QStringLiteral("heroes")));
    clickGo();
    const QString heroes = QDir(folder_.path()).filePath("sprites/heroes");
    QCOMPARE(record_.lines, QStringList{"Vintrix 256 256 Vintrix 8 0 0 " + heroes + "/"});
}

QTEST_MAIN(Form1Test)
#include "Form1Test.moc"
