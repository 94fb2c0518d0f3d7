#include "DirListBox.h"
#include "Form1.h"
#include "WindowDriver.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <tuple>

using namespace vintrix;

// A row of the tables below: `chords` as QKeySequence writes them.
struct Keys {
    QString box, typed;
    QStringList chords;
    QString shown;
};
struct Paste {
    QString box, pasted;
    bool fromTheMenu;
    QString shown, line;
};
// `typed`: the text typed into Combo1, Combo2, Combo3 and Text4; a null
// text leaves the box as it is.
struct Go {
    QStringList typed;
    int marginEntry;
    QStringList options;
    QString line;
    QStringList shownAfter;
};
Q_DECLARE_METATYPE(Keys)
Q_DECLARE_METATYPE(Paste)
Q_DECLARE_METATYPE(Go)

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
        failure_.reset();
        window_ = std::make_unique<Form1>(
            [this](const std::u16string& line) {
                lines_ << QString::fromStdU16String(line);
                return failure_;
            },
            [this](const QString& text) { messages_ << text; });
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        testing::WaitForFolderList();
        QApplication::clipboard()->setText(QStringLiteral("123"));
    }
    void cleanup() { window_.reset(); }

    // The caption, the icon, and each control's kind, text, container and
    // place in it; nothing moves when the window is resized.
    void controls()
    {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Vintrix Studio Ver. 0.5 [ https://vintrix.example.org ]"));
        const QList<QSize> sizes = window_->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)));
        QCOMPARE(control<QWidget>("Dir1")->toolTip(),
            QStringLiteral("Please select the directory where the images to pack resides."));
        QCOMPARE(window_->size(), QSize(427, 431));
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
            QWidget* widget = control<QWidget>(name);
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
            QWidget* widget = control<QWidget>(field);
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

    // Tab enters each option group once, at its first button in the order;
    // the arrow keys move within it.
    void focusWalksFromGoInOrder()
    {
        QCOMPARE(QApplication::focusWidget(), control<QWidget>("Command1"));
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

    void comboLists()
    {
        const QStringList sizes{"16", "32", "64", "128", "256", "512", "1024", "2048"};
        QStringList margins;
        for (int i = 0; i <= 32; ++i)
            margins << QStringLiteral(" %1").arg(i);
        for (const auto& [name, entries] : {std::pair{"Combo1", sizes}, {"Combo2", sizes}, {"Combo3", margins}}) {
            QStringList shown;
            for (int i = 0; i < combo(name)->count(); ++i)
                shown << combo(name)->itemText(i);
            QCOMPARE(shown, entries);
        }
    }

    // Typed text, then chords (as QKeySequence writes them), and what the box
    // shows. The numeric boxes take digits and bound the number at once; the
    // name box takes characters up to its 51st. Alt chords type nothing,
    // Ctrl+H deletes like Backspace.
    void keysInABox_data()
    {
        QTest::addColumn<Keys>("keys");
        const auto row = [](const char* label, const char* box, const QString& typed, const QStringList& chords,
                             const QString& shown) {
            QTest::newRow(label) << Keys{box, typed, chords, shown};
        };
        const QString fifty(50, u'x'), fiftyOne = fifty + u'y';
        row("70000 bounded on the fifth digit", "Combo1", "70000", {}, " 65536");
        row("65536 stays", "Combo1", "65536", {}, "65536");
        row("typing on after the bound", "Combo2", "700009", {}, " 65536");
        row("letters and blanks refused", "Combo2", "1a2 b3", {}, "123");
        row("sign, point and exponent refused", "Combo3", "-1.5e9", {}, "159");
        row("Delete and Backspace", "Combo1", "1234", {"Home", "Del", "Right", "Backspace"}, "34");
        row("Alt+A", "Combo1", "12", {"Alt+A"}, "12");
        row("Alt+Q in a full name box", "Text4", fiftyOne, {"Alt+Q"}, fiftyOne);
        row("Ctrl+H", "Combo2", "123", {"Ctrl+H"}, "12");
        row("Ctrl+H in a full name box", "Text4", fiftyOne, {"Ctrl+H"}, fifty);
        row("no 52nd character, paste or undo in the name box", "Text4", fiftyOne + "zz", {"Ctrl+V", "Home", "Ctrl+Z"},
            fiftyOne);
        row("a keyboard paste at 50 is one typed character", "Text4", fifty, {"Ctrl+V"}, fifty + "123");
    }

    void keysInABox()
    {
        QFETCH(Keys, keys);
        typeInto(keys.box, keys.typed);
        for (const QString& chord : keys.chords) {
            const QKeyCombination key = QKeySequence::fromString(chord)[0];
            QTest::keyClick(window_->findChild<QWidget*>(keys.box), key.key(), key.keyboardModifiers());
        }
        QCOMPARE(text(keys.box), keys.shown);
    }

    void refusedKeysDoNothingInNumericBoxes_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("chord");
        for (const auto& [box, chord] : {std::pair{"Combo1", "Ctrl+V"}, {"Combo1", "Return"}, {"Combo2", "Ctrl+X"},
                 {"Combo2", "Ctrl+G"}, {"Combo3", "Ctrl+C"}, {"Combo3", "Ctrl+Z"}})
            QTest::addRow("%s %s", box, chord) << box << chord;
    }

    // The box holds 12 with all of it selected, and the clipboard holds 123:
    // a key that got through would paste, cut, copy or undo.
    void refusedKeysDoNothingInNumericBoxes()
    {
        QFETCH(QString, box);
        QFETCH(QString, chord);
        const QKeyCombination key = QKeySequence::fromString(chord)[0];

        QComboBox* target = combo(box.toLatin1());
        typeInto(box, "12");
        QTest::keyClick(target, Qt::Key_Home);
        QTest::keyClick(target, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(target->lineEdit()->selectedText(), QStringLiteral("12"));

        // Swallowed whole: not even a shortcut of the window sees the key.
        QShortcut shortcut(QKeySequence(key), window_.get());
        QSignalSpy shortcutRuns(&shortcut, &QShortcut::activated);

        QTest::keyClick(target, key.key(), key.keyboardModifiers());
        QTest::keyClick(target->lineEdit(), key.key(), key.keyboardModifiers());

        QCOMPARE(target->currentText(), QStringLiteral("12"));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("123"));
        QCOMPARE(target->lineEdit()->selectedText(), QStringLiteral("12"));
        QCOMPARE(shortcutRuns.count(), 0);
        QVERIFY(lines_.isEmpty());

        // Ctrl+Insert, a key without a character, still copies.
        QTest::keyClick(target, Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("12"));
    }

    // A paste is no typed key: the text arrives whole and is bounded at once,
    // whether Shift+Insert or the context menu pastes it. The name box has no
    // length limit of its own (a line edit's default is 32767): it keeps the
    // whole paste, and the job gets the first 50 characters.
    void pastesArriveWholeAndAreBoundedAtOnce_data()
    {
        QTest::addColumn<Paste>("paste");
        const QString longName = QString(50, u'a') + QString(40000, u'b');
        QTest::newRow("letters") << Paste{"Combo2", "abc", false, "abc", "Vintrix 256 0 Vintrix 8 0 0 "};
        QTest::newRow("bounded") << Paste{"Combo2", "70000", false, " 65536", "Vintrix 256 65536 Vintrix 8 0 0 "};
        QTest::newRow("from the menu") << Paste{"Combo1", "70000", true, " 65536", "Vintrix 65536 256 Vintrix 8 0 0 "};
        QTest::newRow("a long name") << Paste{
            "Text4", longName, false, longName, "Vintrix 256 256 " + QString(50, u'a') + " 8 0 0 "};
    }

    void pastesArriveWholeAndAreBoundedAtOnce()
    {
        QFETCH(Paste, paste);
        typeInto(paste.box, "");
        QLineEdit* edit = lineEdit(paste.box);
        QApplication::clipboard()->setText(paste.pasted);
        if (paste.fromTheMenu) {
            std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
            QAction* item = nullptr;
            for (QAction* action : menu->actions())
                item = action->text().remove(u'&').startsWith(QStringLiteral("Paste")) ? action : item;
            QVERIFY(item && item->isEnabled());
            item->trigger();
        } else {
            QTest::keyClick(window_->findChild<QWidget*>(paste.box), Qt::Key_Insert, Qt::ShiftModifier);
        }
        QCOMPARE(edit->text(), paste.shown);
        testing::ClickGo(*window_);
        QCOMPARE(lines_, QStringList{paste.line});
        QCOMPARE(edit->text(), paste.shown);
    }

    void inputMethodTextIsFilteredCharacterByCharacter()
    {
        typeInto("Combo3", "");
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("1x2\u00E9\uFF153"));  // a full-width digit is no digit
        QApplication::sendEvent(combo("Combo3"), &commit);
        QCOMPARE(text("Combo3"), QStringLiteral("123"));

        typeInto("Text4", QString(49, u'n'));
        commit.setCommitString(QStringLiteral("abcd"));
        QApplication::sendEvent(control<QLineEdit>("Text4"), &commit);
        QCOMPARE(text("Text4"), QString(49, u'n') + QStringLiteral("ab"));
    }

    void enterAndEscDoNotPressTheButtons()
    {
        typeInto("Combo1", "99");
        for (const char* focus : {"Command1", "Command2", "Text4"}) {
            QWidget* widget = control<QWidget>(focus);
            widget->setFocus();
            QTest::keyClick(widget, Qt::Key_Return);
            QTest::keyClick(widget, Qt::Key_Enter, Qt::KeypadModifier);
            QTest::keyClick(widget, Qt::Key_Escape);
        }
        QVERIFY(lines_.isEmpty());
        QCOMPARE(text("Combo1"), QStringLiteral("99"));
        QTest::keyClick(control<QWidget>("Command1"), Qt::Key_Space);
        QCOMPARE(lines_.size(), 1);
    }

    void goComposesTheLine_data()
    {
        QTest::addColumn<Go>("go");
        const QString keep;
        const QStringList start{"256", "256", "0", "Vintrix"};
        QTest::newRow("margin 5 from the list")
            << Go{{}, 5, {}, "Vintrix 256 256 Vintrix 8 0 5 ", {"256", "256", " 5", "Vintrix"}};
        QTest::newRow("32-Bit and PNG") << Go{{}, -1, {"Option3", "Option2"}, "Vintrix 256 256 Vintrix 32 1 0 ", start};
        QTest::newRow("emptied boxes refilled")
            << Go{{"", "", "", ""}, -1, {}, "Vintrix 256 256 Vintrix 8 0 0 ", start};
        QTest::newRow("blank name is kept")
            << Go{{keep, keep, keep, "   "}, -1, {}, "Vintrix 256 256 '' 8 0 0 ", {"256", "256", "0", "   "}};
    }

    void goComposesTheLine()
    {
        QFETCH(Go, go);
        const QStringList boxes{"Combo1", "Combo2", "Combo3", "Text4"};
        for (qsizetype i = 0; i < go.typed.size(); ++i)
            if (!go.typed[i].isNull())
                typeInto(boxes[i], go.typed[i]);
        if (go.marginEntry >= 0)
            pick(combo("Combo3"), go.marginEntry);
        for (const QString& option : go.options)
            QTest::mouseClick(control<QRadioButton>(option.toLatin1()), Qt::LeftButton);
        testing::ClickGo(*window_);
        QCOMPARE(lines_, QStringList{go.line});
        QVERIFY(messages_.isEmpty());
        QCOMPARE(boxTexts(), go.shownAfter);
    }

    void pickingTheSameEntryAgainRestoresItsText()
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

    void aNumberOutOfRangeStopsGo()
    {
        typeInto("Combo1", "100");
        typeInto("Combo2", "");
        typeInto("Text4", "later");
        QApplication::clipboard()->setText(QStringLiteral("-3e9"));
        QTest::keyClick(combo("Combo2"), Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(text("Combo2"), QStringLiteral("-3e9"));
        QTest::mouseClick(control<QRadioButton>("Option3"), Qt::LeftButton);
        testing::ClickGo(*window_);

        QVERIFY(lines_.isEmpty());
        QCOMPARE(messages_, QStringList{"The number in Height is out of range."});
        // The options are taken before the numbers, the name after them.
        QCOMPARE(window_->settings().bitsPerPixel, 32);
        QCOMPARE(window_->settings().fileName, FixedName(u"Vintrix"));

        typeInto("Combo2", "64");
        testing::ClickGo(*window_);
        QCOMPARE(lines_, QStringList{"Vintrix 100 64 later 32 0 0 "});
    }

    void aLaunchFailureIsReportedAndTheWindowStaysUsable()
    {
        failure_ = LaunchFailure{QStringLiteral("Cannot write temp.sh in /gone: No such file or directory")};
        testing::ClickGo(*window_);
        QCOMPARE(messages_, QStringList{"Cannot write temp.sh in /gone: No such file or directory"});
        failure_.reset();
        typeInto("Combo1", "8");
        testing::ClickGo(*window_);
        QCOMPARE(lines_.size(), 2);
        QCOMPARE(lines_.last(), QStringLiteral("Vintrix 8 256 Vintrix 8 0 0 "));
        QCOMPARE(messages_.size(), 1);
    }

    void resetAfterAJobLeavesRecordAndFolder()
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
        testing::ClickGo(*window_);
        const PackSettings afterJob = window_->settings();
        QCOMPARE(afterJob.width, 512);
        QCOMPARE(afterJob.margin, 2);

        typeInto("Combo1", "1");
        typeInto("Combo2", "");
        typeInto("Text4", "changed");
        QTest::mouseClick(control<QWidget>("Command2"), Qt::LeftButton);

        QCOMPARE(boxTexts(), (QStringList{"256", "256", "0", "Vintrix"}));
        QVERIFY(control<QRadioButton>("Option4")->isChecked() && control<QRadioButton>("Option1")->isChecked());
        QVERIFY(window_->settings() == afterJob);
        QCOMPARE(folders->path(), QDir(folder_.path()).filePath("sprites"));
        QCOMPARE(lines_.size(), 1);
    }

