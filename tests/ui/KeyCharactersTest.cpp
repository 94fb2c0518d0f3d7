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

void KeyCharactersTest::codes_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const Qt::KeyboardModifiers none;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    const auto code = [](int c) { return QString(QChar(c)); };

    // Printable text passes as Qt reports it, beyond the 16-bit range too.
    QTest::newRow("letter") << int(Qt::Key_A) << shift << "A"
                            << "A";
    QTest::newRow("emoji") << 0 << none << "\U0001F600"
                           << "\U0001F600";
    // Ctrl with a letter or bracket gives its control code, text or none.
    QTest::newRow("Ctrl+A") << int(Qt::Key_A) << ctrl << "\x01" << code(1);
    QTest::newRow("Ctrl+Shift+V without text") << int(Qt::Key_V) << (ctrl | shift) << "" << code(22);
    QTest::newRow("Ctrl+]") << int(Qt::Key_BracketRight) << ctrl << "" << code(29);
    QTest::newRow("Ctrl+1") << int(Qt::Key_1) << ctrl << "1"
                            << "";
    QTest::newRow("Backspace") << int(Qt::Key_Backspace) << none << "\b" << code(8);
    QTest::newRow("Ctrl+Backspace") << int(Qt::Key_Backspace) << ctrl << "" << code(127);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier) << "\r"
                                  << code(13);
    QTest::newRow("Esc") << int(Qt::Key_Escape) << none << "\x1b" << code(27);
    // Keys that type nothing, whatever text Qt reports for them.
    QTest::newRow("Tab") << int(Qt::Key_Tab) << none << "\t"
                         << "";
    QTest::newRow("Delete with DEL text") << int(Qt::Key_Delete) << none << "\x7f"
                                          << "";
    QTest::newRow("Shift+Insert") << int(Qt::Key_Insert) << shift << ""
                                  << "";
    QTest::newRow("Alt+V") << int(Qt::Key_V) << Qt::KeyboardModifiers(Qt::AltModifier) << "v"
                           << "";
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
    QTest::newRow("Alt+A") << int(Qt::Key_A) << alt << "a" << true;
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
