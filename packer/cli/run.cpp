#include "run.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <ostream>
#include <string_view>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "atlas_data.h"
#include "data_formats.h"
#include "decoders.h"
#include "depfile.h"
#include "duplicates.h"
#include "error.h"
#include "file.h"
#include "image_files.h"
#include "images.h"
#include "maxrects.h"
#include "nine_patch.h"
#include "output_files.h"
#include "pixels.h"
#include "progress.h"
#include "sheet_writer.h"
#include "smallest_sheet.h"
#include "sprite_marks.h"
#include "utf8.h"
#include "workers.h"

namespace vintrix {
namespace {

int workerThreads()
{
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

class StderrMuted {
public:
    StderrMuted()
    {
        std::fflush(stderr);
        saved_.reset(::dup(STDERR_FILENO));
        const UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        if (saved_ && null && ::dup2(null.get(), STDERR_FILENO) < 0)
            saved_.reset();  // stderr stays as it was
    }
    ~StderrMuted()
    {
        if (saved_)
            ::dup2(saved_.get(), STDERR_FILENO);
    }
    StderrMuted(const StderrMuted&) = delete;
    StderrMuted& operator=(const StderrMuted&) = delete;

private:
    UniqueFd saved_;
};

std::string percent(double fraction)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%", fraction * 100.0);
    return buf;
}

// The frames of every sheet: each input placed on it, each duplicate under
// its own name, in the order of the names.
std::vector<AtlasSheet> atlasSheets(const Options& o, const std::string& name, const std::string& ext,
    const std::vector<std::string>& keys, const UniqueImages& unique, const std::vector<TrimBox>& trims,
    const std::vector<SpriteMarks>& marks, const std::vector<Size>& sizes, const Layout& layout,
    const std::vector<Size>& sheetSizes)
{
    std::vector<AtlasSheet> sheets(static_cast<std::size_t>(layout.sheets));
    for (std::size_t s = 0; s < sheets.size(); ++s)
        sheets[s].meta = {VINTRIX_VERSION, sheetBase(name, static_cast<int>(s)) + ext,
            o.bitDepth == BitDepth::Indexed8 ? "INDEXED8" : "RGBA8888", sheetSizes[s].w, sheetSizes[s].h, {},
            o.premultiply};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::size_t u = unique.uniqueOf[i];
        const Placement& p = layout.placements[u];
        AtlasFrame f;
        f.name = keys[i];
        f.x = p.x;
        f.y = p.y;
        f.w = sizes[u].w;
        f.h = sizes[u].h;
        f.rotated = p.rotated;
        f.trimmed = trims[i].source != sizes[u];
        f.sourceX = trims[i].x;
        f.sourceY = trims[i].y;
        f.sourceW = trims[i].source.w;
        f.sourceH = trims[i].source.h;
        f.pivot = marks[i].pivot;
        f.nineSlice = marks[i].nineSlice;
        f.padding = marks[i].padding;
        sheets[static_cast<std::size_t>(p.sheet)].frames.push_back(std::move(f));
    }
    return sheets;
}

// One output of the layout: NAME+SUFFIX at the variant's scale.
struct VariantOutput {
    Variant variant;
    std::string name;
    Layout layout;
    std::vector<Size> sheets;
    std::vector<DataFile> data;

