#pragma once

#include <string>
#include <vector>

#include "image.h"
#include "sheet.h"

namespace vintrix {

// libdeflate level for sheets (1 to 12); VINTRIX_PNG_LEVEL overrides it. At
// 7, sheets mostly come out smaller than libpng's default encoding and
// within a tenth of optipng -o2. Rows without images are not compressed
// again: their blocks are computed once per sheet.
constexpr int kPngCompressionLevel = 7;

// Writes rows from `rows` to `path`: RGBA when `palette` is empty, else a
// palette image with its tRNS chunk. Throws OutputError.
void writePng(const std::string& path, RowComposer& rows, const std::vector<Rgba>& palette);

}  // namespace vintrix
