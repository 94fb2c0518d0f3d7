#include "CommandLine.h"
#include "Form1.h"
#include "KeyCharacters.h"
#include "WindowDriver.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>
#include <tuple>

using namespace vintrix;

struct KeyText {
    int key;
    Qt::KeyboardModifiers modifiers;
    QString text, typed;
    bool chord;
};
Q_DECLARE_METATYPE(KeyText)

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(folder_.isValid());
        QVERIFY(QDir::setCurrent(folder_.path()));
        QVERIFY(QDir(folder_.path()).mkpath("sprites/heroes"));
    }

    // Every line Go hands to the launcher, every message the window shows.
    void init()
    {
        lines_.clear();
        messages_.clear();
        window_ = std::make_unique<Form1>(
            [this](const std::u16string& line) {
                lines_ << QString::fromStdU16String(line);
                return std::exchange(failure_, std::nullopt);
            },
            [this](const QString& text) { messages_ << text; });
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        testing::WaitForFolderList();
        QApplication::clipboard()->setText(QStringLiteral("123"));
    }
    void cleanup() { window_.reset(); }

    // The caption, the icon, and each control's kind, text, container, place
    // in it and list; nothing moves when the window is resized.
    void controls()
    {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Vintrix Studio Ver. 0.5 [ https://vintrix.example.org ]"));
        const QList<QSize> sizes = window_->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)));
        QCOMPARE(control("Dir1")->toolTip(),
            QStringLiteral("Please select the directory where the images to pack resides."));
        QCOMPARE(window_->size(), QSize(427, 431));
        const QStringList sizeEntries{"16", "32", "64", "128", "256", "512", "1024", "2048"};
        QStringList margins;
        for (int i = 0; i <= 32; ++i)
            margins << QStringLiteral(" %1").arg(i);
        const QList<QWidget*> all = window_->findChildren<QWidget*>();
        QList<QRect> before;
        for (const QWidget* widget : all)
            before << widget->geometry();
        for (const auto& [name, kind, text, container, place] :
            {std::tuple{"Label4", "QLabel", "Filename :", "Form1", QRect(24, 16, 65, 25)},
                {"Text4", "QLineEdit", "Vintrix", "Form1", QRect(80, 16, 305, 25)},
                {"Frame2", "QGroupBox", "Bits Per Pixel", "Form1", QRect(24, 48, 169, 129)},
                {"Option4", "QRadioButton", "8-Bit", "Frame2", QRect(48, 40, 89, 17)},
                {"Option3", "QRadioButton", "32-Bit", "Frame2", QRect(48, 72, 89, 17)},
                {"Label1", "QLabel", "Width :", "Form1", QRect(248, 56, 41, 25)},
                {"Combo1", "QComboBox", "256", "Form1", QRect(296, 56, 89, 21)},
                {"Label2", "QLabel", "Height :", "Form1", QRect(248, 128, 41, 25)},
                {"Combo2", "QComboBox", "256", "Form1", QRect(296, 128, 89, 21)},
                {"Frame1", "QGroupBox", "Image Output", "Form1", QRect(24, 184, 169, 129)},
                {"Option1", "QRadioButton", "BMP", "Frame1", QRect(48, 40, 89, 17)},
                {"Option2", "QRadioButton", "PNG", "Frame1", QRect(48, 72, 89, 17)},
                {"Label3", "QLabel", "Margin :", "Form1", QRect(248, 200, 41, 25)},
                {"Combo3", "QComboBox", "0", "Form1", QRect(296, 200, 89, 21)},
                {"Command2", "QPushButton", "Reset", "Form1", QRect(200, 264, 73, 49)},
                {"Command1", "QPushButton", "Go", "Form1", QRect(280, 264, 137, 49)},
                {"Label5", "QLabel", "Images Folder :", "Form1", QRect(24, 328, 73, 25)},
                {"Dir1", "QListView", "", "Form1", QRect(104, 328, 313, 96)}}) {
            QWidget* widget = control(name);
            QVERIFY2(widget->inherits(kind), name);
            QCOMPARE(widget->parentWidget()->objectName(), QLatin1String(container));
            QCOMPARE(widget->geometry(), place);
            const char* shown = widget->inherits("QGroupBox") ? "title"
                : widget->inherits("QComboBox")               ? "currentText"
                                                              : "text";
            QCOMPARE(widget->property(shown).toString(), QLatin1String(text));
            if (auto* box = qobject_cast<QComboBox*>(widget)) {
                QVERIFY(box->isEditable());
                QCOMPARE(box->insertPolicy(), QComboBox::NoInsert);
                QStringList listed;
                for (int i = 0; i < box->count(); ++i)
                    listed << box->itemText(i);
                QCOMPARE(listed, QLatin1String(name) == "Combo3" ? margins : sizeEntries);
            }
            QVERIFY(!widget->inherits("QLabel") || widget->focusPolicy() == Qt::NoFocus);
        }
        window_->resize(700, 600);
        for (qsizetype i = 0; i < all.size(); ++i)
            QCOMPARE(all[i]->geometry(), before[i]);
    }

    // What a screen reader asks: the name of the field, or in a combo box of
    // the edit field it reports as focused, and the one label the field is
    // labelled by (a list view reports no relations).
    void fieldsAreAnnouncedByTheirLabels()
    {
        for (const auto& [field, name] : {std::pair{"Text4", "Filename"}, {"Combo1", "Width"}, {"Combo2", "Height"},
                 {"Combo3", "Margin"}, {"Dir1", "Images Folder"}}) {
            QWidget* widget = control(field);
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(accessible);
            QAccessibleInterface* named = qobject_cast<QComboBox*>(widget) ? accessible->focusChild() : accessible;
            QVERIFY(named);
            QCOMPARE(named->text(QAccessible::Name), QLatin1String(name));
            QStringList labels;
            for (const auto& [label, relation] : accessible->relations(QAccessible::Label))
                labels << label->text(QAccessible::Name).remove(QLatin1Char(':')).trimmed();
            QVERIFY(QLatin1String(field) == "Dir1" || labels == QStringList{name});
        }
    }

    // What the window's key filters see for a key: the code of a control
    // character or the text Qt reports, or none; and whether it is an Alt or
    // Meta chord on a character key, which types nothing.
    void codesAndChords_data()
    {
        QTest::addColumn<KeyText>("k");
        const auto row = [](const char* label, int key, Qt::KeyboardModifiers modifiers, const QString& text,
                             const QString& typed, bool chord = false) {
            QTest::newRow(label) << KeyText{key, modifiers, text, typed, chord};
        };
        const auto code = [](int c) { return QString(QChar(c)); };
        const Qt::KeyboardModifiers none, ctrl = Qt::ControlModifier, alt = Qt::AltModifier;
        // Printable text passes as Qt reports it, beyond the 16-bit range too.
        row("emoji", 0, none, "\U0001F600", "\U0001F600");
        // Ctrl with a letter or bracket gives its control code, text or none.
        row("Ctrl+A", Qt::Key_A, ctrl, "\x01", code(1));
        row("Ctrl+Shift+V without text", Qt::Key_V, ctrl | Qt::ShiftModifier, "", code(22));
        row("Ctrl+]", Qt::Key_BracketRight, ctrl, "", code(29));
        row("Ctrl+1", Qt::Key_1, ctrl, "1", "");
        row("Ctrl+Backspace", Qt::Key_Backspace, ctrl, "", code(127));
        row("keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, "\r", code(13));
        row("Esc", Qt::Key_Escape, none, "\x1b", code(27));
        // Keys that type nothing, whatever text Qt reports for them.
        row("Tab", Qt::Key_Tab, none, "\t", "");
        row("Delete with DEL text", Qt::Key_Delete, none, "\x7f", "");
        row("Alt+V", Qt::Key_V, alt, "v", "", true);
        row("Meta+B", Qt::Key_B, Qt::MetaModifier, "b", "", true);
        row("Alt+Shift+7", Qt::Key_7, alt | Qt::ShiftModifier, "7", "", true);
        row("Alt+Down", Qt::Key_Down, alt, "", "");
        row("Alt+Backspace", Qt::Key_Backspace, alt, "\b", "");
    }

    void codesAndChords()
    {
        QFETCH(KeyText, k);
        QCOMPARE(vintrix::KeyCharacters(k.key, k.modifiers, k.text), k.typed);
        QCOMPARE(vintrix::IsCharacterChord(k.key, k.modifiers, k.text), k.chord);
    }

    // A user's steps, each a verb, a control and a text: "type" empties the
    // box and types the text, "keys" presses chords as QKeySequence writes
    // them ("field": in a combo box's own field), "paste" pastes the text
    // with Shift+Insert, "next" presses the chord where the focus is and
    // checks that the focus moves to the control, "commit" sends the text as
    // an input method's, "pick" takes that entry of the list, "click" clicks
    // the control, "fail" makes the next launch fail with the text, "open"
    // opens that folder, "shortcut" gives the window shortcuts that leave a
    // message, "clipboard" checks the clipboard's text. Then what each
    // control shows, as "control=text" where it differs from the start (a
    // group shows its checked button), the lines Go launched, the messages
    // shown and the settings kept, as a line, where they differ from the last
    // line.
    void userSteps_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("record");
        const auto row = [](const char* label, const QStringList& steps, const QStringList& shown,
                             const QStringList& lines = {}, const QStringList& messages = {},
                             const QString& record = {}) {
            QTest::newRow(label) << steps << shown << lines << messages << record;
        };
        // The numeric boxes take digits and bound the number at once; the name
        // box takes characters up to its 51st. Alt chords type nothing, Ctrl+H
        // deletes like Backspace, an input method's text is filtered character
        // by character (a full-width digit is no digit).
        const QString fifty(50, u'x'), fiftyOne = fifty + u'y';
        row("70000 bounded on the fifth digit", {"type Combo1 70000"}, {"Combo1= 65536"});
        row("65536 stays", {"type Combo1 65536"}, {"Combo1=65536"});
        row("typing on after the bound", {"type Combo2 700009"}, {"Combo2= 65536"});
        row("letters and blanks refused", {"type Combo2 1a2 b3"}, {"Combo2=123"});
        row("sign, point and exponent refused", {"type Combo3 -1.5e9"}, {"Combo3=159"});
        row("Delete and Backspace", {"type Combo1 1234", "keys Combo1 Home Del Right Backspace"}, {"Combo1=34"});
        row("Alt+A", {"type Combo1 12", "keys Combo1 Alt+A"}, {"Combo1=12"});
        row("Alt+Q in a full name box", {"type Text4 " + fiftyOne, "keys Text4 Alt+Q"}, {"Text4=" + fiftyOne});
        row("Ctrl+H", {"type Combo2 123", "keys Combo2 Ctrl+H"}, {"Combo2=12"});
        row("Ctrl+H in a full name box", {"type Text4 " + fiftyOne, "keys Text4 Ctrl+H"}, {"Text4=" + fifty});
        row("no 52nd character, paste or undo in the name box",
            {"type Text4 " + fiftyOne + "zz", "keys Text4 Ctrl+V Home Ctrl+Z"}, {"Text4=" + fiftyOne});
        row("a keyboard paste at 50 is one typed character", {"type Text4 " + fifty, "keys Text4 Ctrl+V"},
            {"Text4=" + fifty + "123"});
        row("input method digits", {"type Combo3", "commit Combo3 1x2\u00E9\uFF153"}, {"Combo3=123"});
        row("input method up to the 51st", {"type Text4 " + fifty.left(49), "commit Text4 abcd"},
            {"Text4=" + fifty.left(49) + "ab"});
        // A refused chord in a numeric box is swallowed whole: with all of the
        // box selected and 123 on the clipboard, it neither pastes, cuts,
        // copies nor undoes, and no shortcut of the window sees it. Ctrl+Insert,
        // a key without a character, still copies.
        row("refused chords",
            {"type Combo1 12", "type Combo2 12", "type Combo3 12",
                "shortcut Combo1 Ctrl+V Return Ctrl+X Ctrl+G Ctrl+C Ctrl+Z", "keys Combo1 Home Shift+End Ctrl+V Return",
                "field Combo1 Ctrl+V Return", "keys Combo2 Home Shift+End Ctrl+X Ctrl+G", "field Combo2 Ctrl+X Ctrl+G",
                "keys Combo3 Home Shift+End Ctrl+C Ctrl+Z", "field Combo3 Ctrl+C Ctrl+Z", "clipboard Combo3 123",
                "keys Combo3 Ctrl+Ins", "clipboard Combo3 12"},
            {"Combo1=12", "Combo2=12", "Combo3=12"});
        // Tab from Go enters each option group once, at its first button in
        // the order; the arrow keys move within it.
        row("Tab and arrows",
            {"next Option1 Tab", "next Option3 Tab", "next Text4 Tab", "next Combo1 Tab", "next Combo2 Tab",
                "next Combo3 Tab", "next Command2 Tab", "next Dir1 Tab", "next Command1 Tab", "click Option1",
                "next Option2 Down"},
            {"Frame1=PNG"});
        // Enter and Esc press no button; Space does, and what Go took stays shown.
        row("Enter and Esc",
            {"type Combo1 99", "keys Command1 Return Num+Enter Esc", "keys Command2 Return Num+Enter Esc",
                "keys Text4 Return Num+Enter Esc"},
            {"Combo1=99"});
        row("Space, after a margin from the list, 32-Bit and PNG",
            {"pick Combo3 5", "click Option3", "click Option2", "keys Command1 Space"},
            {"Combo3= 5", "Frame2=32-Bit", "Frame1=PNG"}, {"Vintrix 256 256 Vintrix 32 1 5 "});
        row("picking the same entry again", {"pick Combo3 7", "type Combo3 71", "pick Combo3 7"}, {"Combo3= 7"});
        // Go refills emptied boxes and keeps a blank name.
        row("emptied boxes refilled", {"type Combo1", "type Combo2", "type Combo3", "type Text4", "click Command1"}, {},
            {"Vintrix 256 256 Vintrix 8 0 0 "});
        row("blank name is kept", {"type Text4    ", "click Command1"}, {"Text4=   "}, {"Vintrix 256 256 '' 8 0 0 "});
        // A paste is no typed key: the text arrives whole and is bounded at
        // once. The name box has no length limit of its own (a line edit's
        // default is 32767): it keeps the whole paste, and the job gets the
        // first 50 characters.
        row("letters pasted", {"type Combo2", "paste Combo2 abc", "click Command1"}, {"Combo2=abc"},
            {"Vintrix 256 0 Vintrix 8 0 0 "});
        row("paste bounded", {"type Combo2", "paste Combo2 70000"}, {"Combo2= 65536"});
        const QString longName = QString(50, u'a') + QString(40000, u'b');
        row("a long name pasted", {"type Text4", "paste Text4 " + longName, "click Command1"}, {"Text4=" + longName},
            {"Vintrix 256 256 " + QString(50, u'a') + " 8 0 0 "});
        // A number out of range stops Go there: the options are taken before
        // the numbers, the numbers before it, the name after them.
        row("a number out of range",
            {"type Combo1 100", "type Combo2", "paste Combo2 -3e9", "type Combo3 5", "type Text4 later",
                "click Option3", "click Command1", "type Combo1 1", "type Combo2 2", "type Combo3",
                "paste Combo3 -1e99", "click Command1"},
            {"Combo1=1", "Combo2=2", "Combo3=-1e99", "Text4=later", "Frame2=32-Bit"}, {},
            {"The number in Height is out of range.", "The number in Margin is out of range."},
            "Vintrix 1 2 Vintrix 32 0 0 ");
        row("a launch failure, then Go again",
            {"fail Cannot write temp.sh in /gone: No such file or directory", "click Command1", "type Combo1 8",
                "click Command1"},
            {"Combo1=8"}, {"Vintrix 256 256 Vintrix 8 0 0 ", "Vintrix 8 256 Vintrix 8 0 0 "},
            {"Cannot write temp.sh in /gone: No such file or directory"});
        // Reset refills the controls and leaves the folder and the settings of
        // the job.
        row("Reset after a job",
            {"open Dir1 sprites", "type Combo1 512", "type Combo2 128", "pick Combo3 2", "type Text4 job",
                "click Option3", "click Option2", "click Command1", "type Combo1 1", "type Combo2",
                "type Text4 changed", "click Command2"},
            {}, {"Vintrix 512 128 job 32 1 2 %1/sprites/"});
        row("Go after Reset",
            {"open Dir1 sprites", "type Combo1 1", "click Option3", "click Command2", "click Command1"}, {},
            {"Vintrix 256 256 Vintrix 8 0 0 %1/sprites/"});
        row("the root folder, slash and all", {"open Dir1 /", "click Command1"}, {},
            {"Vintrix 256 256 Vintrix 8 0 0 //"});
    }

    void userSteps()
    {
        QFETCH(QStringList, steps);
        for (const QString& step : steps) {
            const QString verb = step.section(u' ', 0, 0), name = step.section(u' ', 1, 1),
                          text = step.section(u' ', 2);
            QWidget* widget = window_->findChild<QWidget*>(name);
            QVERIFY2(widget || verb == "fail", qPrintable(step));
            if (verb == "type") {
                // Emptied the way a user does: End, then Backspace for each character.
                widget->setFocus();
                QTest::keyClick(widget, Qt::Key_End);
                for (qsizetype i = lineEdit(name)->text().size(); i > 0; --i)
                    QTest::keyClick(widget, Qt::Key_Backspace);
                QTest::keyClicks(widget, text);
            } else if (verb == "keys" || verb == "field") {
                for (const QString& chord : text.split(u' ')) {
                    const QKeyCombination key = QKeySequence::fromString(chord)[0];
                    QTest::keyClick(verb == "keys" ? widget : lineEdit(name), key.key(), key.keyboardModifiers());
                }
            } else if (verb == "next") {
                const QKeyCombination key = QKeySequence::fromString(text)[0];
                QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
                QCOMPARE(QApplication::focusWidget()->objectName(), name);
            } else if (verb == "shortcut") {
                for (const QString& chord : text.split(u' '))
                    connect(
                        new QShortcut(QKeySequence(chord), window_.get()), &QShortcut::activated, this,
                        [this, chord] { messages_ << "shortcut " + chord; });
            } else if (verb == "clipboard") {
                QCOMPARE(QApplication::clipboard()->text(), text);
            } else if (verb == "paste") {
                QApplication::clipboard()->setText(text);
                QTest::keyClick(widget, Qt::Key_Insert, Qt::ShiftModifier);
            } else if (verb == "commit") {
                QInputMethodEvent commit;
                commit.setCommitString(text);
                QApplication::sendEvent(widget, &commit);
            } else if (verb == "pick") {
                // The list opened, the entry highlighted and taken with Enter.
                auto* box = qobject_cast<QComboBox*>(widget);
                box->setFocus();
                box->showPopup();
                QTRY_VERIFY(box->view()->isVisible());
                box->view()->setCurrentIndex(box->view()->model()->index(text.toInt(), 0));
                QTest::keyClick(box->view(), Qt::Key_Return);
                QTRY_VERIFY(!box->view()->isVisible());
            } else if (verb == "click") {
                QTest::mouseClick(widget, Qt::LeftButton);
            } else if (verb == "fail") {
                failure_ = LaunchFailure{step.section(u' ', 1)};
            } else {
                QVERIFY(verb == "open" && testing::PickFolder(*window_, text));
            }
        }
        QFETCH(QStringList, shown);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, messages);
        QFETCH(QString, record);
        QStringList expected{"Combo1=256", "Combo2=256", "Combo3=0", "Text4=Vintrix", "Frame2=8-Bit", "Frame1=BMP"};
        for (const QString& entry : shown)
            expected.replaceInStrings(QRegularExpression("^" + entry.section(u'=', 0, 0) + "=.*"), entry);
        QStringList seen;
        for (const char* box : {"Combo1", "Combo2", "Combo3", "Text4"})
            seen << QString::fromLatin1(box) + "=" + lineEdit(box)->text();
        for (const char* group : {"Frame2", "Frame1"})
            for (const QRadioButton* option : control(group)->findChildren<QRadioButton*>())
                if (option->isChecked())
                    seen << QString::fromLatin1(group) + "=" + option->text();
        QCOMPARE(seen, expected);
        lines.replaceInStrings("%1", folder_.path());
        QCOMPARE(lines_, lines);
        QCOMPARE(messages_, messages);
        if (!lines.isEmpty() || !record.isEmpty())
            QCOMPARE(QString::fromStdU16String(ComposeCommandLine(window_->settings())),
                record.isEmpty() ? lines.last() : record);
    }

private:
    QWidget* control(const char* name) const
    {
        auto* found = window_->findChild<QWidget*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    // The field that holds the text of a box, the name box or a combo box's.
    QLineEdit* lineEdit(const QString& box) const
    {
        auto* widget = window_->findChild<QWidget*>(box);
        auto* comboBox = qobject_cast<QComboBox*>(widget);
        return comboBox ? comboBox->lineEdit() : qobject_cast<QLineEdit*>(widget);
    }

    QTemporaryDir folder_;
    QStringList lines_, messages_;
    std::optional<LaunchFailure> failure_;
    std::unique_ptr<Form1> window_;
};

QTEST_MAIN(Form1Test)
#include "Form1Test.moc"
