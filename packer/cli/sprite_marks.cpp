#include "sprite_marks.h"

#include <fnmatch.h>

#include "error.h"
#include "nine_patch.h"
#include "utf8.h"

namespace vintrix {

std::vector<SpriteMarks> marksOfSettings(
    const std::vector<SpriteSettings>& tables, const std::vector<std::string>& names, std::ostream& err)
{
    std::vector<SpriteMarks> marks(names.size());
    for (const SpriteSettings& table : tables) {
        bool matched = false;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (::fnmatch(table.pattern.c_str(), names[i].c_str(), FNM_PATHNAME) != 0)
                continue;
            matched = true;
            if (table.pivot)
                marks[i].pivot = table.pivot;
            if (table.nineSlice) {
                marks[i].nineSlice = table.nineSlice;
                marks[i].nineSliceAt = table.nineSliceAt;
            }
        }
        if (!matched)
            err << "warning: " << table.at << "[sprites." << quoted(table.pattern) << "] matches no image\n";
    }
    return marks;
}

std::vector<std::size_t> applyNinePatches(
    const std::vector<std::string>& names, std::vector<Image>& images, std::vector<SpriteMarks>& marks)
{
    std::vector<std::size_t> cut;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!isNinePatchName(names[i]))
            continue;
        const NinePatch patch = stripNinePatch(images[i]);
        if (!patch.fault.empty())
            throw InputError(quoted(names[i]) + ": not a nine-patch: " + patch.fault);
        if (!marks[i].nineSlice)
            marks[i].nineSlice = patch.slices;
        marks[i].padding = patch.padding;
        cut.push_back(i);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::optional<Borders>& b = marks[i].nineSlice;
        if (b &&
            (std::int64_t{b->left} + b->right > images[i].width || std::int64_t{b->top} + b->bottom > images[i].height))
            throw ArgumentError(marks[i].nineSliceAt + "nine-slice [" + std::to_string(b->left) + ", " +
                std::to_string(b->top) + ", " + std::to_string(b->right) + ", " + std::to_string(b->bottom) +
                "] is larger than " + quoted(names[i]) + ", " + std::to_string(images[i].width) + "x" +
                std::to_string(images[i].height) +
                " pixels: left and right together are at most its width, top and bottom its height");
    }
    return cut;
}

}  // namespace vintrix