    int scaled(int n) const { return static_cast<int>(std::int64_t{n} * variant.numerator / variant.denominator); }
    int rounded(int n) const
    {
        return static_cast<int>(
            (std::int64_t{n} * variant.numerator * 2 + variant.denominator) / (2 * variant.denominator));
    }
};

// The variants asked for, or the images at their own size under NAME.
std::vector<Variant> variantsOf(const Options& o)
{
    return o.variants.empty() ? std::vector<Variant>{Variant{}} : o.variants;
}

// Every place, size and margin of the layout is a multiple of the variants'
// unit, so each scales to whole pixels; a sheet's side may not be, and is
// rounded down past the margin after the last image.
VariantOutput scaledOutput(const Variant& v, const Options& o, const Layout& layout, const std::vector<Size>& sheets)
{
    VariantOutput out{v, o.name + v.suffix, layout, sheets, {}};
    for (Placement& p : out.layout.placements)
        p = {p.sheet, out.scaled(p.x), out.scaled(p.y), p.rotated};
    for (std::int64_t& area : out.layout.usedArea)
        area = area * v.numerator * v.numerator / (std::int64_t{v.denominator} * v.denominator);
    for (Size& size : out.sheets)
        size = {std::max(1, out.scaled(size.w)), std::max(1, out.scaled(size.h))};
    return out;
}

void scaleFrames(std::vector<AtlasSheet>& sheets, const VariantOutput& out)
{
    for (std::size_t s = 0; s < sheets.size(); ++s) {
        AtlasSheet& sheet = sheets[s];
        sheet.meta.scale = out.variant.scale;
        sheet.meta.w = out.sheets[s].w;
        sheet.meta.h = out.sheets[s].h;
        for (AtlasFrame& f : sheet.frames) {
            for (int* n : {&f.x, &f.y, &f.w, &f.h, &f.sourceX, &f.sourceY, &f.sourceW, &f.sourceH})
                *n = out.scaled(*n);
            // Borders need not be multiples of the unit: the nearest pixel.
            for (std::optional<Borders>* borders : {&f.nineSlice, &f.padding})
                if (*borders)
                    for (int* n : {&(*borders)->left, &(*borders)->top, &(*borders)->right, &(*borders)->bottom})
                        *n = out.rounded(*n);
        }
    }
}

// A folder of data files is named as the folder.
std::string wayInOf(const VariantOutput& v)
{
    const std::string& wayIn = v.data.back().name;
    const std::size_t slash = wayIn.find('/');
    return slash == std::string::npos ? wayIn : wayIn.substr(0, slash + 1);
}

void printSummary(std::ostream& out, const Options& o, const std::string& ext, std::size_t images,
    std::size_t uniqueImages, const std::vector<VariantOutput>& variants, bool unchanged)
{
    const Layout& layout = variants[0].layout;
    const std::vector<Size>& sheets = variants[0].sheets;
    std::int64_t total = 0, totalArea = 0;
    Size largest;
    bool allAlike = true;
    for (std::size_t s = 0; s < sheets.size(); ++s) {
        total += layout.usedArea[s];
        totalArea += std::int64_t{sheets[s].w} * sheets[s].h;
        largest = {std::max(largest.w, sheets[s].w), std::max(largest.h, sheets[s].h)};
        allAlike = allAlike && sheets[s] == sheets[0];
    }
    const double firstArea = static_cast<double>(sheets[0].w) * sheets[0].h;
    const std::string dir = o.outputFolder == "/" ? "/" : o.outputFolder + "/";
    out << "packed " << images << " image" << (images == 1 ? "" : "s");
    if (uniqueImages != images)
        out << " (" << uniqueImages << " unique)";
    out << " into " << layout.sheets << " sheet" << (layout.sheets == 1 ? "" : "s")
        << (allAlike ? " of " : " of up to ") << largest.w << "x" << largest.h;
    if (layout.sheets == 1)
        out << " (" << percent(static_cast<double>(layout.usedArea[0]) / firstArea) << " full)";
    else
        out << " (first " << percent(static_cast<double>(layout.usedArea[0]) / firstArea) << " full, "
            << percent(static_cast<double>(total) / static_cast<double>(totalArea)) << " overall)";
    for (std::size_t v = 0; v < variants.size(); ++v) {
        const std::string& name = variants[v].name;
        if (v == 0)
            out << (unchanged ? ", unchanged: " : ": ");
        else
            out << "at scale " << variants[v].variant.scale << ": ";
        out << dir << name << ext;
        if (layout.sheets > 1)
            out << " to " << dir << sheetBase(name, layout.sheets - 1) << ext;
        out << " with atlas data " << dir << wayInOf(variants[v]) << "\n";
    }
    if (!o.fromSettingsFile.empty())
        out << o.fromSettingsFile << "\n";
}

bool isPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

int powerOfTwoAtLeast(int n)
{
    int p = 1;
    while (p < n)
        p *= 2;
    return p;
}

// The options that only make sense together, checked before any image is read.
void checkPixelOptions(const Options& o)
{
    if (o.pot && !(isPowerOfTwo(o.width) && isPowerOfTwo(o.height)))
        throw ArgumentError("--pot needs a sheet width and height that are powers of two, not " +
            std::to_string(o.width) + "x" + std::to_string(o.height));
    const auto refuse = [&](const char* option, std::string_view why) {
        throw ArgumentError(
            "--data " + std::string(o.data->name) + " cannot go with " + option + ": " + std::string(why));
    };
    if (o.trim && !o.data->withoutTrim.empty())
        refuse("--trim", o.data->withoutTrim);
    if (o.rotate && !o.data->withoutRotation.empty())
        refuse("--rotate", o.data->withoutRotation);
    if (o.premultiply && !o.data->withoutPremultiplied.empty())
        refuse("--premultiply", o.data->withoutPremultiplied);
    if (o.format == FormatCode::Bmp && o.bitDepth == BitDepth::Indexed8 && !o.data->withoutColourKey.empty())
        refuse("an 8-bit BMP sheet", o.data->withoutColourKey);
    if (std::int64_t{o.extrude} * 2 > o.margin)
        throw ArgumentError("--extrude " + std::to_string(o.extrude) + " needs a margin of at least " +
            std::to_string(std::int64_t{o.extrude} * 2) + ", room for the extruded edges of two neighbours, not " +
            std::to_string(o.margin));
}

// Each sheet's size: the one given, or with --shrink the box around its
// images and the margin to their right and below, rounded up to a power of
// two with --pot; and the last sheet, which holds what the others left,
// laid out again on the smallest sheet that holds its images, where that
// is smaller.
std::vector<Size> sheetSizes(const Options& o, Layout& layout, const std::vector<Size>& sizes, int threads)
{
    std::vector<Size> sheets(static_cast<std::size_t>(layout.sheets), Size{o.width, o.height});
    if (!o.shrink)
        return sheets;
    std::vector<Size> used(sheets.size());
    for (std::size_t u = 0; u < sizes.size(); ++u) {
        const Placement& p = layout.placements[u];
        const Size placed = placedSize(sizes[u], p);
        Size& box = used[static_cast<std::size_t>(p.sheet)];
        box = {std::max(box.w, p.x + placed.w + o.margin), std::max(box.h, p.y + placed.h + o.margin)};
    }
    for (std::size_t s = 0; s < sheets.size(); ++s)
        sheets[s] = o.pot ? Size{powerOfTwoAtLeast(used[s].w), powerOfTwoAtLeast(used[s].h)} : used[s];

    const int last = layout.sheets - 1;
    std::vector<std::size_t> onLast;
    std::vector<Size> lastSizes;
    for (std::size_t u = 0; u < sizes.size(); ++u)
        if (layout.placements[u].sheet == last) {
            onLast.push_back(u);
            lastSizes.push_back(sizes[u]);
        }
    const auto smallest = smallestSheet(
        lastSizes, {o.width, o.height}, o.margin, o.pot, threads, o.rotate ? Rotation::Allowed : Rotation::Never);
    if (smallest && smallerSheet(smallest->sheet, sheets.back())) {
        sheets.back() = smallest->sheet;
        for (std::size_t k = 0; k < onLast.size(); ++k)
            layout.placements[onLast[k]] = {
                last, smallest->placements[k].x, smallest->placements[k].y, smallest->placements[k].rotated};
    }
    return sheets;
}

// Most GPUs load textures of up to 16384 pixels on a side, many only up to
// 8192: one line for the largest sheet past either.
void warnOfLargeSheets(std::ostream& err, const Options& o, const std::string& name, const std::string& ext,
    const std::vector<Size>& sheets)
{
    std::size_t largest = 0;
    for (std::size_t s = 1; s < sheets.size(); ++s)
        if (std::max(sheets[s].w, sheets[s].h) > std::max(sheets[largest].w, sheets[largest].h))
            largest = s;
    const int side = std::max(sheets[largest].w, sheets[largest].h);
    if (side <= 8192)
        return;
    err << "warning: " << (o.outputFolder == "/" ? "" : o.outputFolder) << "/"
        << sheetBase(name, static_cast<int>(largest)) << ext << " is " << sheets[largest].w << "x" << sheets[largest].h
        << " pixels, more than "
        << (side > 16384 ? "16384 on a side, which most GPUs cannot load\n"
                         : "8192 on a side, which many GPUs cannot load\n");
}

void warnOfSplitAnimations(std::ostream& err, const std::vector<std::string>& animations)
{
    if (animations.empty())
        return;
    const bool one = animations.size() == 1;
    err << "warning: " << (one ? "animation " : "animations ");
    for (std::size_t a = 0; a < animations.size(); ++a)
        err << (a ? ", " : "") << quoted(animations[a]);
    err << (one ? " is in no data file: its" : " are in no data file: their")
        << " frames lie on more than one sheet, and each file lists the animations of its own sheet\n";
}

// The budget for decoded images: kDefaultImageMemory, or the mebibytes the
// environment gives.
std::uint64_t imageMemory()
{
    const char* text = std::getenv(kImageMemoryVariable);
    if (!text || !*text)
        return kDefaultImageMemory;
    std::uint64_t mib = 0;
    const char* end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(text, end, mib);
    if (ec != std::errc{} || ptr != end || mib == 0 || mib > (std::uint64_t{1} << 40))
        throw ArgumentError(std::string(kImageMemoryVariable) + " must be a number of MiB from 1 to " +
            std::to_string(std::uint64_t{1} << 40) + ", not " + quoted(text));
    return mib << 20;
}

// Two files whose frames would share a name, as "a.png" and "a.bmp" do
// without their extensions, cannot both be in the atlas data.
void checkKeys(const std::vector<std::string>& names, const std::vector<std::string>& keys)
{
    std::map<std::string_view, std::size_t> first;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (const auto [it, added] = first.emplace(keys[i], i); !added)
            throw InputError(quoted(names[it->second]) + " and " + quoted(names[i]) + " would both be the frame " +
                quoted(keys[i]) + ": rename one of them");
}

// A run writing into the folder it reads would replace images with its
// sheets, and the next run would pack those sheets as images.
void checkFolders(const Options& o)
{
    const auto images = folderId(o.folder), output = folderId(o.outputFolder);
    if (images && output && *images == *output)
        throw ArgumentError("the images folder " + quoted(o.folder) + " is the output folder " + o.outputFolder +
            ": the sheets would replace images and later runs would pack the sheets; choose another images folder, "
            "or another output folder with -o");
}

// Whether `file` is named as the files of the output named `name` are:
// NAME.png, NAME-2.bmp, NAME.json, NAME.atlas, NAME.css, ...
bool namedAsOutputOf(const std::string& name, std::string_view file)
{
    if (!file.starts_with(name))
        return false;
    std::string_view rest = std::string_view(file).substr(name.size());
    if (rest.starts_with('-')) {
        const std::size_t digits = rest.find_first_not_of("0123456789", 1);
        if (digits == 1 || digits == std::string_view::npos)
            return false;
        rest.remove_prefix(digits);
    }
    return std::ranges::any_of(kSheetFormats, [&](const SheetFormat& f) { return rest == f.extension; }) ||
        isDataExtension(rest);
}

// ... or of any of its variants, NAME+SUFFIX.
bool namedAsOutputOf(const Options& o, const std::string& file)
{
    for (const Variant& v : variantsOf(o))
        if (namedAsOutputOf(o.name + v.suffix, file))
            return true;
    return false;
}

// An image that is a link to a file this run may replace or remove would be
// lost, and the next run would pack the sheet in its place.
void checkLinksToOutput(const Options& o, const std::vector<std::string>& names)
{
    const auto output = folderId(o.outputFolder);
    if (!output)
        return;
    for (const std::string& name : names) {
        const std::filesystem::path file = std::filesystem::path(o.folder) / name;
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec)))
            continue;
        const std::filesystem::path target = std::filesystem::canonical(file, ec);
        if (!ec && folderId(target.parent_path()) == output && namedAsOutputOf(o, target.filename()))
            throw ArgumentError(quoted(name) + " is a link to " + quoted(target.string()) + ", a file of the output " +
                "named " + quoted(o.name) + " in the output folder " + o.outputFolder +
                ": the run would replace it; copy the file or choose another name");
    }
}

