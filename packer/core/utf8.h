#pragma once
// File names reach Vintrix as bytes. The atlas data and the messages need
// to know which of them are UTF-8.

#include <cstddef>
#include <string_view>

namespace vintrix {

// Length of the valid UTF-8 sequence at the start of `s` (1 for ASCII), or 0.
std::size_t utf8Length(std::string_view s);

bool isUtf8(std::string_view text);

}  // namespace vintrix
