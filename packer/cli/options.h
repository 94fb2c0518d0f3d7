#pragma once
// The command line: the seven arguments the window writes,
//   Vintrix WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER
// and named options in GNU style before, between or after them. NAME and
// FOLDER are taken as they are even when they begin with "-", so the
// window's command line means what it always meant.

#include <string>
#include <variant>
#include <vector>

#include "PackerContract.h"
#include "data_formats.h"
#include "image.h"
#include "sheet_formats.h"
#include "settings_file.h"

namespace vintrix {

// One output of the layout at a scale: --variant SCALE[:SUFFIX].
struct Variant {
    std::string scale = "1";             // as a JSON number: "0.5"
    int numerator = 1, denominator = 1;  // the scale in lowest terms
    std::string suffix;                  // of the files' NAME: "@2x"
};

struct Options {
    int width = 0;
    int height = 0;
    std::string name;
    BitDepth bitDepth = BitDepth::Rgba32;
    FormatCode format = FormatCode::Png;
    int margin = 0;
    std::string folder;  // as given, with or without the trailing slash

    std::string outputFolder = "Output";            // -o/--output DIR, without trailing slashes
    const DataFormat* data = &defaultDataFormat();  // --data
    bool stripExtensions = false;                   // --strip-extensions
    bool recursive = false;                         // --recursive
    bool animations = false;                        // --animations
    bool trim = false;                              // --trim
    int trimThreshold = 0;                          // --trim-threshold N: alpha <= N counts as transparent
    int extrude = 0;                                // --extrude N
    int pngLevel = kPngCompressionLevel;            // --png-level N
    bool bleed = false;                             // --bleed / --no-bleed
    bool rotate = false;                            // --rotate
    bool pot = false;                               // --pot
    bool shrink = false;                            // --shrink
    bool premultiply = false;                       // --premultiply
    int maxSheets = 0;                              // --max-sheets N; 0 for no limit
    std::string depfile;                            // --depfile FILE; "" for none
    bool watch = false;                             // --watch
    // --variant, the first the largest; empty for the images at their size.
    std::vector<Variant> variants;

    // "settings from FOLDER/vintrix.toml: trim, data = json-array", the
    // named options the settings file set; "" for none.
    std::string fromSettingsFile;
    std::string settingsFile;                    // the settings file's path as given; "" for none
    std::vector<SpriteSettings> spriteSettings;  // its [sprites."PATTERN"] tables
};

// Every variant's sprites, places and margins are whole when they are
// multiples of this many pixels, the denominators' least common multiple
// (1 without variants).
int variantUnit(const Options& o);
inline constexpr int kMaxVariantUnit = 40;

struct ShowHelp {};
struct ShowVersion {};
using ParsedCommandLine = std::variant<Options, ShowHelp, ShowVersion>;

// args excludes the program name. Throws ArgumentError.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

std::string usageText();

// Every name of every named option that takes a value ("-o", "--output", …).
std::vector<std::string> optionsTakingValues();

}  // namespace vintrix
