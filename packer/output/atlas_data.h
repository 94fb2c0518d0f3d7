#pragma once
// The atlas data Vintrix writes beside its sheets: one layout, the frames of
// each sheet, written in the format the engine of the user's choice reads.

#include <string>
#include <vector>

namespace vintrix {

enum class DataFormat {
    JsonHash,   // one JSON file a sheet, frames keyed by name (PixiJS, TexturePacker's hash)
    JsonArray,  // the same files with the frames in an array, each with its "filename"
    Phaser3,    // one JSON file listing every sheet under "textures" (Phaser 3 multi-atlas)
    Libgdx,     // one .atlas text file listing every sheet (libGDX TextureAtlas)
};

struct AtlasFrame {
    std::string name;  // the frame's key, UTF-8
    // The region's top-left on the sheet, and the sprite's size as stored
    // (trimmed, not turned).
    int x = 0, y = 0, w = 0, h = 0;
    bool rotated = false;  // stored turned 90 degrees (see rotatesClockwise): the region is h wide and w high
    bool trimmed = false;
    int sourceX = 0, sourceY = 0;  // where the stored pixels sit in the original image
    int sourceW = 0, sourceH = 0;  // the original image's size (w, h when untrimmed)
};

struct AtlasMeta {
    std::string version;
    std::string image;                           // the sheet's file name
    std::string format;                          // "RGBA8888" or "INDEXED8"
    int w = 0, h = 0;                            // the sheet's size
    std::vector<std::string> relatedMultiPacks;  // JSON hash and array: the other data files, on the first sheet
    bool premultipliedAlpha = false;
};

struct AtlasSheet {
    AtlasMeta meta;
    std::vector<AtlasFrame> frames;  // in any order: every format lists them in natural order
};

// A rotated sprite is stored turned 90 degrees clockwise for the JSON
// formats, as TexturePacker's JSON and its readers have it, and counter-
// clockwise for libGDX, whose loader turns it back clockwise.
bool rotatesClockwise(DataFormat format);

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

// Throws when a frame or sheet name cannot be written in `format`'s data:
// libGDX's text format has no quoting for a ":", a line break or blanks at
// the ends.
void checkDataNames(DataFormat format, const std::string& name, const std::vector<std::string>& frameNames);

// The file name, without extension, of sheet `sheet` (from 0) of the output
// named `name`: NAME, then NAME-2, NAME-3, ...
std::string sheetBase(const std::string& name, int sheet);

// `name` without its extension; a name whose only dot starts it (".png",
// "sub/.png") keeps it.
std::string withoutExtension(const std::string& name);

// The data files of the output named `name` with `sheets` sheets, in the
// order they are to be put in place: the one that names the others last.
std::vector<std::string> atlasDataFiles(DataFormat format, const std::string& name, int sheets);

// The text of each file atlasDataFiles() names, in the same order, the
// frames of each sheet in natural order. Fills in each sheet's
// relatedMultiPacks. Grouped, numbered frames are grouped as animationsOf()
// says, in the formats that carry such groups: name and index in libGDX,
// and "animations" in JSON hash and array, in the file of a sheet that holds
// all of an animation's frames; an animation spread over several sheets is
// in none of them.
std::vector<std::string> atlasData(
    DataFormat format, const std::string& name, std::vector<AtlasSheet> sheets, AnimationNaming naming);

}  // namespace vintrix
