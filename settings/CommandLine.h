// The one line that starts the packer:
//   Vintrix WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER
// separated by single blanks. The line is run by a POSIX shell, so a name or
// folder that holds anything beyond letters, digits and _ - . / , + : @ % is
// written in single quotes, and an empty name as '' so that the later
// arguments keep their places. Plain names and folders appear as they are.
#pragma once

#include <string>
#include <string_view>

#include "PackSettings.h"

namespace vintrix {

std::u16string ComposeCommandLine(const PackSettings& settings);

// `word` as the shell must see it to pass it on unchanged.
std::u16string ShellWord(std::u16string_view word);

}  // namespace vintrix
