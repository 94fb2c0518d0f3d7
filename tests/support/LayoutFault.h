// The rules every layout of the rectangle packer keeps, checked on a layout
// and the sizes it was made for. Shared by the packer's tests and its fuzzer.
#pragma once

#include "maxrects.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vintrix::test {

// Empty when every image, turned where its placement says, lies on a sheet, inside the margin band and at
// least `margin` pixels from every other image on its sheet, no sheet is
// empty, and each sheet's used area is the area of its images; else the
// first rule broken.
inline std::string LayoutFault(const std::vector<Size>& sizes, const Layout& layout, Size sheet, int margin)
{
    using I = std::int64_t;
    if (layout.placements.size() != sizes.size() || layout.usedArea.size() != static_cast<std::size_t>(layout.sheets))
        return "an image or a sheet is missing";
    std::vector<I> area(layout.usedArea.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const Placement& p = layout.placements[i];
        const Size s = placedSize(sizes[i], p);
        if (p.sheet < 0 || p.sheet >= layout.sheets)
            return "image " + std::to_string(i) + " is on no sheet";
        if (p.x < margin || p.y < margin || I{p.x} + s.w + margin > sheet.w || I{p.y} + s.h + margin > sheet.h)
            return "image " + std::to_string(i) + " lies outside the margin band";
        area[static_cast<std::size_t>(p.sheet)] += I{s.w} * s.h;  // the same turned or not
        for (std::size_t j = 0; j < i; ++j) {
            const Placement& q = layout.placements[j];
            const Size t = placedSize(sizes[j], q);
            if (q.sheet == p.sheet && I{p.x} + s.w + margin > q.x && I{q.x} + t.w + margin > p.x &&
                I{p.y} + s.h + margin > q.y && I{q.y} + t.h + margin > p.y)
                return "images " + std::to_string(j) + " and " + std::to_string(i) + " are closer than the margin";
        }
    }
    if (area != layout.usedArea)
        return "the used areas are wrong";
    for (std::size_t k = 0; k < area.size(); ++k)
        if (area[k] == 0)
            return "sheet " + std::to_string(k) + " is empty";
    return {};
}

}  // namespace vintrix::test
