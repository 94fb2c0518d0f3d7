#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vintrix {

// A decoded image: RGBA, 8 bits a channel, rows of width * 4 bytes, top down.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    std::size_t bytesPerLine() const { return static_cast<std::size_t>(width) * 4; }
};

}  // namespace vintrix
