#pragma once
// The 8-bit path: one palette of at most 256 colours for all images of a
// sheet, made by libimagequant from their joint histogram, then each image
// remapped on its own with dithering. Entry 0 is the transparent entry: the
// sheet's background and every fully transparent pixel.

#include <array>
#include <cstdint>
#include <vector>

#include "image.h"

namespace vintrix {

struct IndexedImages {
    std::vector<Rgba> palette;                     // 1 to 256 entries; entry 0 has alpha 0
    std::vector<std::vector<std::uint8_t>> indices; // per image, width*height indices
};

// Throws OutputError when libimagequant fails.
IndexedImages quantize(const std::vector<const Image*>& images);

}  // namespace vintrix