// The image files of the images folder, after a warning naming the entries
// that were skipped.
std::vector<std::string> listImages(const Options& o, std::ostream& err, std::vector<std::string>& subfolders)
{
    std::vector<std::string> names, skipped;
    try {
        names = listImageFiles(o.folder, &skipped, o.recursive, folderId(o.outputFolder), &subfolders);
    } catch (const std::filesystem::filesystem_error& e) {
        throw InputError("cannot list the images folder " + quoted(o.folder) + ": " + e.code().message());
    }
    if (!skipped.empty()) {
        err << "warning: skipped " << skipped.size() << (skipped.size() == 1 ? " entry" : " entries") << " of "
            << quoted(o.folder) << ":";
        for (std::size_t i = 0; i < skipped.size(); ++i)
            err << (i == 0 ? " " : ", ") << skipped[i];
        err << '\n';
    }
    if (names.empty())
        throw InputError("no images in " + quoted(o.folder) + " (looked for " + decoderNames() + " files)");
    // The atlas data keys frames by name, and JSON holds only Unicode text.
    for (const std::string& name : names)
        if (!isUtf8(name))
            throw InputError(quoted(name) + " has a file name that is not valid UTF-8, so the atlas data " +
                "cannot name it: rename the file");
    return names;
}

// The images as they go on the sheets: decoded, trimmed, folded where
// identical, bled or premultiplied.
struct Sprites {
    std::vector<Image> images;   // in the order of the names
    std::vector<TrimBox> trims;  // where each image's pixels sit in its file's
    std::vector<SpriteMarks> marks;
    UniqueImages unique;
    std::vector<Size> sizes;  // of the unique images, in the order of unique.first
};

