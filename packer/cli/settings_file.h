#pragma once
// The settings file: vintrix.toml in the images folder, or the file that
// --config names. Each line sets one named option by its long name, as in
//   trim = true
//   data = "phaser3"
//   output = "../atlases"   # relative to the file's folder
// CLI11 reads it; the lines are checked first, so that a fault is reported
// with the file and its line. An option on the command line wins over the
// file. After them, tables for the sprites whose file names match a
// pattern, read with toml++:
//   [sprites."hero_*.png"]
//   pivot = [0.5, 1.0]          # fractions of the original image
//   nine-slice = [4, 4, 4, 4]   # left, top, right, bottom, in its pixels

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "atlas_data.h"
#include "image.h"

namespace CLI {
class App;
}

namespace vintrix {

inline constexpr char kSettingsFileName[] = "vintrix.toml";

// One [sprites."PATTERN"] table: what it sets for the images whose names
// match PATTERN (fnmatch(3), "*" not across "/"), and where, as
// "\"sprites/vintrix.toml\", line 4: ".
struct SpriteSettings {
    std::string pattern;
    std::string at;
    std::optional<Pivot> pivot;
    std::optional<Borders> nineSlice;
    std::string nineSliceAt;
};

class SettingsFile {
public:
    // The file at `path` (as the user gave it), or nullopt when it does not
    // exist and was not asked for. Throws ArgumentError.
    static std::optional<SettingsFile> read(const std::string& path, bool asked);

    // Gives `app`, already parsed from the command line, the settings of
    // the file that the command line does not set. Throws ArgumentError.
    void applyTo(CLI::App& app);

    const std::string& path() const { return path_; }
    // Whether the file set `option` (a long name, "--data").
    bool sets(const std::string& option) const { return taken_.count(option) > 0; }
    // "\"sprites/vintrix.toml\", line 3: " where the file set `option`, else "".
    std::string where(const std::string& option) const;
    // A path from the file, relative to the file's folder.
    std::string resolved(const std::string& path) const;

    // "settings from sprites/vintrix.toml: trim, data = json-array": the
    // settings taken from the file, in its order; "" for none.
    std::string summaryLine() const;

    // The [sprites."PATTERN"] tables, in the file's order.
    const std::vector<SpriteSettings>& sprites() const { return sprites_; }

private:
    SettingsFile(std::string path, std::string text) : path_(std::move(path)), text_(std::move(text)) {}
    std::string at(int line) const;
    void readTables(const std::string& text);

    std::string path_, text_;
    std::map<std::string, int> lines_;  // each key's line
    std::map<std::string, int> taken_;  // each option set from the file, with its line
    std::vector<std::string> summary_;  // "trim", "data = json-array"
    std::vector<SpriteSettings> sprites_;
};

}  // namespace vintrix
