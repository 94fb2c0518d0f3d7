#include "smallest_sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vintrix {
namespace {

using Area = std::int64_t;

Area areaOf(Size s)
{
    return Area{s.w} * s.h;
}

int powerOfTwoAtLeast(int n)
{
    int p = 1;
    while (p < n)
        p *= 2;
    return p;
}

// The box around the images of a one-sheet layout and the margin to their
// right and below, each side rounded up to a power of two if asked.
Size cropped(std::span<const Size> sizes, const Layout& layout, int margin, bool powersOfTwo)
{
    Size box{0, 0};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const Placement& p = layout.placements[i];
        const Size placed = placedSize(sizes[i], p);
        box = {std::max(box.w, p.x + placed.w + margin), std::max(box.h, p.y + placed.h + margin)};
    }
    return powersOfTwo ? Size{powerOfTwoAtLeast(box.w), powerOfTwoAtLeast(box.h)} : box;
}

}  // namespace

bool smallerSheet(Size a, Size b)
{
    if (areaOf(a) != areaOf(b))
        return areaOf(a) < areaOf(b);
    if (std::max(a.w, a.h) != std::max(b.w, b.h))
        return std::max(a.w, a.h) < std::max(b.w, b.h);
    return a.w > b.w;
}

std::optional<SmallestSheet> smallestSheet(
    std::span<const Size> sizes, Size limit, int margin, bool powersOfTwo, int threads, Rotation rotation)
{
    // What any sheet that holds them needs: room for the widest and the
    // highest image (either way round, if they may turn) inside the
    // margins, and the area of every image with the margin after it.
    const bool turns = rotation == Rotation::Allowed;
    Area minW = 1, minH = 1, needed = 0;
    for (Size s : sizes) {
        minW = std::max(minW, Area{turns ? std::min(s.w, s.h) : s.w} + 2 * Area{margin});
        minH = std::max(minH, Area{turns ? std::min(s.w, s.h) : s.h} + 2 * Area{margin});
        needed += (Area{s.w} + margin) * (Area{s.h} + margin);
    }
    if (sizes.empty() || minW > limit.w || minH > limit.h)
        return std::nullopt;
    // The least height a sheet of width w needs for the images' area.
    const auto leastHeight = [&](Area w) { return std::max(minH, (needed + w - margin - 1) / (w - margin) + margin); };

    // Among the few powers of two each sheet tried gets every strategy of
    // pack(); the longer search for any size lays them out with pack()'s
    // quickest strategy alone, and pack() tries them all on the sheet found.
    constexpr Strategy quick{Heuristic::BottomLeft, SortOrder::HeightDesc, SheetChoice::FirstFit};
    struct Found {
        Size box;    // the sheet cut to the images
        Size sheet;  // the sheet they were laid out on
        std::vector<Placement> placements;
    };
    std::optional<Found> best;
    // Whether the images fit on `sheet`; keeps the layout if its box is the
    // smallest yet.
    const auto fits = [&](Size sheet) {
        for (Size s : sizes)
            if (!fitsSheet(s, sheet, margin) && !(turns && fitsSheet({s.h, s.w}, sheet, margin)))
                return false;
        Layout layout = powersOfTwo ? packOnOneSheet(sizes, sheet, margin, threads, rotation).value_or(Layout{})
                                    : packWith(sizes, sheet, margin, quick, rotation, 1);
        if (layout.sheets != 1)
            return false;
        const Size box = cropped(sizes, layout, margin, powersOfTwo);
        if (!best || smallerSheet(box, best->box))
            best = Found{box, sheet, std::move(layout.placements)};
        return true;
    };

    if (powersOfTwo) {
        // Every pair of powers of two with room for the images, smallest
        // first: the first that holds them is the one.
        std::vector<Size> candidates;
        for (Area w = 1; w <= limit.w; w *= 2)
            for (Area h = 1; h <= limit.h; h *= 2)
                if (w >= minW && h >= leastHeight(w))
                    candidates.push_back({static_cast<int>(w), static_cast<int>(h)});
        std::sort(candidates.begin(), candidates.end(), smallerSheet);
        for (Size sheet : candidates)
            if (fits(sheet))
                break;
    } else {
        // Widths about 2% apart, from the squarest outwards, each with the least
        // height that holds the images there, halving the range of heights
        // between the area's bound and the smallest area found so far.
        std::vector<int> widths;
        for (double w = static_cast<double>(minW); widths.empty() || widths.back() < limit.w; w *= 1.02) {
            const int next = static_cast<int>(std::min<Area>(limit.w, static_cast<Area>(std::ceil(w))));
            if (widths.empty() || next > widths.back())
                widths.push_back(next);
        }
        const double square = std::log(std::sqrt(static_cast<double>(needed)) + margin);
        std::stable_sort(widths.begin(), widths.end(),
            [&](int a, int b) { return std::abs(std::log(a) - square) < std::abs(std::log(b) - square); });
        for (const int w : widths) {
            Area low = leastHeight(w), high = limit.h;
            if (best)
                high = std::min(high, areaOf(best->box) / w);
            if (low > high || !fits({w, static_cast<int>(high)}))
                continue;
            while (low < high) {
                const Area mid = low + (high - low) / 2;
                if (fits({w, static_cast<int>(mid)}))
                    high = mid;
                else
                    low = mid + 1;
            }
        }
        // Turned, the best sheet found may hold them too, as small and wider.
        if (best && best->box.h > best->box.w && best->box.h <= limit.w && best->box.w <= limit.h)
            fits({best->box.h, best->box.w});
        if (best)
            if (std::optional<Layout> layout = packOnOneSheet(sizes, best->sheet, margin, threads, rotation)) {
                const Size box = cropped(sizes, *layout, margin, powersOfTwo);
                if (smallerSheet(box, best->box))
                    best = Found{box, best->sheet, std::move(layout->placements)};
            }
    }
    if (!best)
        return std::nullopt;
    return SmallestSheet{best->box, std::move(best->placements)};
}

}  // namespace vintrix