private:
    template <typename T>
    T* control(const char* name) const
    {
        auto* found = window_->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QComboBox* combo(const char* name) const { return control<QComboBox>(name); }
    // The field that holds the text of a box, the name box or a combo box's.
    QLineEdit* lineEdit(const QString& box) const
    {
        auto* widget = window_->findChild<QWidget*>(box);
        auto* comboBox = qobject_cast<QComboBox*>(widget);
        return comboBox ? comboBox->lineEdit() : qobject_cast<QLineEdit*>(widget);
    }
    QString text(const QString& box) const { return lineEdit(box)->text(); }
    QStringList boxTexts() const { return {text("Combo1"), text("Combo2"), text("Combo3"), text("Text4")}; }

    // Empties the box the way a user does, End and then Backspace for each
    // character, and types `keys`.
    void typeInto(const QString& box, const QString& keys)
    {
        QWidget* widget = window_->findChild<QWidget*>(box);
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_End);
        for (qsizetype i = text(box).size(); i > 0; --i)
            QTest::keyClick(widget, Qt::Key_Backspace);
        QTest::keyClicks(widget, keys);
    }

    // Opens the list, highlights an entry and takes it with Enter.
    void pick(QComboBox* box, int row)
    {
        box->setFocus();
        box->showPopup();
        QAbstractItemView* list = box->view();
        QTRY_VERIFY(list->isVisible());
        list->setCurrentIndex(list->model()->index(row, 0));
        QTest::keyClick(list, Qt::Key_Return);
        QTRY_VERIFY(!list->isVisible());
    }

    QTemporaryDir folder_;
    QStringList lines_, messages_;
    std::optional<LaunchFailure> failure_;
    std::unique_ptr<Form1> window_;
};

QTEST_MAIN(Form1Test)
#include "Form1Test.moc"
