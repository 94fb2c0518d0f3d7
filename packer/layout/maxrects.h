#pragma once
// The rectangle packer: sizes in, placements out. It knows nothing of files
// or pixels, so tests and benchmarks call it directly.
//
// pack() tries a few MaxRects placement rules and input orders, each filling
// the earliest sheet with room, and keeps the layout with the fewest sheets,
// then the fullest first sheets, then the smallest used area on the last one.
// The result depends only on the input: ties are broken by strategy order,
// never by which thread finished first. Allowed to rotate images, it tries
// each one both ways on every sheet and rotates it only where that scores
// strictly better, and keeps the unrotated layout where that is as good.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "image.h"

namespace vintrix {

struct Placement {
    int sheet = 0;
    int x = 0;
    int y = 0;
    bool rotated = false;  // turned 90 degrees clockwise: its height across, its width down
    friend bool operator==(const Placement&, const Placement&) = default;
};

enum class Heuristic { BestShortSideFit, BestLongSideFit, BestAreaFit, BottomLeft, ContactPoint };
enum class SortOrder { AreaDesc, MaxSideDesc, PerimeterDesc, HeightDesc, WidthDesc };
// FirstFit puts an image on the earliest sheet that has room; GlobalBest on
// the sheet where the placement rule scores it best.
enum class SheetChoice { FirstFit, GlobalBest };

enum class Rotation { Never, Allowed };

struct Strategy {
    Heuristic heuristic = Heuristic::BestShortSideFit;
    SortOrder order = SortOrder::AreaDesc;
    SheetChoice choice = SheetChoice::FirstFit;
};

struct Layout {
    std::vector<Placement> placements;  // one per input size, in input order
    int sheets = 0;
    std::vector<std::int64_t> usedArea;  // pixels covered by images, per sheet
    std::int64_t lastSheetExtent = 0;    // area of the box around the last sheet's images
    Strategy strategy;
};

struct PackOutcome {
    Layout layout;
    // Index of the first input size that can never fit on a sheet.
    std::optional<std::size_t> tooLarge;
};

// Places every size on sheets of `sheet`, leaving `margin` pixels between
// any two images and between each image and the sheet's edges.
PackOutcome pack(
    std::span<const Size> sizes, Size sheet, int margin, int threads = 2, Rotation rotation = Rotation::Never);

// pack() when every size fits on one sheet, else nothing; each strategy
// gives up at the first image that does not fit.
std::optional<Layout> packOnOneSheet(
    std::span<const Size> sizes, Size sheet, int margin, int threads = 2, Rotation rotation = Rotation::Never);

// One strategy alone; every size must fit an empty sheet (rotated, if
// allowed). With a sheet limit, an empty layout (no sheets) as soon as an
// image would need one more sheet.
Layout packWith(std::span<const Size> sizes, Size sheet, int margin, Strategy strategy,
    Rotation rotation = Rotation::Never, int sheetLimit = 0);

// The size an image takes on the sheet where it is placed.
constexpr Size placedSize(Size image, const Placement& p)
{
    return p.rotated ? Size{image.h, image.w} : image;
}

}  // namespace vintrix
