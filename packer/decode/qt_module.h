#pragma once
// vintrix-qt-images, the reader of the formats other than PNG, found beside
// the program (in the build) or where it is installed relative to the
// program, and loaded the first time a file needs it.

#include <string>

#include "qt_reader.h"

namespace vintrix {

struct QtModule {
    VintrixQtFormatsFn formats = nullptr;
    VintrixQtReadFn read = nullptr;
    std::string error;  // why it could not be loaded
};

// Loads the module on the first call; later calls return the same.
const QtModule& qtModule();

}  // namespace vintrix
