// Rules that keep the window's four editable boxes usable as job inputs: two
// key filters applied while the user types, an upper bound applied to every
// text of the three numeric boxes, and the refill of empty boxes on Go. None
// of them speaks to the user: a key is refused or a text is rewritten.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace vintrix {

inline const double kSizeCeiling = std::pow(2.0, 16);  // 65536, the margin's bound too
inline constexpr char16_t kBackspace = 8;
inline constexpr std::size_t kNameLengthLimit = 50;

// Width, height and margin boxes: only backspace and the digits 0-9 pass.
bool NumericKeyPasses(char16_t code);

// Name box: once the text is longer than the limit, only backspace passes.
bool NameKeyPasses(std::u16string_view currentText, char16_t code);

// The text a numeric box must show instead of `text` when its value lies above
// the ceiling (u" 65536"); nothing when the text may stay.
std::optional<std::u16string> UpperBound(std::u16string_view text);

// The default a box is refilled with when its text is exactly empty; blanks
// are not empty.
std::optional<std::u16string> EmptyRefill(std::u16string_view text, std::u16string_view defaultText);

}  // namespace vintrix
