#include "stb_baseline.h"

#include <stdexcept>

#define STB_RECT_PACK_IMPLEMENTATION
#include <stb_rect_pack.h>

namespace vintrix::bench {

BaselineLayout packSkyline(std::span<const vintrix::Size> sizes, vintrix::Size sheet, int margin, Skyline heuristic)
{
    const int binW = sheet.w - margin, binH = sheet.h - margin;
    std::vector<stbrp_rect> pending;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        pending.push_back({static_cast<int>(i), sizes[i].w + margin, sizes[i].h + margin, 0, 0, 0});
    std::vector<stbrp_node> nodes(static_cast<std::size_t>(binW));
    BaselineLayout out;
    while (!pending.empty()) {
        stbrp_context ctx;
        stbrp_init_target(&ctx, binW, binH, nodes.data(), binW);
        stbrp_setup_heuristic(&ctx,
            heuristic == Skyline::BottomLeft ? STBRP_HEURISTIC_Skyline_BL_sortHeight
                                             : STBRP_HEURISTIC_Skyline_BF_sortHeight);
        stbrp_pack_rects(&ctx, pending.data(), static_cast<int>(pending.size()));
        std::vector<stbrp_rect> rest;
        std::int64_t used = 0;
        for (const stbrp_rect& r : pending)
            if (r.was_packed)
                used += std::int64_t{r.w - margin} * (r.h - margin);
            else
                rest.push_back(r);
        if (rest.size() == pending.size())
            throw std::runtime_error("an image does not fit an empty sheet");
        out.usedArea.push_back(used);
        ++out.sheets;
        pending = std::move(rest);
    }
    return out;
}

}  // namespace vintrix::bench
