#pragma once
// The 8-bit path: one palette of at most 256 colours for all images of a
// sheet, made by libimagequant, and each pixel mapped to its nearest colour
// in one pass over the images laid out as on the sheet (or stacked in a
// strip, when the sheet is mostly empty), which costs far less than a pass
// per image. Entry 0 is
// the transparent entry: the sheet's background and every fully
// transparent pixel.

#include <cstdint>
#include <functional>
#include <vector>

#include "image.h"

namespace vintrix {

struct Position {
    int x = 0, y = 0;
};

struct IndexedImages {
    std::vector<Rgba> palette;                       // 1 to 256 entries; entry 0 has alpha 0
    std::vector<std::vector<std::uint8_t>> indices;  // per image, width*height indices
};

// Called with how far the palette and the mapping are, 0 to 100.
using PercentFn = std::function<void(int percent)>;

// images[k] is placed at positions[k] on a sheet of `sheet`. Throws
// OutputError when libimagequant fails.
IndexedImages quantize(const std::vector<const Image*>& images, const std::vector<Position>& positions, Size sheet,
    const PercentFn& progress = {});

}  // namespace vintrix
