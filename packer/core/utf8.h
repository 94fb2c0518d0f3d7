#pragma once
// File names reach Vintrix as bytes. The atlas data and the messages need
// to know which of them are UTF-8, and messages quote them on one line.

#include <cstddef>
#include <string>
#include <string_view>

namespace vintrix {

// Length of the valid UTF-8 sequence at the start of `s` (1 for ASCII), or 0.
std::size_t utf8Length(std::string_view s);

bool isUtf8(std::string_view text);

// The text in double quotes, on one line: control characters and bytes that
// are not UTF-8 are written as C escapes, so a name cannot break an error
// message into lines or into garbage.
std::string quoted(const std::string& text);

// A library's message or a value on one line: each run of blanks and line
// breaks becomes one space, any other control character "?".
std::string oneLine(std::string_view text);

}  // namespace vintrix
