#pragma once

#include <string>
#include <vector>

#include "PackerContract.h"
#include "image.h"
#include "sheet.h"

namespace vintrix {

// Colour written for the transparent palette entry (index 0) of 8-bit BMP
// sheets, which have no alpha: magenta, the usual colour key. No other
// entry has this colour: opaque magenta is written as #FF00FE.
constexpr Rgba kBmpTransparentColour{255, 0, 255, 0};

// `rows` must be a bottom-up composer. 32-bit sheets get a BITMAPV5HEADER
// with BI_BITFIELDS masks including alpha; 8-bit ones a BITMAPINFOHEADER
// and `palette`. Throws OutputError.
// Why a width x height sheet at `depth` cannot be a BMP file, whose size
// is stored in 32 bits; "" when it can.
std::string bmpTooLarge(int width, int height, BitDepth depth);

void writeBmp(const std::string& path, RowComposer& rows, BitDepth depth, const std::vector<Rgba>& palette);

}  // namespace vintrix