// Bleeding takes memory of its own for each image: as many images at once as
// what the decoded images leave of the budget holds, and at least one.
int bleedThreads(const Sprites& sprites, std::uint64_t memory, int threads)
{
    std::uint64_t decoded = 0, largest = 1;
    for (const Image& img : sprites.images)
        decoded += img.pixels.size();
    for (std::size_t i : sprites.unique.first)
        largest = std::max<std::uint64_t>(largest, bleedMemory({sprites.images[i].width, sprites.images[i].height}));
    const std::uint64_t spare = decoded < memory ? memory - decoded : 0;
    return static_cast<int>(std::clamp<std::uint64_t>(spare / largest, 1, static_cast<std::uint64_t>(threads)));
}

// Pads an image with transparent pixels so that its size and its place in
// the original, itself padded on the right and bottom, are multiples of
// `unit`; its pivot stays on the same pixel and its borders at the same
// edges.
void alignToUnit(Image& img, TrimBox& box, SpriteMarks& marks, int unit)
{
    const auto up = [unit](int n) { return (n + unit - 1) / unit * unit; };
    const int x = box.x / unit * unit, y = box.y / unit * unit;
    const Size canvas{up(box.x + img.width) - x, up(box.y + img.height) - y};
    if (canvas != Size{img.width, img.height})
        img = placedOn(img, canvas, box.x - x, box.y - y);
    const Size source = box.source;
    box = {x, y, {up(source.w), up(source.h)}};
    if (marks.pivot)
        marks.pivot = Pivot{marks.pivot->x * source.w / box.source.w, marks.pivot->y * source.h / box.source.h};
    for (std::optional<Borders>* borders : {&marks.nineSlice, &marks.padding})
        if (*borders) {
            (*borders)->right += box.source.w - source.w;
            (*borders)->bottom += box.source.h - source.h;
        }
}

