#include "options.h"

#include "error.h"
#include "utf8.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace vintrix {
namespace {

constexpr int kMaxSide = 65536;

bool parseInt(const std::string& text, long long& value)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc{} && ptr == end && !text.empty();
}

void checkSide(const char* what, const std::string& text, int& out)
{
    long long v = 0;
    if (!parseInt(text, v) || v < 1 || v > kMaxSide)
        throw ArgumentError(std::string(what) + " must be a whole number from 1 to 65536, not " + quoted(text));
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
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        throw ArgumentError("name must not contain control characters, not " + quoted(name));
    if (name.size() > 200)
        throw ArgumentError("name must be at most 200 bytes long");
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

// BMP stores its file size in 32 bits.
void checkBmpSize(const Options& o)
{
    const std::uint64_t stride = (std::uint64_t{static_cast<unsigned>(o.width)} * (o.bitsPerPixel / 8) + 3) / 4 * 4;
    const std::uint64_t total = 14 + 124 + 256 * 4 + stride * static_cast<unsigned>(o.height);
    if (total > 0xFFFFFFFFull)
        throw ArgumentError("a " + std::to_string(o.width) + "x" + std::to_string(o.height) + " BMP sheet at " +
            std::to_string(o.bitsPerPixel) +
            " bits per pixel would exceed the 4 GiB a BMP file can hold: " + "use PNG (format 1) or a smaller sheet");
}

}  // namespace

std::string usageText()
{
    return "Usage: Vintrix WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER\n"
           "       Vintrix --help | --version\n"
           "\n"
           "Packs every image directly in FOLDER (PNG, BMP, JPEG, GIF, WebP, TGA, TIFF)\n"
           "into sheets of WIDTH x HEIGHT pixels and writes them with their atlas data\n"
           "(JSON hash) into the folder Output of the current directory:\n"
           "  Output/NAME.png, Output/NAME.json, then NAME-2.png, NAME-2.json, ...\n"
           "Output/NAME.json lists the other data files under meta.related_multi_packs.\n"
           "\n"
           "  WIDTH, HEIGHT  sheet size in pixels, 1 to 65536\n"
           "  NAME           output file name without extension\n"
           "  BPP            32 (RGBA) or 8 (one palette of up to 256 colours per sheet;\n"
           "                 palette entry 0 is transparent, magenta #FF00FF in BMP)\n"
           "  FORMAT         0 = BMP, 1 = PNG\n"
           "  MARGIN         empty pixels between images and along the sheet's edges\n"
           "  FOLDER         the folder of images\n"
           "\n"
           "Decoded images may take 1024 MiB together; VINTRIX_IMAGE_MEMORY_MIB in the\n"
           "environment sets another budget in MiB.\n"
           "\n"
           "Exit status: 0 done, 2 bad arguments, 3 bad input images,\n"
           "             4 output could not be written.\n";
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))
        return ShowHelp{};
    if (args.size() == 1 && args[0] == "--version")
        return ShowVersion{};
    if (args.size() == 6)
        throw ArgumentError("no images folder given: choose one in the folder list");
    if (args.size() != 7)
        throw ArgumentError("expected 7 arguments, WIDTH HEIGHT NAME BPP FORMAT MARGIN FOLDER, got " +
            std::to_string(args.size()) + " (see Vintrix --help)");

    Options o;
    checkSide("width", args[0], o.width);
    checkSide("height", args[1], o.height);
    checkName(args[2]);
    o.name = args[2];

    long long v = 0;
    if (!parseInt(args[3], v) || (v != 8 && v != 32))
        throw ArgumentError("bits per pixel must be 8 or 32, not " + quoted(args[3]));
    o.bitsPerPixel = static_cast<int>(v);
    if (!parseInt(args[4], v) || (v != 0 && v != 1))
        throw ArgumentError("format must be 0 (BMP) or 1 (PNG), not " + quoted(args[4]));
    o.format = v == 0 ? ImageFormat::Bmp : ImageFormat::Png;

    // At least one pixel must stay free for an image inside the margins.
    const long long maxMargin = (std::min(o.width, o.height) - 1) / 2;
    if (!parseInt(args[5], v) || v < 0 || v > maxMargin)
        throw ArgumentError("margin must be a whole number from 0 to " + std::to_string(maxMargin) + " for a " +
            std::to_string(o.width) + "x" + std::to_string(o.height) + " sheet, not " + quoted(args[5]));
    o.margin = static_cast<int>(v);

    checkFolder(args[6]);
    o.folder = args[6];

    if (o.format == ImageFormat::Bmp)
        checkBmpSize(o);
    return o;
}

}  // namespace vintrix
