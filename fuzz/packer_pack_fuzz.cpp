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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vintrix;
    using fuzz::check;
    std::size_t pos = 0;
    const auto next = [&]() -> unsigned { return pos < size ? data[pos++] : 0; };
    // A side from 1 to `max`, most often small, now and then anywhere up to max.
    const auto side = [&](int max) {
        const unsigned kind = next(), v = next() | next() << 8;
        return static_cast<int>(kind < 192 ? 1 + v % std::min(max, 64) : 1 + v * 65537u % static_cast<unsigned>(max));
    };
    const Size sheet{side(65536), side(65536)};
    const int margin = static_cast<int>(next() % 8 == 0 ? next() | next() << 8 : next() % 4);
    const Rotation rotation = next() % 2 ? Rotation::Allowed : Rotation::Never;
    const auto fits = [&](Size s) {
        return fitsSheet(s, sheet, margin) || (rotation == Rotation::Allowed && fitsSheet({s.h, s.w}, sheet, margin));
    };
    std::vector<Size> sizes;
    while (pos < size && sizes.size() < 96)
        sizes.push_back({side(sheet.w + 8), side(sheet.h + 8)});
    const auto keepsTheRules = [&](const Layout& layout, Size on) {
        check(test::LayoutFault(sizes, layout, on, margin).empty());
        for (const Placement& p : layout.placements)
            check(rotation == Rotation::Allowed || !p.rotated);
    };

    const PackOutcome outcome = pack(sizes, sheet, margin, 1, rotation);
    if (outcome.tooLarge) {
        const std::size_t bad = *outcome.tooLarge;
        check(bad < sizes.size() && !fits(sizes[bad]));
        for (std::size_t i = 0; i < bad; ++i)
            check(fits(sizes[i]));
        return 0;
    }
    const Layout& layout = outcome.layout;
    keepsTheRules(layout, sheet);
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
    keepsTheRules(shrunk, s);
    return 0;
}
