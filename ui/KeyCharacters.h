// The characters a key press types, as the window's key filters see them:
// the classic desktop convention where every character, control characters
// included, arrives as one 16-bit code.
#pragma once

#include <QString>
#include <Qt>

namespace vintrix {

// The character codes `key` with `modifiers` delivers, given the text Qt
// reports for it: the text of a printable key; Ctrl+A to Ctrl+Z give 1 to 26,
// Ctrl+[ Ctrl+\ Ctrl+] give 27 to 29; Backspace 8 (with Ctrl 127); Enter 13;
// Esc 27. Keys that type nothing there (Tab, Delete, arrows, Home, End,
// Insert, function keys, Alt combinations) give the empty text.
QString KeyCharacters(int key, Qt::KeyboardModifiers modifiers, const QString& text);

// Alt or Meta held with a key that would otherwise type a character: such a
// chord types nothing there, so a filtered box must not insert Qt's text.
bool IsCharacterChord(int key, Qt::KeyboardModifiers modifiers, const QString& text);

}  // namespace vintrix
