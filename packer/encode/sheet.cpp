#include "sheet.h"

#include <algorithm>
#include <cstring>

namespace vintrix {

RowComposer::RowComposer(int width, int height, int bytesPerPixel, std::vector<SheetItem> items, bool bottomUp)
    : width_(width), height_(height), bpp_(bytesPerPixel), bottomUp_(bottomUp), items_(std::move(items)),
      row_(static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel), 0),
      progressStep_(std::clamp(height / 200, 1, 64))
{
    if (bottomUp_)
        std::sort(
            items_.begin(), items_.end(), [](const SheetItem& a, const SheetItem& b) { return a.y + a.h > b.y + b.h; });
    else
        std::sort(
            items_.begin(), items_.end(), [](const SheetItem& a, const SheetItem& b) { return a.y < b.y; });
}

const std::uint8_t* RowComposer::row(int y)
{
    const auto bpp = static_cast<std::size_t>(bpp_);
    if (progress_ && ++rowsDone_ % progressStep_ == 0)
        progress_(rowsDone_);
    // Drop the images the traversal has left, clearing what they drew.
    std::erase_if(active_, [&](std::size_t k) {
        const SheetItem& it = items_[k];
        const bool inside = y >= it.y && y < it.y + it.h;
        if (!inside)
            std::memset(row_.data() + static_cast<std::size_t>(it.x) * bpp, 0, static_cast<std::size_t>(it.w) * bpp);
        return !inside;
    });
    while (nextItem_ < items_.size()) {
        const SheetItem& it = items_[nextItem_];
        const bool reached = bottomUp_ ? y < it.y + it.h : y >= it.y;
        if (!reached)
            break;
        if (y >= it.y && y < it.y + it.h)
            active_.push_back(nextItem_);
        ++nextItem_;
    }
    for (std::size_t k : active_) {
        const SheetItem& it = items_[k];
        std::memcpy(row_.data() + static_cast<std::size_t>(it.x) * bpp,
            it.pixels + static_cast<std::size_t>(y - it.y) * it.stride, static_cast<std::size_t>(it.w) * bpp);
    }
    return row_.data();
}

void RowComposer::compose(int first, int count, std::uint8_t* out, std::size_t pitch) const
{
    const auto bpp = static_cast<std::size_t>(bpp_);
    for (int r = 0; r < count; ++r)
        std::memset(out + static_cast<std::size_t>(r) * pitch, 0, static_cast<std::size_t>(width_) * bpp);
    // In the order row() copies them, should images overlap.
    for (const SheetItem& it : items_)
        for (int y = std::max(first, it.y); y < std::min(first + count, it.y + it.h); ++y)
            std::memcpy(out + static_cast<std::size_t>(y - first) * pitch + static_cast<std::size_t>(it.x) * bpp,
                it.pixels + static_cast<std::size_t>(y - it.y) * it.stride, static_cast<std::size_t>(it.w) * bpp);
}

}  // namespace vintrix
