// The rectangle packer on arbitrary size lists, sheet sizes and margins:
// every image lands on a sheet, inside the margin band, at least `margin`
// pixels from every other image on its sheet, or the first image that can
// never fit is named, either way round where images may be rotated. The
// layout does not depend on the number of threads.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_check.h"
#include "maxrects.h"

namespace {

using vintrix::fuzz::check;

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

bool apart(const vintrix::Placement& a, vintrix::Size sa, const vintrix::Placement& b, vintrix::Size sb, int margin)
{
    using I = std::int64_t;
    return I{a.x} + sa.w + margin <= b.x || I{b.x} + sb.w + margin <= a.x || I{a.y} + sa.h + margin <= b.y ||
        I{b.y} + sb.h + margin <= a.y;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vintrix;
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
    check(layout.placements.size() == sizes.size());
    check(sizes.empty() ? layout.sheets == 0 : layout.sheets >= 1);
    check(layout.usedArea.size() == static_cast<std::size_t>(layout.sheets));
    check(layout.sheets <= static_cast<int>(sizes.size()));
    std::vector<std::int64_t> area(static_cast<std::size_t>(layout.sheets));
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const Placement& p = layout.placements[i];
        const Size placed = placedSize(sizes[i], p);
        check(p.sheet >= 0 && p.sheet < layout.sheets);
        check(rotation == Rotation::Allowed || !p.rotated);
        check(p.x >= margin && p.y >= margin);
        check(std::int64_t{p.x} + placed.w + margin <= sheet.w);
        check(std::int64_t{p.y} + placed.h + margin <= sheet.h);
        area[static_cast<std::size_t>(p.sheet)] += std::int64_t{sizes[i].w} * sizes[i].h;
        for (std::size_t j = 0; j < i; ++j)
            if (layout.placements[j].sheet == p.sheet)
                check(apart(p, placed, layout.placements[j], placedSize(sizes[j], layout.placements[j]), margin));
    }
    check(area == layout.usedArea);
    for (std::int64_t a : area)
        check(a > 0);

    if (sizes.size() <= 24) {
        const PackOutcome again = pack(sizes, sheet, margin, 3, rotation);
        check(again.layout.placements == layout.placements && again.layout.sheets == layout.sheets);
    }
    return 0;
}
