#include "KeyCharacters.h"

#include <QTest>

using vintrix::KeyCharacters;

class KeyCharactersTest : public QObject {
    Q_OBJECT

private slots:
    void codes_data();
    void codes();
    void characterChords_data();
    void characterChords();
};

// The character the window's key filters see for a key, as the code of a
// control character or the text Qt reports, or none.
void KeyCharactersTest::codes_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char* label, int key, Qt::KeyboardModifiers modifiers, const QString& text,
                         const QString& expected) { QTest::newRow(label) << key << modifiers << text << expected; };
    const auto code = [](int c) { return QString(QChar(c)); };
    const Qt::KeyboardModifiers none, ctrl = Qt::ControlModifier;
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
    row("Alt+V", Qt::Key_V, Qt::AltModifier, "v", "");
}

void KeyCharactersTest::codes()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(KeyCharacters(key, modifiers, text), expected);
}

void KeyCharactersTest::characterChords_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("chord");

    const Qt::KeyboardModifiers alt = Qt::AltModifier;
    QTest::newRow("Meta+B") << int(Qt::Key_B) << Qt::KeyboardModifiers(Qt::MetaModifier) << "b" << true;
    QTest::newRow("Alt+Shift+7") << int(Qt::Key_7) << (alt | Qt::ShiftModifier) << "7" << true;
    QTest::newRow("Alt+Down") << int(Qt::Key_Down) << alt << "" << false;
    QTest::newRow("Alt+Backspace") << int(Qt::Key_Backspace) << alt << "\b" << false;
    QTest::newRow("Ctrl+A") << int(Qt::Key_A) << Qt::KeyboardModifiers(Qt::ControlModifier) << "\x01" << false;
}

void KeyCharactersTest::characterChords()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, text);
    QFETCH(bool, chord);
    QCOMPARE(vintrix::IsCharacterChord(key, modifiers, text), chord);
}

QTEST_GUILESS_MAIN(KeyCharactersTest)
#include "KeyCharactersTest.moc"
