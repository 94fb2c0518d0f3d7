#pragma once
// The smallest sheet for a set of images: what --shrink makes of the last
// sheet, which holds what the full sheets before it left over. Sizes in,
// a sheet size and placements out, as pack() gives them.

#include <optional>
#include <span>
#include <vector>

#include "image.h"
#include "maxrects.h"

namespace vintrix {

struct SmallestSheet {
    Size sheet;
    std::vector<Placement> placements;  // one per size, all on sheet 0
};

// Better sheets compare less: the smaller area, then the squarer (the
// shorter long side), then the wider.
bool smallerSheet(Size a, Size b);

// The smallest sheet, no wider or higher than `limit`, on which pack()
// places every size, cut to the box around the images and the margin to
// their right and below. With `powersOfTwo` each side is a power of two
// (`limit`'s too). The search tries the powers of two in turn, or, for any
// size, widths about 2% apart, each with the least height that holds the
// images, so it may miss a smaller sheet pack() could fill, by a few
// percent. Nothing when the sizes do not all fit on one sheet of `limit`.
std::optional<SmallestSheet> smallestSheet(std::span<const Size> sizes, Size limit, int margin, bool powersOfTwo,
    int threads = 2, Rotation rotation = Rotation::Never);

}  // namespace vintrix
