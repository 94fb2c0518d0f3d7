#pragma once
// The command line as the window writes it:
//   Vintrix WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER

#include <string>
#include <variant>
#include <vector>

#include "image.h"

namespace vintrix {

struct Options {
    int width = 0;
    int height = 0;
    std::string name;
    int bitsPerPixel = 32;  // 8 or 32
    ImageFormat format = ImageFormat::Png;
    int margin = 0;
    std::string folder;  // as given, with or without the trailing slash
};

struct ShowHelp {};
struct ShowVersion {};
using ParsedCommandLine = std::variant<Options, ShowHelp, ShowVersion>;

// args excludes the program name. Throws ArgumentError.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

std::string usageText();

}  // namespace vintrix
