#pragma once
// What the atlas data says of a sprite beyond its place: a pivot and a
// nine-slice from the settings file's [sprites."PATTERN"] tables, and the
// nine-slice and content padding that a nine-patch's guides mark.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "atlas_data.h"
#include "image.h"
#include "settings_file.h"

namespace vintrix {

struct SpriteMarks {
    std::optional<Pivot> pivot;
    std::optional<Borders> nineSlice;
    std::string nineSliceAt;  // where the settings file set it; "" for a nine-patch's guides
    std::optional<Borders> padding;
};

// The marks of each image of `names` (as listed in the images folder) that
// the tables set, a later table winning; a warning on `err` for each table
// that matches no image.
std::vector<SpriteMarks> marksOfSettings(
    const std::vector<SpriteSettings>& tables, const std::vector<std::string>& names, std::ostream& err);

// Cuts the guides off the nine-patches among `images` and gives their marks
// to `marks`, where the settings file set no nine-slice; then checks every
// nine-slice against its image. Returns the indices of the images cut.
// Throws InputError for guides that are not a nine-patch's, ArgumentError
// for a nine-slice wider or higher than its image.
std::vector<std::size_t> applyNinePatches(
    const std::vector<std::string>& names, std::vector<Image>& images, std::vector<SpriteMarks>& marks);

}  // namespace vintrix
