#include "settings_file.h"

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <toml++/toml.h>

#include "error.h"
#include "file.h"
#include "utf8.h"

namespace vintrix {
namespace {

constexpr off_t kMaxSettingsFile = 1 << 20;

std::string trimmed(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos)
        return {};
    return std::string(text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1));
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

// A key as CLI11 takes it: a bare name, or one in quotes.
std::string keyOf(const std::string& text)
{
    if (text.size() >= 2 && isQuote(text.front()) && text.back() == text.front())
        return text.substr(1, text.size() - 2);
    return text;
}

bool isName(const std::string& key)
{
    return !key.empty() &&
        key.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") == std::string::npos;
}

std::string readText(const std::string& path)
{
    const auto failed = [&](const std::string& what) { return ArgumentError("settings file " + quoted(path) + what); };
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw failed(errno == ENOENT ? " does not exist" : std::string(" cannot be read: ") + std::strerror(errno));
    // Opened without waiting, and read only as a regular file: a FIFO or a
    // device in its place would hold the run forever.
    if (!S_ISREG(st.st_mode))
        throw failed(" is not a regular file");
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd || ::fstat(fd.get(), &st) != 0)
        throw failed(std::string(" cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw failed(" is not a regular file");
    if (st.st_size > kMaxSettingsFile)
        throw failed(" is larger than 1 MiB");
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd.get(), buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw failed(std::string(" cannot be read: ") + std::strerror(errno));
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(kMaxSettingsFile))
            throw failed(" is larger than 1 MiB");
    }
    return text;
}

}  // namespace

std::optional<SettingsFile> SettingsFile::read(const std::string& path, bool asked)
{
    // Where the images folder cannot be searched, the folder's own check
    // says so.
    struct stat st {};
    if (!asked && ::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    std::string bytes = readText(path);
    if (bytes.starts_with("\xEF\xBB\xBF"))  // a byte order mark, which some editors write
        bytes.erase(0, 3);
    SettingsFile file(path, std::move(bytes));

    // Every line blank, a comment or NAME = VALUE, each name once, up to the
    // first table. CLI11's reader takes more (a name alone, sections), which
    // this file has no use for, and merges a name set twice. The tables are
    // toml++'s to read, which is given the whole file with the lines before
    // them blank, so that it counts lines as the file does.
    std::istringstream lines(file.text_);
    int number = 0;
    std::string settings, tables;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        const std::string text = trimmed(line);
        if (!tables.empty() || text.starts_with('[')) {
            tables += line + '\n';
            continue;
        }
        settings += line + '\n';
        if (text.empty() || text.front() == '#')
            continue;
        const std::size_t equals = text.find('=');
        const std::string key = equals == std::string::npos ? "" : keyOf(trimmed(text.substr(0, equals)));
        const std::string value = equals == std::string::npos ? "" : trimmed(text.substr(equals + 1));
        if (!isName(key) || value.empty() || value.front() == '#')
            throw ArgumentError(file.at(number) + "expected a setting, NAME = VALUE, not " + quoted(text));
        if (const auto [first, added] = file.lines_.emplace(key, number); !added)
            throw ArgumentError(
                file.at(number) + quoted(key) + " is set twice, first on line " + std::to_string(first->second));
    }
    if (!tables.empty()) {
        const auto settingsLines = std::count(settings.begin(), settings.end(), '\n');
        file.readTables(std::string(static_cast<std::size_t>(settingsLines), '\n') + tables);
        file.text_ = std::move(settings);
    }
    return file;
}

namespace {

// A number of a TOML array, integer or floating point.
std::optional<double> numberOf(const toml::node& node)
{
    if (const auto i = node.value_exact<std::int64_t>())
        return static_cast<double>(*i);
    return node.value_exact<double>();
}

int lineOf(const toml::node& node)
{
    return static_cast<int>(node.source().begin.line);
}

// A value as the file could write it, on one line.
std::string tomlText(const toml::node& node)
{
    std::ostringstream out;
    node.visit([&](const auto& value) { out << value; });
    return oneLine(out.str());
}

}  // namespace

