#include "KeyCharacters.h"

#include <QTest>

struct Key {
    int key;
    Qt::KeyboardModifiers modifiers;
    QString text, typed;
    bool chord;
};
Q_DECLARE_METATYPE(Key)

class KeyCharactersTest : public QObject {
    Q_OBJECT

private slots:
    // What the window's key filters see for a key: the code of a control
    // character or the text Qt reports, or none; and whether it is an Alt or
    // Meta chord on a character key, which types nothing.
    void codesAndChords_data()
    {
        QTest::addColumn<Key>("k");
        const auto row = [](const char* label, int key, Qt::KeyboardModifiers modifiers, const QString& text,
                             const QString& typed, bool chord = false) {
            QTest::newRow(label) << Key{key, modifiers, text, typed, chord};
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
        QFETCH(Key, k);
        QCOMPARE(vintrix::KeyCharacters(k.key, k.modifiers, k.text), k.typed);
        QCOMPARE(vintrix::IsCharacterChord(k.key, k.modifiers, k.text), k.chord);
    }
};

QTEST_GUILESS_MAIN(KeyCharactersTest)
#include "KeyCharactersTest.moc"
