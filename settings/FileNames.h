// File names on Linux are bytes, nearly always UTF-8; the window's texts are
// UTF-16. So that every folder survives the trip from the folder list through
// the settings to the job's script, a byte that is not part of valid UTF-8 is
// carried as the lone surrogate U+DC80 + byte, and turned back into that byte
// when the text is written out. Valid UTF-8 cannot produce such a surrogate,
// so the round trip is exact.
#pragma once

#include <string>
#include <string_view>

namespace vintrix {

std::u16string DecodeFileName(std::string_view bytes);

// UTF-8, with carried bytes restored; any other unpaired surrogate becomes
// U+FFFD.
std::string EncodeText(std::u16string_view text);

}  // namespace vintrix