Sprites readSprites(const Options& o, const std::vector<std::string>& names, std::vector<SpriteMarks> marks,
    std::uint64_t memory, int threads, Progress& progress)
{
    // Trimming or rotating may make an image fit that does not as it is, as
    // may cutting a nine-patch's guides off: it is checked once the layout
    // knows its size.
    const bool fitLater =
        o.trim || o.rotate || std::any_of(names.begin(), names.end(), [](const auto& n) { return isNinePatchName(n); });
    const Size decodeSheet =
        fitLater ? Size{std::numeric_limits<int>::max(), std::numeric_limits<int>::max()} : Size{o.width, o.height};
    DecodeResult decoded;
    {
        // Some decoders print their complaints straight to stderr; Vintrix
        // reports each failure itself, once.
        StderrMuted muted;
        decoded = decodeImages(
            o.folder, names, decodeSheet, fitLater ? 0 : o.margin, threads,
            [&](std::size_t d, std::size_t t) { progress.report(Stage::Reading, d, t); }, Hashes::Compute, memory);
    }

    Sprites sprites;
    sprites.images = std::move(decoded.images);
    for (std::size_t i : applyNinePatches(names, sprites.images, marks))
        decoded.hashes[i] = pixelHash(sprites.images[i]);
    sprites.marks = std::move(marks);
    // Trimmed images are compared as trimmed: two frames that differ only in
    // their transparent borders share one region and keep their own offsets.
    sprites.trims.resize(names.size());
    const int unit = variantUnit(o);
    forEachIndex(names.size(), threads, [&](std::size_t i) {
        Image& img = sprites.images[i];
        // A nine-slice's borders are the sprite's own edges.
        const bool trimming = o.trim && !sprites.marks[i].nineSlice;
        if (trimming)
            sprites.trims[i] = trim(img, o.trimThreshold);
        else
            sprites.trims[i].source = {img.width, img.height};
        if (unit > 1)
            alignToUnit(img, sprites.trims[i], sprites.marks[i], unit);
        if (trimming || unit > 1)
            decoded.hashes[i] = pixelHash(img);
    });
    sprites.unique = findDuplicates(sprites.images, decoded.hashes);
    // Premultiplied, a transparent pixel is black whatever it was; at 8 bits
    // every transparent pixel takes the palette's one transparent entry.
    const bool bleeding = o.bleed && !o.premultiply && o.bitDepth == BitDepth::Rgba32;
    if (bleeding || o.premultiply)
        forEachIndex(sprites.unique.first.size(), bleeding ? bleedThreads(sprites, memory, threads) : threads,
            [&](std::size_t u) {
                Image& img = sprites.images[sprites.unique.first[u]];
                if (o.premultiply)
                    premultiply(img);
                else
                    bleed(img);
            });
    for (std::size_t i : sprites.unique.first)
        sprites.sizes.push_back({sprites.images[i].width, sprites.images[i].height});
    return sprites;
}

