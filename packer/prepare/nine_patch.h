#pragma once
// Nine-patch images, NAME.9.png: the picture inside a 1-pixel border of
// guides. Black pixels along the top and left edges mark the part that
// stretches (one run on each), along the bottom and right edges the
// content area; every other pixel of the border is transparent.

#include <optional>
#include <string>
#include <string_view>

#include "image.h"

namespace vintrix {

// Whether a file's name says it is a nine-patch: it ends in ".9.png", in
// any case.
bool isNinePatchName(std::string_view name);

struct NinePatch {
    Borders slices;                  // the picture's edges that keep their size
    std::optional<Borders> padding;  // the content area's, when the bottom or right guide marks one
    std::string fault;               // why the border is not a nine-patch's guides; empty when it is
};

// Cuts the guides off `image` and reads them; leaves the image as it was
// where they are faulty.
NinePatch stripNinePatch(Image& image);

}  // namespace vintrix
