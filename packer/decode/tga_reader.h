#pragma once
// TGA files, uncompressed or run-length encoded, with or without the 2.0
// footer, decoded with stb_image: Qt's reader takes only files with the
// footer, which most tools do not write.

#include <string>

#include "image.h"
#include "png_reader.h"

namespace vintrix {

// Decodes the TGA file open as `fd` into `out`. Throws the check's error,
// or InputError "cannot decode image: WHY".
void readTga(int fd, const SizeCheck& check, Image& out);

}  // namespace vintrix
