#pragma once

#include <string>
#include <vector>

#include "PackerContract.h"
#include "image.h"
#include "sheet.h"

namespace vintrix {

// The libdeflate level for sheets by default, of 1 to 12. At 7, sheets mostly come out smaller than libpng's default
// encoding and within a tenth of optipng -o2. Rows without images are not compressed again: their blocks are computed
// once per sheet.
constexpr int kPngCompressionLevel = 7;

// Writes rows from `rows` to `path`: RGBA when `palette` is empty, else a
// palette image with its tRNS chunk, compressed at libdeflate's `level`.
// Throws OutputError.
void writePng(const std::string& path, RowComposer& rows, BitDepth depth, const std::vector<Rgba>& palette,
    int level = kPngCompressionLevel);

}  // namespace vintrix
