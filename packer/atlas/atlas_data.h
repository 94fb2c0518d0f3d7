#pragma once
// What every atlas data format is written from: one layout, the frames of
// each sheet, their names and how numbered frames group into animations.
// The formats themselves, one writer each, are listed in data_formats.h.

#include <optional>
#include <string>
#include <vector>

#include "image.h"

namespace vintrix {

// A sprite's pivot, or anchor: fractions of its original image's width and
// height from the top left.
struct Pivot {
    double x = 0, y = 0;
    friend bool operator==(const Pivot&, const Pivot&) = default;
};

struct AtlasFrame {
    std::string name;  // the frame's key, UTF-8
    // The region's top-left on the sheet, and the sprite's size as stored
    // (trimmed, not turned).
    int x = 0, y = 0, w = 0, h = 0;
    bool rotated = false;  // stored turned 90 degrees (see DataFormat::turnsClockwise): the region is h wide and w high
    bool trimmed = false;
    int sourceX = 0, sourceY = 0;  // where the stored pixels sit in the original image
    int sourceW = 0, sourceH = 0;  // the original image's size (w, h when untrimmed)
    std::optional<Pivot> pivot{};
    std::optional<Borders> nineSlice{};  // in the original image's pixels
    std::optional<Borders> padding{};    // a nine-patch's content area
};

struct AtlasMeta {
    std::string version;
    std::string image;                           // the sheet's file name
    std::string format;                          // "RGBA8888" or "INDEXED8"
    int w = 0, h = 0;                            // the sheet's size
    std::vector<std::string> relatedMultiPacks;  // JSON hash and array: the other data files, on the first sheet
    bool premultipliedAlpha = false;
    std::string scale = "1";  // of the sprites against the images, as a JSON number
};

struct AtlasSheet {
    AtlasMeta meta;
    std::vector<AtlasFrame> frames;  // in any order: every format lists them in natural order
};

// Numbered frames grouped under the name before their number, each group
// in the order of its numbers: "walk_01.png", "walk_02.png" -> "walk".
struct Animation {
    std::string name;
    std::vector<std::string> frames;
};

// True when `a` comes before `b` with runs of digits compared as numbers:
// "walk_2" before "walk_10". A total order: names that differ only in
// leading zeros are ordered by their bytes.
bool naturalLess(const std::string& a, const std::string& b);

// The groups of two or more frames whose names end in a number before the
// extension, or at the end without `extensions` (after a "_", "-", "." or
// blank, or straight after a letter), sorted by name; each group's frames in
// the order of their numbers ("walk_1", "walk2", "walk-3").
std::vector<Animation> animationsOf(const std::vector<std::string>& names, bool extensions = true);

// Whether numbered frames are grouped into animations, and whether the
// frames' names still end in their files' extensions.
struct AnimationNaming {
    bool group = false;
    bool extensions = true;
};

// A frame's name split before its number: "walk_01.png" -> "walk", "01";
// nothing for a name without one.
struct Numbered {
    std::string group;
    std::string number;  // the digits as written
};
std::optional<Numbered> numberedName(const std::string& name, bool extensions);

// The animations whose frames are all on `sheet`: a data file per sheet can
// name only its own frames, and one that lists part of an animation would
// play it cut short.
std::vector<Animation> animationsOn(const AtlasSheet& sheet, const std::vector<Animation>& animations);

// The file name, without extension, of sheet `sheet` (from 0) of the output
// named `name`: NAME, then NAME-2, NAME-3, ...
std::string sheetBase(const std::string& name, int sheet);

// `value` in the fewest digits that read back as it: "0.5", "1".
std::string decimal(double value);

// `name` without its extension; a name whose only dot starts it (".png",
// "sub/.png") keeps it.
std::string withoutExtension(const std::string& name);

// What a format's writer is given: every sheet, its frames in natural
// order, and the animations when they are asked for and the format holds
// them.
struct AtlasInput {
    std::string name;  // the output's NAME
    std::vector<AtlasSheet> sheets;
    std::vector<Animation> animations;
    AnimationNaming naming;
};

}  // namespace vintrix
