#pragma once
// stb_rect_pack's skyline packer as the baseline, on the same sizes and
// margins as Vintrix: each image grows by the margin on its right and
// bottom, the sheet shrinks by it, and the images that do not fit go on to
// a fresh sheet until every one is placed.

#include <cstdint>
#include <span>
#include <vector>

#include "maxrects.h"

namespace vintrix::bench {

enum class Skyline { BottomLeft, BestFit };

struct BaselineLayout {
    int sheets = 0;
    std::vector<std::int64_t> usedArea;  // pixels covered by images, per sheet
};

BaselineLayout packSkyline(std::span<const vintrix::Size> sizes, vintrix::Size sheet, int margin, Skyline heuristic);

}  // namespace vintrix::bench