Layout layOut(const Options& o, const std::vector<std::string>& names, const Sprites& sprites, int threads)
{
    PackOutcome packed =
        pack(sprites.sizes, {o.width, o.height}, o.margin, threads, o.rotate ? Rotation::Allowed : Rotation::Never);
    if (packed.tooLarge) {
        const Size size = sprites.sizes[*packed.tooLarge];
        const int unit = variantUnit(o);
        const std::string padded = " padded to a multiple of " + std::to_string(unit) + " for --variant";
        throw InputError(vintrix::quoted(names[sprites.unique.first[*packed.tooLarge]]) + ": image of " +
            std::to_string(size.w) + "x" + std::to_string(size.h) + " pixels" + (o.trim ? " once trimmed" : "") +
            (unit == 1 ? std::string() : (o.trim ? " and" : " once") + padded) + " does not fit on a " +
            std::to_string(o.width) + "x" + std::to_string(o.height) + " sheet" +
            (o.margin > 0 ? " with a margin of " + std::to_string(o.margin) : std::string()) +
            (o.rotate ? ", either way round" : ""));
    }
    return std::move(packed.layout);
}

// Extruded images replace the decoded ones, within the same budget.
void checkExtrudedMemory(const Options& o, const std::vector<Size>& sizes, std::uint64_t memory)
{
    std::uint64_t bytes = 0;
    for (Size size : sizes)
        bytes += std::uint64_t(size.w + 2 * o.extrude) * std::uint64_t(size.h + 2 * o.extrude) * 4;
    if (bytes > memory)
        throw InputError("extruded by " + std::to_string(o.extrude) + " pixels, the images would take " +
            std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB, more than the " + std::to_string(memory >> 20) +
            " MiB they may take (" + kImageMemoryVariable + " sets another budget)");
}

// A depfile in a folder that is missing or closed fails the run before it
// reads an image; but the output folder, which the run creates. One that
// would replace an output file or an image is refused.
void checkDepfile(const Options& o)
{
    if (o.depfile.empty())
        return;
    namespace fs = std::filesystem;
    const fs::path parent = fs::path(o.depfile).parent_path();
    const std::string folder = parent.empty() ? "." : parent.string();
    std::error_code ec;
    const auto status = fs::status(folder, ec);
    const auto id = folderId(folder);
    const bool inOutput =
        (fs::path(folder) / "").lexically_normal() == (fs::path(o.outputFolder) / "").lexically_normal() ||
        (id && id == folderId(o.outputFolder));
    // It replaces whatever is at its path: never a file of the output, nor an image.
    const std::string file = fs::path(o.depfile).filename().string();
    if (inOutput && (namedAsOutputOf(o, file) || file.starts_with(".vintrix")))
        throw ArgumentError("the depfile " + quoted(o.depfile) + " would replace a file of the output in " +
            o.outputFolder + ": choose another name for it");
    if (id && id == folderId(o.folder) && isImageExtension(extensionOf(fs::path(file))))
        throw ArgumentError("the depfile " + quoted(o.depfile) + " would replace an image in " + quoted(o.folder) +
            ": choose another name for it");
    std::string why;
    if (!fs::exists(status) && inOutput)
        return;
    if (!fs::exists(status))
        why = "the folder " + quoted(folder) + " does not exist";
    else if (!std::filesystem::is_directory(status))
        why = quoted(folder) + " is not a folder";
    else if (::access(folder.c_str(), W_OK | X_OK) != 0)
        why = "the folder " + quoted(folder) + " cannot be written";
    else if (std::filesystem::is_directory(std::filesystem::symlink_status(o.depfile, ec)))
        why = "it is a folder";
    if (!why.empty())
        throw OutputError("cannot write the depfile " + quoted(o.depfile) + ": " + why);
}

// The data files as targets, the way in first (they are written last
// first); the images, the folders listed and the settings file as
// prerequisites; paths as given.
std::string depfileOf(const Options& o, const std::vector<std::string>& dataFiles,
    const std::vector<std::string>& names, const std::vector<std::string>& subfolders)
{
    const std::string out = o.outputFolder == "/" ? "/" : o.outputFolder + "/";
    std::vector<std::string> targets;
    for (auto file = dataFiles.rbegin(); file != dataFiles.rend(); ++file)
        targets.push_back(out + *file);
    const std::size_t end = o.folder.find_last_not_of('/');
    const std::string folder = end == std::string::npos ? "/" : o.folder.substr(0, end + 1);
    const std::string in = folder == "/" ? "/" : folder + "/";
    std::vector<std::string> prerequisites{folder};
    for (const std::string& sub : subfolders)
        prerequisites.push_back(in + sub);
    for (const std::string& name : names)
        prerequisites.push_back(in + name);
    if (!o.settingsFile.empty())
        prerequisites.push_back(o.settingsFile);
    return depfileText(targets, prerequisites);
}

