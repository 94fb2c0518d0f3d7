#include "options.h"

#include "error.h"
#include "settings_file.h"
#include "utf8.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <numeric>
#include <optional>
#include <system_error>

#include <unistd.h>

namespace vintrix {
namespace {

bool hasControlCharacter(const std::string& text)
{
    return std::any_of(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool parseInt(const std::string& text, long long& value)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc{} && ptr == end && !text.empty();
}

void checkSide(const char* what, const std::string& text, int& out)
{
    long long v = 0;
    if (!parseInt(text, v) || v < kMinSheetSide || v > kMaxSheetSide)
        throw ArgumentError(std::string(what) + " must be a whole number from " + std::to_string(kMinSheetSide) +
            " to " + std::to_string(kMaxSheetSide) + ", not " + quoted(text));
    out = static_cast<int>(v);
}

void checkName(const std::string& name)
{
    if (name.empty())
        throw ArgumentError("name must not be empty");
    if (name == "." || name == "..")
        throw ArgumentError("name must be a plain file name, not " + quoted(name));
    if (name.find('/') != std::string::npos)
        throw ArgumentError("name must be a plain file name without \"/\", not " + quoted(name));
    if (name.find('\0') != std::string::npos)
        throw ArgumentError("name must not contain a NUL character");
    if (!isUtf8(name))
        throw ArgumentError("name must be valid UTF-8, not " + quoted(name));
    // The output files are named after it, and messages name them.
    if (hasControlCharacter(name))
        throw ArgumentError("name must not contain control characters, not " + quoted(name));
    if (name.size() > kMaxNameBytes)
        throw ArgumentError("name must be at most " + std::to_string(kMaxNameBytes) + " bytes long");
}

void checkFolder(const std::string& folder)
{
    if (folder.empty())
        throw ArgumentError("images folder must not be empty");
    std::error_code ec;
    const auto status = std::filesystem::status(folder, ec);
    if (ec || !std::filesystem::exists(status))
        throw ArgumentError("images folder " + quoted(folder) + " does not exist");
    if (!std::filesystem::is_directory(status))
        throw ArgumentError("images folder " + quoted(folder) + " is not a folder");
    if (::access(folder.c_str(), R_OK | X_OK) != 0)
        throw ArgumentError("images folder " + quoted(folder) + " cannot be read");
}

// The named options as the command line gives them; numbers and choices
// are checked afterwards, with messages like those of the arguments.
struct Named {
    bool help = false, version = false;
    std::string output, data, trimThreshold, extrude, pngLevel, maxSheets, depfile;
    std::string config;
    std::vector<std::string> variants;
    bool noConfig = false;
    Options flags;  // the options without a value, the rest at their defaults
};

void defineOptions(CLI::App& app, Named& n)
{
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("-h,--help", n.help, "print this help and exit")->configurable(false);
    app.add_flag("--version", n.version, "print the version and exit")->configurable(false);
    app.add_option("-o,--output", n.output, "write into DIR instead of ./Output")->type_name("DIR");
    app.add_option("--data", n.data, "the atlas data's format (above)")->type_name("FORMAT");
    app.add_flag("--strip-extensions", n.flags.stripExtensions, "name frames without their file extension");
    app.add_flag("--recursive", n.flags.recursive, "read subfolders too, naming frames with their path");
    app.add_flag("--animations", n.flags.animations, "group numbered frames (walk_1, walk_2) into animations");
    app.add_flag("--trim", n.flags.trim, "cut transparent borders off each image");
    app.add_option("--trim-threshold", n.trimThreshold, "with --trim, alpha N or less is transparent (0-254)")
        ->type_name("N");
    app.add_option("--extrude", n.extrude, "repeat edge pixels N times around images, in the margin")->type_name("N");
    app.add_flag("--bleed,!--no-bleed", n.flags.bleed, "give transparent pixels their neighbours' colour");
    app.add_flag("--rotate", n.flags.rotate, "turn images 90 degrees where that packs denser");
    app.add_flag("--pot", n.flags.pot, "sheet sides are powers of two");
    app.add_flag("--shrink", n.flags.shrink, "last sheet on the smallest size that holds it, others cropped");
    app.add_flag("--premultiply", n.flags.premultiply, "store colours premultiplied by alpha");
    app.add_option("--png-level", n.pngLevel, "PNG compression, 1 (fast) to 12 (smallest); 7 by default")
        ->type_name("N");
    app.add_option("--max-sheets", n.maxSheets, "fail, writing nothing, when the images need more than N sheets")
        ->type_name("N");
    app.add_option("--depfile", n.depfile, "write FILE, the output's dependencies in Make's syntax")->type_name("FILE");
    app.add_flag("--watch", n.flags.watch, "after the run, run again whenever FOLDER changes, until stopped")
        ->configurable(false);
    app.add_option("--variant", n.variants, "write the layout at SCALE as NAME+SUFFIX; repeatable, largest first")
        ->type_name("SCALE[:SUFFIX]")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->configurable(false);
    app.add_option("--config", n.config, "read the settings from FILE, not from FOLDER/vintrix.toml")
        ->type_name("FILE")
        ->configurable(false);
    app.add_flag("--no-config", n.noConfig, "read no settings file")->configurable(false);
}

// Lists "--bleed,--no-bleed" without CLI11's note of the flag's value.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* option, bool positional) const override
    {
        const std::string names = Formatter::make_option_name(option, positional);
        return names.substr(0, names.find('{'));
    }
};

bool looksLikeOption(const std::string& arg)
{
    return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

// The option an argument names: "--data", "--data=x", "-o", "-oDIR".
const CLI::Option* optionOf(const CLI::App& app, const std::string& arg)
{
    if (arg.starts_with("--"))
        return app.get_option_no_throw(arg.substr(0, arg.find('=')));
    return app.get_option_no_throw(arg.substr(0, 2));
}

// Splits the arguments into positional ones and named options with their
// values. The third and the seventh positional argument, NAME and FOLDER,
// are taken whatever they look like; "--" ends the options.
void splitArguments(const CLI::App& app, const std::vector<std::string>& args, std::vector<std::string>& positional,
    std::vector<std::string>& named)
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool verbatim = positional.size() == 2 || positional.size() == 6;
        if (optionsEnded || verbatim || !looksLikeOption(arg)) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const CLI::Option* option = optionOf(app, arg);
        if (!option)
            throw ArgumentError("unknown option " + quoted(arg) + " (see Vintrix --help)");
        named.push_back(arg);
        const bool valueAttached = arg.starts_with("--") ? arg.find('=') != std::string::npos : arg.size() > 2;
        if (valueAttached && arg.back() == '=')
            throw ArgumentError(option->get_name() + " needs a value (see Vintrix --help)");
        if (valueAttached && option->get_expected_max() == 0)
            throw ArgumentError(option->get_name() + " takes no value (see Vintrix --help)");
        if (option->get_expected_max() > 0 && !valueAttached) {
            if (i + 1 == args.size())
                throw ArgumentError(option->get_name() + " needs a value (see Vintrix --help)");
            named.push_back(args[++i]);
        }
    }
}

// An option just before NAME or FOLDER is taken as that argument, and the
// count comes out wrong: the note that says so, or nothing.
std::string misplacedOption(const std::vector<std::string>& positional)
{
    const std::pair<std::size_t, const char*> verbatim[] = {{2, "third argument is NAME"}, {6, "seventh is FOLDER"}};
    for (const auto& [at, what] : verbatim)
        if (at < positional.size() && looksLikeOption(positional[at]))
            return ": " + quoted(positional[at]) + " looks misplaced, as the " + what +
                " whatever it looks like; move the option";
    return {};
}

int checkedNumber(const std::string& what, const std::string& text, int low, int high)
{
    long long v = 0;
    if (!parseInt(text, v) || v < low || v > high)
        throw ArgumentError(what + " must be a whole number from " + std::to_string(low) + " to " +
            std::to_string(high) + ", not " + quoted(text));
    return static_cast<int>(v);
}

// "SCALE[:SUFFIX]": a scale above 0 and at most 1 written with at most three
// decimals, and a suffix that makes a plain file name of NAME.
Variant parseVariant(const std::string& text, const std::string& name)
{
    const std::size_t colon = text.find(':');
    const std::string scale = text.substr(0, colon);
    Variant v;
    v.suffix = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    const std::size_t dot = scale.find('.');
    const std::string whole = scale.substr(0, dot), decimals = dot == std::string::npos ? "" : scale.substr(dot + 1);
    const auto digits = [](const std::string& t) {
        return !t.empty() && t.size() <= 3 &&
            std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    long long w = 0, d = 0;
    if (!digits(whole) || (dot != std::string::npos && !digits(decimals)) || !parseInt(whole, w) ||
        (!decimals.empty() && !parseInt(decimals, d)))
        throw ArgumentError("--variant scale must be a number above 0 and at most 1 with at most three decimals, "
                            "such as 0.5, not " +
            quoted(scale));
    int denominator = 1;
    for (std::size_t i = 0; i < decimals.size(); ++i)
        denominator *= 10;
    const int numerator = static_cast<int>(w) * denominator + static_cast<int>(d);
    if (numerator == 0 || numerator > denominator)
        throw ArgumentError(
            "--variant scale must be above 0 and at most 1 (the images' own size), not " + quoted(scale));
    const int common = std::gcd(numerator, denominator);
    v.numerator = numerator / common;
    v.denominator = denominator / common;
    v.scale = std::to_string(v.numerator / v.denominator);
    if (v.numerator < v.denominator) {
        std::string fraction = std::to_string(1000 + 1000 * v.numerator / v.denominator).substr(1);
        v.scale += "." + fraction.substr(0, fraction.find_last_not_of('0') + 1);
    }
    // NAME+SUFFIX-2 must never be another variant's NAME+SUFFIX.
    const std::size_t dash = v.suffix.find_last_of('-');
    if (v.suffix.find('/') != std::string::npos || hasControlCharacter(v.suffix) || !isUtf8(v.suffix) ||
        (dash != std::string::npos && dash + 1 < v.suffix.size() &&
            v.suffix.find_first_not_of("0123456789", dash + 1) == std::string::npos))
        throw ArgumentError("--variant suffix must be text without \"/\" or control characters that does not end in "
                            "\"-\" and a number (the sheets' own numbering), not " +
            vintrix::quoted(v.suffix));
    if (name.size() + v.suffix.size() > kMaxNameBytes)
        throw ArgumentError("--variant suffix " + vintrix::quoted(v.suffix) + " makes a name longer than " +
            std::to_string(kMaxNameBytes) + " bytes");
    return v;
}

// The named options that take a value; the flags are already in `o`. A
// fault in a value from the settings file names its line.
void applyNamed(const Named& n, CLI::App& app, Options& o, const SettingsFile* file)
{
    const auto at = [&](const char* option) { return file ? file->where(option) : std::string(); };
    if (app.count("--output")) {
        if (n.output.empty())
            throw ArgumentError(at("--output") + "output folder must not be empty");
        if (hasControlCharacter(n.output))
            throw ArgumentError(
                at("--output") + "output folder must not contain control characters, not " + quoted(n.output));
        const std::string output = file && file->sets("--output") ? file->resolved(n.output) : n.output;
        const std::size_t end = output.find_last_not_of('/');
        o.outputFolder = end == std::string::npos ? "/" : output.substr(0, end + 1);
    }
    if (app.count("--data")) {
        o.data = dataFormatNamed(n.data);
        if (!o.data)
            throw ArgumentError(at("--data") + "data format must be " + dataFormatNames() + ", not " + quoted(n.data));
    }
    if (app.count("--trim-threshold")) {
        if (!o.trim)
            throw ArgumentError(at("--trim-threshold") + "--trim-threshold needs --trim");
        o.trimThreshold = checkedNumber(at("--trim-threshold") + "trim threshold", n.trimThreshold, 0, 254);
    }
    if (app.count("--extrude"))
        o.extrude = checkedNumber(at("--extrude") + "extrusion", n.extrude, 0, 255);
    if (app.count("--png-level"))
        o.pngLevel = checkedNumber(at("--png-level") + "PNG level", n.pngLevel, 1, 12);
    if (app.count("--max-sheets"))
        o.maxSheets = checkedNumber(at("--max-sheets") + "--max-sheets", n.maxSheets, 1, 1000000);
    if (app.count("--depfile")) {
        if (n.depfile.empty() || n.depfile.back() == '/')
            throw ArgumentError(at("--depfile") + "--depfile needs a file name, not " + quoted(n.depfile));
        if (hasControlCharacter(n.depfile))
            throw ArgumentError(
                at("--depfile") + "--depfile must not contain control characters, not " + quoted(n.depfile));
        o.depfile = file && file->sets("--depfile") ? file->resolved(n.depfile) : n.depfile;
    }
    for (const std::string& text : n.variants) {
        Variant v = parseVariant(text, o.name);
        for (const Variant& other : o.variants)
            if (other.suffix == v.suffix)
                throw ArgumentError("--variant " + other.scale + " and " + v.scale + " both have the suffix " +
                    vintrix::quoted(v.suffix) + ": their files would have the same names");
        if (!o.variants.empty() &&
            std::int64_t{v.numerator} * o.variants[0].denominator >
                std::int64_t{o.variants[0].numerator} * v.denominator)
            throw ArgumentError("--variant " + v.scale + " is larger than the first, " + o.variants[0].scale +
                ": list the largest variant first, as its layout is the one the others scale");
        const int unit = std::lcm(v.denominator, o.variants.empty() ? 1 : variantUnit(o));
        if (unit > kMaxVariantUnit)
            throw ArgumentError("--variant " + v.scale + " and the variants before it need sprites and margins " +
                "padded to a multiple of " + std::to_string(unit) + " pixels, more than " +
                std::to_string(kMaxVariantUnit));
        o.variants.push_back(std::move(v));
    }
}

// A line for each data format, its name in a column as wide as the
// arguments'.
std::string dataFormatHelp()
{
    std::string lines;
    for (const DataFormat& f : dataFormats()) {
        const std::string name(f.name);
        lines += "  " + name + std::string(name.size() < 15 ? 15 - name.size() : 1, ' ') + std::string(f.help) + "\n";
    }
    return lines;
}

}  // namespace

int variantUnit(const Options& o)
{
    int unit = 1;
    for (const Variant& v : o.variants)
        unit = std::lcm(unit, v.denominator);
    return unit;
}

std::string usageText()
{
    CLI::App app;
    Named n;
    defineOptions(app, n);
    HelpFormatter options;
    options.column_width(24);
    return "Usage: Vintrix WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER\n"
           "       Vintrix --help | --version\n"
           "\n"
           "Packs every image in FOLDER (PNG, BMP, JPEG, GIF, WebP, TGA, TIFF) into\n"
           "sheets of WIDTH x HEIGHT pixels and writes them with their atlas data\n"
           "into the folder Output of the current directory (or -o DIR):\n"
           "  Output/NAME.png, Output/NAME.json, then NAME-2.png, NAME-2.json, ...\n"
           "Output/NAME.json lists the other data files under meta.related_multi_packs.\n"
           "\n"
           "  WIDTH, HEIGHT  sheet size in pixels, 1 to 65536\n"
           "  NAME           output file name without extension\n"
           "  BPP            32 (RGBA) or 8 (one palette of up to 256 colours per sheet;\n"
           "                 palette entry 0 is transparent, magenta #FF00FF in BMP)\n"
           "  FORMAT         " +
        SheetFormatChoices() +
        "\n"
        "  MARGIN         empty pixels between images and along the sheet's edges\n"
        "  FOLDER         the folder of images\n"
        "\n"
        "Data formats (--data):\n" +
        dataFormatHelp() +
        "\n"
        "Options may come before, between or after the arguments; NAME and FOLDER\n"
        "are taken as they are, even when they begin with \"-\". \"--\" ends the options.\n"
        "\n"
        "Settings file: FOLDER/vintrix.toml, when it is there, sets named options by\n"
        "their long names, one a line (trim = true, data = \"phaser3\", extrude = 1,\n"
        "output = \"../atlases\", a path relative to the file's folder); an option on\n"
        "the command line wins over the file. --config FILE reads FILE instead.\n"
        "Tables after them set sprites' pivots and nine-slices by file name:\n"
        "  [sprites.\"hero_*.png\"]  pivot = [0.5, 1.0]  nine-slice = [4, 4, 4, 4]\n"
        "(fractions of the image; pixels left, top, right, bottom). A NAME.9.png\n"
        "is packed without its nine-patch guides, which give its nine-slice.\n" +
        options.make_groups(&app, CLI::AppFormatMode::Normal) +
        "\n"
        "Decoded images may take 1024 MiB together; VINTRIX_IMAGE_MEMORY_MIB in the\n"
        "environment sets another budget in MiB.\n"
        "\n"
        "Exit status: 0 done, 2 bad arguments, 3 bad input images,\n"
        "             4 output could not be written, 5 superseded: a run of NAME\n"
        "             started later put its output in place first.\n";
}

std::vector<std::string> optionsTakingValues()
{
    CLI::App app;
    Named n;
    defineOptions(app, n);
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options())
        if (option->get_expected_min() > 0)
            for (const std::vector<std::string>* list : {&option->get_snames(), &option->get_lnames()})
                for (const std::string& name : *list)
                    names.push_back((list == &option->get_snames() ? "-" : "--") + name);
    return names;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args)
{
    CLI::App app;
    Named n;
    defineOptions(app, n);
    std::vector<std::string> positional, named;
    splitArguments(app, args, positional, named);
    try {
        std::reverse(named.begin(), named.end());  // the order CLI11 takes them in
        app.parse(named);
    } catch (const CLI::ParseError& e) {
        throw ArgumentError(std::string(e.what()) + " (see Vintrix --help)");
    }
    if (n.help)
        return ShowHelp{};
    if (n.version)
        return ShowVersion{};

    if (positional.size() == kArgumentCount - 1)
        throw ArgumentError("no images folder given: choose one in the folder list");
    if (positional.size() != kArgumentCount)
        throw ArgumentError("expected 7 arguments, WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER, got " +
            std::to_string(positional.size()) + misplacedOption(positional) + " (see Vintrix --help)");
    const auto arg = [&positional](
                         Argument which) -> const std::string& { return positional[static_cast<std::size_t>(which)]; };

    // The settings file fills in the named options the command line leaves out.
    std::optional<SettingsFile> settings;
    const bool asked = app.count("--config") > 0;
    if (asked && n.noConfig)
        throw ArgumentError("--config and --no-config cannot go together");
    if (!n.noConfig) {
        const std::string& folder = arg(Argument::Folder);
        settings = SettingsFile::read(
            asked ? n.config : folder + (folder.ends_with('/') ? "" : "/") + kSettingsFileName, asked);
        if (settings)
            settings->applyTo(app);
    }

    Options o = n.flags;
    checkSide("width", arg(Argument::Width), o.width);
    checkSide("height", arg(Argument::Height), o.height);
    checkName(arg(Argument::Name));
    o.name = arg(Argument::Name);

    long long v = 0;
    const auto depth = parseInt(arg(Argument::BitsPerPixel), v) ? BitDepthFromCode(v) : std::nullopt;
    if (!depth)
        throw ArgumentError("bits per pixel must be 8 or 32, not " + quoted(arg(Argument::BitsPerPixel)));
    o.bitDepth = *depth;
    const auto format = parseInt(arg(Argument::Format), v) ? FormatFromCode(v) : std::nullopt;
    if (!format)
        throw ArgumentError("format must be " + SheetFormatChoices() + ", not " + quoted(arg(Argument::Format)));
    o.format = *format;

    // At least one pixel must stay free for an image inside the margins.
    const long long maxMargin = (std::min(o.width, o.height) - 1) / 2;
    if (!parseInt(arg(Argument::Margin), v) || v < 0 || v > maxMargin)
        throw ArgumentError("margin must be a whole number from 0 to " + std::to_string(maxMargin) + " for a " +
            std::to_string(o.width) + "x" + std::to_string(o.height) + " sheet, not " + quoted(arg(Argument::Margin)));
    o.margin = static_cast<int>(v);

    checkFolder(arg(Argument::Folder));
    o.folder = arg(Argument::Folder);

    if (const std::string why = sheetWriter(o.format).tooLarge(o.width, o.height, o.bitDepth); !why.empty())
        throw ArgumentError(why);
    applyNamed(n, app, o, settings ? &*settings : nullptr);
    if (settings) {
        o.fromSettingsFile = settings->summaryLine();
        o.settingsFile = settings->path();
        o.spriteSettings = settings->sprites();
    }
    return o;
}

}  // namespace vintrix
