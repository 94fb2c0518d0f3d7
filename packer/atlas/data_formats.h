#pragma once
// The atlas data formats Vintrix writes, one row each: the name --data takes,
// the files it writes, its writer, the way it stores a rotated sprite and
// what it can hold. --help, the error for an unknown format and the checks
// of the options all read this table; a new format is a writer and a row.

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "atlas_data.h"

namespace vintrix {

enum class DataFiles {
    EachSheet,  // a file a sheet, NAME.EXT, NAME-2.EXT, ...: the writer gives one text a sheet
    OneForAll,  // NAME.EXT for each extension: the writer gives one text each, in their order
    Named,      // the files that DataFormat::names gives, a text each, paths within the output folder
};

// Throws InputError when a frame's name cannot be written in the format (an
// ArgumentError for the output's name).
using NameCheck = void (*)(const std::string& name, const std::vector<std::string>& frames, AnimationNaming naming);

struct DataFormat {
    std::string_view name = {};  // as --data takes it
    std::string_view help = {};  // --help's line: the files and who reads them
    DataFiles files = DataFiles::EachSheet;
    std::array<std::string_view, 2> extensions = {};  // with the dot; the second may be empty
    std::vector<std::string> (*write)(const AtlasInput& input) = nullptr;
    std::vector<std::string> (*names)(const AtlasInput& input) = nullptr;  // DataFiles::Named's, the way in last
    // A rotated sprite is stored turned 90 degrees clockwise, or counter-
    // clockwise, whichever its loader turns back.
    bool turnsClockwise = true;
    // Why the format cannot show a trimmed or a rotated frame, colours
    // premultiplied by alpha, or an 8-bit BMP sheet, whose transparent
    // pixels are a colour key; empty where it can.
    std::string_view withoutTrim = {}, withoutRotation = {}, withoutPremultiplied = {}, withoutColourKey = {};
    bool holdsAnimations = false;
    NameCheck checkNames = nullptr;  // null: any UTF-8 name
};

std::span<const DataFormat> dataFormats();

// The format --data names, or null.
const DataFormat* dataFormatNamed(std::string_view name);

// json-hash, the first row.
const DataFormat& defaultDataFormat();

// "json-hash, json-array, ... or libgdx".
std::string dataFormatNames();

// Whether a file ending in `extension` (".json") may be a data file of some
// format.
bool isDataExtension(std::string_view extension);

struct DataFile {
    std::string name;  // in the output folder
    std::string text;
};

struct AtlasData {
    std::vector<DataFile> files;
    // The animations that no file lists: the format's files each describe
    // one sheet, and these animations' frames lie on more than one.
    std::vector<std::string> splitAnimations;
};

// The data files of the output named `name`, in the order they are to be
// put in place: the one that names the others, the way in, last. The frames
// of each sheet are listed in natural order; with `naming.group` and in a
// format that holds them, numbered frames are grouped as animationsOf()
// says.
AtlasData atlasData(
    const DataFormat& format, const std::string& name, std::vector<AtlasSheet> sheets, AnimationNaming naming);

}  // namespace vintrix