// The unique images of a variant as the sheet writer takes them: resampled
// to its scale, turned where placed turned, extruded by the scaled border.
// With `inPlace`, the images at their own size are changed where they are,
// so that variant goes last.
std::vector<Image> variantImages(const Options& o, Sprites& sprites, const VariantOutput& out, int border, bool inPlace,
    int threads, std::vector<const Image*>& uniqueImages)
{
    const std::vector<std::size_t>& first = sprites.unique.first;
    const bool resample = out.variant.numerator != out.variant.denominator;
    std::vector<Image> own(inPlace ? 0 : first.size());
    uniqueImages.clear();
    for (std::size_t u = 0; u < first.size(); ++u)
        uniqueImages.push_back(inPlace ? &sprites.images[first[u]] : &own[u]);
    const bool bleeding = o.bleed && !o.premultiply && o.bitDepth == BitDepth::Rgba32;
    forEachIndex(first.size(), threads, [&](std::size_t u) {
        Image& img = inPlace ? sprites.images[first[u]] : own[u];
        const Image& source = sprites.images[first[u]];
        if (resample) {
            img = resampled(source, {out.scaled(source.width), out.scaled(source.height)}, o.premultiply);
            if (bleeding)
                bleed(img);
        } else if (!inPlace) {
            img = source;
        }
        if (out.layout.placements[u].rotated)
            img = rotated(img, o.data->turnsClockwise ? Turn::Clockwise : Turn::Counterclockwise);
        if (border > 0)
            img = extruded(img, border);
    });
    return own;
}

// Writes the sheets and the atlas data of every variant under temporary
// names in the output folder and puts them in place together; whether they
// were all as they were, and left untouched.
bool writeOutput(const Options& o, Sprites& sprites, const std::vector<VariantOutput>& variants, const std::string& ext,
    const std::string& depfile, const RunTicket& ticket, int threads, Progress& progress, std::ostream& err)
{
    OutputFiles::installSignalHandlers();
    bool saidWaiting = false;
    OutputFiles files(o.outputFolder, o.name, ticket, [&] {
        progress.clear();
        // Said once, in one write, so that a reader of the pipe gets the line whole.
        if (!std::exchange(saidWaiting, true))
            err << std::string("Vintrix: waiting for another run writing into ") + o.outputFolder + '\n' << std::flush;
        progress.report(Stage::Waiting, 0, 0);
    });
    // Sheets first and the first variant's first data file, the way in,
    // last: a reader that finds it finds everything it names.
    std::vector<std::vector<std::string>> sheetTemp(variants.size()), dataTemp(variants.size());
    std::size_t rows = 0;
    for (std::size_t v = 0; v < variants.size(); ++v)
        for (int s = 0; s < variants[v].layout.sheets; ++s) {
            sheetTemp[v].push_back(files.add(sheetBase(variants[v].name, s) + ext));
            rows += static_cast<std::size_t>(variants[v].sheets[static_cast<std::size_t>(s)].h);
        }
    for (std::size_t v = variants.size(); v-- > 0;)
        for (const DataFile& file : variants[v].data)
            dataTemp[v].push_back(files.add(file.name));
    files.checkOwnership();

    if (o.bitDepth != BitDepth::Indexed8)
        progress.report(Stage::Writing, 0, rows);
    std::size_t rowsBefore = 0;
    for (std::size_t v = variants.size(); v-- > 0;) {
        const VariantOutput& out = variants[v];
        const int border = out.scaled(o.extrude);
        std::vector<const Image*> uniqueImages;
        const bool inPlace = v == 0 && out.variant.numerator == out.variant.denominator;
        const std::vector<Image> own = variantImages(o, sprites, out, border, inPlace, threads, uniqueImages);
        writeSheets(
            sheetTemp[v], out.layout, uniqueImages, out.sheets, border, {o.bitDepth, o.format, o.pngLevel}, threads,
            [&](std::size_t done, std::size_t) { progress.report(Stage::Writing, rowsBefore + done, rows); },
            [&](std::size_t done, std::size_t total) { progress.report(Stage::Palette, done, total); });
        for (Size size : out.sheets)
            rowsBefore += static_cast<std::size_t>(size.h);
        for (std::size_t i = 0; i < out.data.size(); ++i)
            writeWhole(dataTemp[v][i], out.data[i].text);
    }
    progress.report(Stage::Writing, rows, rows);
    if (!o.depfile.empty())
        files.addCompanion(o.depfile, depfile);
    return files.commit();
}

