// The rectangle packer on arbitrary size lists, sheet sizes and margins:
// every image lands on a sheet, inside the margin band, at least `margin`
// pixels from every other image on its sheet, or the first image that can
// never fit is named, either way round where images may be rotated. The
// images of one sheet on the smallest sheet found for them keep the same
// rules on it, and it is no larger than the sheet they came from (with
// sides powers of two where that sheet's are).
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_check.h"
#include "LayoutFault.h"
#include "maxrects.h"
#include "smallest_sheet.h"

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    unsigned next() { return pos_ < size_ ? data_[pos_++] : 0; }
    // A side from 1 to `max`, most often small, now and then anywhere up to max.
    int side(int max)
    {
        const unsigned kind = next();
        const unsigned v = next() | next() << 8;
        if (kind < 192)
            return static_cast<int>(1 + v % std::min(max, 64));
        return static_cast<int>(1 + v * 65537u % static_cast<unsigned>(max));
    }

private:
    const std::uint8_t* data_;
    std::size_t size_, pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vintrix;
    using fuzz::check;
    Bytes in(data, size);
    const Size sheet{in.side(65536), in.side(65536)};
    const int margin = static_cast<int>(in.next() % 8 == 0 ? in.next() | in.next() << 8 : in.next() % 4);
    const Rotation rotation = in.next() % 2 ? Rotation::Allowed : Rotation::Never;
    const auto fits = [&](Size s) {
        return fitsSheet(s, sheet, margin) || (rotation == Rotation::Allowed && fitsSheet({s.h, s.w}, sheet, margin));
    };
    std::vector<Size> sizes;
    while (!in.empty() && sizes.size() < 96)
        sizes.push_back({in.side(sheet.w + 8), in.side(sheet.h + 8)});

    const PackOutcome outcome = pack(sizes, sheet, margin, 1, rotation);
    if (outcome.tooLarge) {
        const std::size_t bad = *outcome.tooLarge;
        check(bad < sizes.size() && !fits(sizes[bad]));
        for (std::size_t i = 0; i < bad; ++i)
            check(fits(sizes[i]));
        return 0;
    }
    const Layout& layout = outcome.layout;
    check(test::LayoutFault(sizes, layout, sheet, margin).empty());
    for (const Placement& p : layout.placements)
        check(rotation == Rotation::Allowed || !p.rotated);

    if (layout.sheets != 1)
        return 0;
    const bool pot = std::has_single_bit(unsigned(sheet.w)) && std::has_single_bit(unsigned(sheet.h));
    const std::optional<SmallestSheet> smallest = smallestSheet(sizes, sheet, margin, pot, 1, rotation);
    if (!smallest)
        return 0;
    const Size s = smallest->sheet;
    check(s.w <= sheet.w && s.h <= sheet.h &&
        (!pot || (std::has_single_bit(unsigned(s.w)) && std::has_single_bit(unsigned(s.h)))));
    Layout shrunk = layout;
    shrunk.placements = smallest->placements;
    check(test::LayoutFault(sizes, shrunk, s, margin).empty());
    for (const Placement& p : shrunk.placements)
        check(rotation == Rotation::Allowed || !p.rotated);

    return 0;
}
