#pragma once
// The settings file: vintrix.toml in the images folder, or the file that
// --config names. Each line sets one named option by its long name, as in
//   trim = true
//   data = "phaser3"
//   output = "../atlases"   # relative to the file's folder
// CLI11 reads it; the lines are checked first, so that a fault is reported
// with the file and its line. An option on the command line wins over the
// file.

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace vintrix {

inline constexpr char kSettingsFileName[] = "vintrix.toml";

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

private:
    SettingsFile(std::string path, std::string text) : path_(std::move(path)), text_(std::move(text)) {}
    std::string at(int line) const;

    std::string path_, text_;
    std::map<std::string, int> lines_;  // each key's line
    std::map<std::string, int> taken_;  // each option set from the file, with its line
    std::vector<std::string> summary_;  // "trim", "data = json-array"
};

}  // namespace vintrix