// The options as the layout takes them: with variants, a margin that is a
// multiple of their unit, rounded up.
Options withVariantMargin(const Options& given)
{
    Options o = given;
    const int unit = variantUnit(o);
    o.margin = (o.margin + unit - 1) / unit * unit;
    return o;
}

void packFolder(const Options& given, Progress& progress, std::ostream& out, std::ostream& err)
{
    const RunTicket ticket = RunTicket::take();  // before anything that takes time
    checkPixelOptions(given);
    const Options o = withVariantMargin(given);
    checkFolders(o);
    checkDepfile(o);
    const std::uint64_t memory = imageMemory();
    const int threads = workerThreads();

    std::vector<std::string> subfolders;
    const std::vector<std::string> names = listImages(o, err, subfolders);
    checkLinksToOutput(o, names);
    std::vector<std::string> keys;
    for (const std::string& name : names)
        keys.push_back(o.stripExtensions ? withoutExtension(name) : name);
    checkKeys(names, keys);
    if (o.data->checkNames)
        for (const Variant& v : variantsOf(o))
            o.data->checkNames(o.name + v.suffix, keys, {o.animations, !o.stripExtensions});
    Sprites sprites = readSprites(o, names, marksOfSettings(o.spriteSettings, names, err), memory, threads, progress);

    progress.report(Stage::Packing, 0, 1);
    Layout layout = layOut(o, names, sprites, threads);
    if (o.maxSheets > 0 && layout.sheets > o.maxSheets)
        throw InputError("the images need " + std::to_string(layout.sheets) + " sheets of " + std::to_string(o.width) +
            "x" + std::to_string(o.height) + ", more than the " + std::to_string(o.maxSheets) +
            " that --max-sheets allows");
    const std::vector<Size> sheets = sheetSizes(o, layout, sprites.sizes, threads);
    if (o.extrude > 0)
        checkExtrudedMemory(o, sprites.sizes, memory);

    const std::string ext(SheetFormatOf(o.format).extension);
    progress.clear();
    std::vector<VariantOutput> variants;
    std::vector<std::string> dataFiles;  // in the order written, the way in last
    for (const Variant& v : variantsOf(o)) {
        VariantOutput& variant = variants.emplace_back(scaledOutput(v, o, layout, sheets));
        std::vector<AtlasSheet> atlas = atlasSheets(
            o, variant.name, ext, keys, sprites.unique, sprites.trims, sprites.marks, sprites.sizes, layout, sheets);
        scaleFrames(atlas, variant);
        AtlasData data = atlasData(*o.data, variant.name, std::move(atlas), {o.animations, !o.stripExtensions});
        variant.data = std::move(data.files);
        if (variants.size() == 1)
            warnOfSplitAnimations(err, data.splitAnimations);
    }
    warnOfLargeSheets(err, o, variants[0].name, ext, variants[0].sheets);
    for (std::size_t v = variants.size(); v-- > 0;)
        for (const DataFile& file : variants[v].data)
            dataFiles.push_back(file.name);
    const std::string depfile = o.depfile.empty() ? std::string() : depfileOf(o, dataFiles, names, subfolders);
    bool unchanged = false;
    try {
        unchanged = writeOutput(o, sprites, variants, ext, depfile, ticket, threads, progress, err);
    } catch (const std::bad_alloc&) {
        throw OutputError("out of memory writing the sheets");
    }
    progress.clear();
    printSummary(out, given, ext, names.size(), sprites.sizes.size(), variants, unchanged);
}

}  // namespace

ExitCode run(const Options& o, std::ostream& out, std::ostream& err)
{
    Progress progress;
    try {
        packFolder(o, progress, out, err);
        return ExitCode::Ok;
    } catch (const Error& e) {
        progress.clear();
        // One line a failure: several come together when several images fail.
        const std::string_view text = e.what();
        for (std::size_t start = 0; start <= text.size();) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            err << "error: " << text.substr(start, end - start) << '\n';
            start = end + 1;
        }
        // An option the user did not type, such as --extrude, came from here.
        if (!o.fromSettingsFile.empty())
            err << o.fromSettingsFile << '\n';
        return e.code();
    } catch (const std::bad_alloc&) {
        progress.clear();
        err << "error: out of memory\n";
        return ExitCode::BadInput;
    }
}

}  // namespace vintrix
