#pragma once
// Identical images are stored once: same size and same pixels.

#include <cstddef>
#include <vector>

#include "image.h"

namespace vintrix {

struct UniqueImages {
    std::vector<std::size_t> first;     // for each unique image, the index of its first input
    std::vector<std::size_t> uniqueOf;  // for each input, the index of its unique image
};

// Images of the same size and the same pixels share one entry. `hashes` as
// decodeImages gives them.
UniqueImages findDuplicates(const std::vector<Image>& images, const std::vector<std::size_t>& hashes);

}  // namespace vintrix
