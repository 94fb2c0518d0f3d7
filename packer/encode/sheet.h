#pragma once
// A sheet is never held whole: RowComposer hands out one row at a time,
// composed from the images that cross it, in the order a writer needs them
// (top down for PNG, bottom up for BMP). Rows that cross no image cost
// nothing but the memory of one cleared row.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vintrix {

struct SheetItem {
    int x = 0, y = 0, w = 0, h = 0;
    const std::uint8_t* pixels = nullptr;  // h rows of w pixels
    std::size_t stride = 0;                // bytes from one row to the next
};

class RowComposer {
public:
    // bytesPerPixel is 4 (RGBA) or 1 (palette index); the background is zero
    // bytes: transparent black, or palette entry 0.
    RowComposer(int width, int height, int bytesPerPixel, std::vector<SheetItem> items, bool bottomUp);

    // Rows must be asked for one after another in the composer's direction.
    const std::uint8_t* row(int y);

    // Called with the number of rows composed so far, at least every half
    // percent of the rows and every 64 rows.
    void onProgress(std::function<void(int)> callback) { progress_ = std::move(callback); }

    // Composes rows first .. first + count - 1 again into `out`, one every
    // `pitch` bytes, as row() gave them. It changes nothing, so another
    // thread may call it while rows are handed out.
    void compose(int first, int count, std::uint8_t* out, std::size_t pitch) const;

    // Whether the row last returned crosses no image.
    bool rowIsEmpty() const { return active_.empty(); }

    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_, height_, bpp_;
    bool bottomUp_;
    std::vector<SheetItem> items_;  // sorted by the row where the traversal meets them
    std::size_t nextItem_ = 0;
    std::vector<std::size_t> active_;
    std::vector<std::uint8_t> row_;
    int rowsDone_ = 0;
    int progressStep_;
    std::function<void(int)> progress_;
};

}  // namespace vintrix
