#pragma once

#include <string>
#include <vector>

#include "image.h"
#include "sheet.h"

namespace vintrix {

// zlib level for sheets, used with the run-length strategy: fast to write,
// and smaller than the default strategy on sprite sheets. Rows without
// images are not compressed again: their blocks are computed once per sheet.
constexpr int kPngCompressionLevel = 2;

// Writes rows from `rows` to `path`: RGBA when `palette` is empty, else a
// palette image with its tRNS chunk. Throws OutputError.
void writePng(const std::string& path, RowComposer& rows, const std::vector<Rgba>& palette);

}  // namespace vintrix