void SettingsFile::readTables(const std::string& text)
{
    toml::table root;
    try {
        root = toml::parse(text, path_);
    } catch (const toml::parse_error& e) {
        throw ArgumentError(at(static_cast<int>(e.source().begin.line)) + oneLine(e.description()));
    }
    std::multimap<int, SpriteSettings> byLine;
    for (const auto& [key, node] : root) {
        if (key.str() != "sprites" || !node.is_table())
            throw ArgumentError(at(lineOf(node)) + "unknown table " + quoted(std::string(key.str())) +
                ": after the settings come only [sprites.\"PATTERN\"] tables");
        for (const auto& [pattern, entry] : *node.as_table()) {
            const toml::table* table = entry.as_table();
            if (!table)
                throw ArgumentError(at(lineOf(entry)) + "sprites." + quoted(std::string(pattern.str())) +
                    " must be a table, [sprites.\"PATTERN\"]");
            const int line = lineOf(entry);
            SpriteSettings sprite{std::string(pattern.str()), at(line), {}, {}, {}};
            for (const auto& [name, value] : *table) {
                const std::string where = at(lineOf(value));
                const toml::array* array = value.as_array();
                std::vector<double> numbers;
                for (std::size_t i = 0; array && i < array->size(); ++i)
                    if (const auto n = numberOf((*array)[i]))
                        numbers.push_back(*n);
                const bool complete = array && numbers.size() == array->size();
                if (name.str() == "pivot") {
                    if (!complete || numbers.size() != 2 ||
                        std::any_of(numbers.begin(), numbers.end(), [](double n) { return !(n >= 0 && n <= 1); }))
                        throw ArgumentError(where +
                            "pivot must be two fractions of the image from 0 to 1, [x, y], not " + tomlText(value));
                    sprite.pivot = Pivot{numbers[0], numbers[1]};
                } else if (name.str() == "nine-slice") {
                    if (!complete || numbers.size() != 4 || !std::all_of(numbers.begin(), numbers.end(), [](double n) {
                            return n >= 0 && n <= kMaxSheetSide && n == static_cast<int>(n);
                        }))
                        throw ArgumentError(where +
                            "nine-slice must be four whole numbers of pixels, [left, top, right, bottom], not " +
                            tomlText(value));
                    sprite.nineSlice = Borders{static_cast<int>(numbers[0]), static_cast<int>(numbers[1]),
                        static_cast<int>(numbers[2]), static_cast<int>(numbers[3])};
                    sprite.nineSliceAt = where;
                } else {
                    throw ArgumentError(where + "unknown sprite setting " + quoted(std::string(name.str())) +
                        ": a sprite takes pivot and nine-slice (the settings of the run come before the first "
                        "table)");
                }
            }
            byLine.emplace(line, std::move(sprite));
        }
    }
    // toml++ keeps a table's keys sorted: back in the file's order, so that
    // a later table wins over an earlier one.
    for (auto& [line, sprite] : byLine)
        sprites_.push_back(std::move(sprite));
}

void SettingsFile::applyTo(CLI::App& app)
{
    std::istringstream in(text_);
    std::map<const CLI::Option*, int> set;  // each option the file sets, with its line
    for (const CLI::ConfigItem& item : CLI::ConfigTOML().from_config(in)) {
        const std::string key = item.fullname();
        const auto found = lines_.find(key);
        const std::string at = this->at(found == lines_.end() ? 0 : found->second);
        const CLI::Option* option = app.get_option_no_throw("--" + key);
        if (!option)
            throw ArgumentError(at + "unknown setting " + quoted(key) + " (see Vintrix --help)");
        if (!option->get_configurable())
            throw ArgumentError(at + quoted(key) + " cannot be set in a settings file, only on the command line");
        if (item.inputs.size() != 1)
            throw ArgumentError(at + key + " takes one value");
        const std::string& value = item.inputs.front();
        if (!value.empty() && (isQuote(value.front()) || isQuote(value.back())))
            throw ArgumentError(
                at + "the quotes of " + quoted(value) + " do not match (a \"#\" ends the value, even in quotes)");
        if (option->get_expected_max() == 0 && value != "true" && value != "false")
            throw ArgumentError(at + key + " must be true or false, not " + quoted(value));
        // "bleed" and "no-bleed" set one option.
        if (const auto [first, added] = set.emplace(option, found == lines_.end() ? 0 : found->second); !added)
            throw ArgumentError(at + quoted(key) + " sets " + option->get_name() + " again, first set on line " +
                std::to_string(first->second));
        if (option->count() > 0)
            continue;  // the command line's value wins
        taken_.emplace(option->get_name(), set[option]);
        summary_.push_back(value == "true" ? key : key + " = " + value);
    }
    in.clear();
    in.seekg(0);
    try {
        app.parse_from_stream(in);
    } catch (const CLI::ParseError& e) {
        throw ArgumentError(at(0) + e.what());
    }
}

std::string SettingsFile::where(const std::string& option) const
{
    const auto found = taken_.find(option);
    return found == taken_.end() ? std::string() : at(found->second);
}

std::string SettingsFile::resolved(const std::string& path) const
{
    if (path.empty() || path.front() == '/')
        return path;
    return path_.substr(0, path_.rfind('/') + 1) + path;
}

std::string SettingsFile::summaryLine() const
{
    if (summary_.empty())
        return {};
    // Quoted only where the path needs it to stay on one line.
    const std::string shown = quoted(path_) == '"' + path_ + '"' ? path_ : quoted(path_);
    std::string line = "settings from " + shown + ":";
    for (std::size_t i = 0; i < summary_.size(); ++i)
        line += (i == 0 ? " " : ", ") + summary_[i];
    return line;
}

std::string SettingsFile::at(int line) const
{
    return quoted(path_) + (line > 0 ? ", line " + std::to_string(line) : std::string()) + ": ";
}

}  // namespace vintrix
