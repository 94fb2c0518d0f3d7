#include "KeyCharacters.h"

namespace vintrix {
namespace {

bool IsPrintable(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control)
            return false;
    return !text.isEmpty();
}

}  // namespace

QString KeyCharacters(int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    const bool control = modifiers.testFlag(Qt::ControlModifier);
    if (modifiers.testFlag(Qt::AltModifier) || modifiers.testFlag(Qt::MetaModifier))
        return {};
    switch (key) {
    case Qt::Key_Backspace:
        return QString(QChar(control ? 127 : 8));
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QString(QChar(13));
    case Qt::Key_Escape:
        return QString(QChar(27));
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return {};
    default:
        break;
    }
    if (control) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return QString(QChar(key - Qt::Key_A + 1));
        if (key >= Qt::Key_BracketLeft && key <= Qt::Key_BracketRight)
            return QString(QChar(key - Qt::Key_BracketLeft + 27));
        return {};
    }
    return IsPrintable(text) ? text : QString();
}

bool IsCharacterChord(int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    const bool chord = modifiers.testAnyFlags(Qt::AltModifier | Qt::MetaModifier);
    return chord && IsPrintable(KeyCharacters(key, modifiers & ~(Qt::AltModifier | Qt::MetaModifier), text));
}

}  // namespace vintrix
