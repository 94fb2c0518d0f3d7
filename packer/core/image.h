#pragma once
// The types every stage of the packer shares: sizes, pixels, decoded images
// and the file formats of the sheets.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vintrix {

struct Size {
    int w = 0;
    int h = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// Whether an image fits a sheet with `margin` pixels along every edge.
constexpr bool fitsSheet(Size image, Size sheet, int margin)
{
    return std::int64_t{image.w} + 2 * std::int64_t{margin} <= sheet.w &&
        std::int64_t{image.h} + 2 * std::int64_t{margin} <= sheet.h;
}

// Distances in pixels from each edge of an image inward: the parts of a
// nine-slice that keep their size, or a content area's padding.
struct Borders {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const Borders&, const Borders&) = default;
};

// One colour, red, green, blue and alpha, 8 bits each.
using Rgba = std::array<std::uint8_t, 4>;

// A decoded image: RGBA, 8 bits a channel, rows of width * 4 bytes, top down.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    std::size_t bytesPerLine() const { return static_cast<std::size_t>(width) * 4; }
};

}  // namespace vintrix
