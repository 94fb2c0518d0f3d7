#include "duplicates.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace vintrix {

UniqueImages findDuplicates(const std::vector<Image>& images, const std::vector<std::size_t>& hashes)
{
    UniqueImages u;
    u.uniqueOf.resize(images.size());
    std::map<std::tuple<int, int, std::size_t>, std::vector<std::size_t>> seen;  // -> unique indices
    for (std::size_t i = 0; i < images.size(); ++i) {
        const Image& img = images[i];
        auto& candidates = seen[{img.width, img.height, hashes[i]}];
        auto same = std::find_if(candidates.begin(), candidates.end(),
            [&](std::size_t k) { return images[u.first[k]].pixels == img.pixels; });
        if (same != candidates.end()) {
            u.uniqueOf[i] = *same;
        } else {
            u.uniqueOf[i] = u.first.size();
            candidates.push_back(u.first.size());
            u.first.push_back(i);
        }
    }
    return u;
}

}  // namespace vintrix
