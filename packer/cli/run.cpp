#include "run.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "atlas_json.h"
#include "error.h"
#include "file.h"
#include "images.h"
#include "maxrects.h"
#include "output_files.h"
#include "progress.h"
#include "sheet_writer.h"
#include "utf8.h"

namespace vintrix {
namespace {

// The output folder keeps the name of every temporary file of a run in fixed
// storage for its signal handlers, 4,096 names: two files a sheet and the
// commit journal's.
constexpr int kMaxSheets = 2047;

int workerThreads()
{
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

std::string sheetBase(const std::string& name, int sheet)
{
    return sheet == 0 ? name : name + "-" + std::to_string(sheet + 1);
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

// The atlas data of sheet `s`: every input placed on it, each duplicate
// under its own name, in the order of the names.
std::string atlasOf(int s, const Options& o, const std::string& ext, const std::vector<std::string>& names,
    const UniqueImages& unique, const std::vector<Size>& sizes, const Layout& layout)
{
    std::vector<AtlasFrame> frames;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t u = unique.uniqueOf[i];
        if (layout.placements[u].sheet == s)
            frames.push_back({names[i], layout.placements[u].x, layout.placements[u].y, sizes[u].w, sizes[u].h});
    }
    AtlasMeta meta{VINTRIX_VERSION, sheetBase(o.name, s) + ext, o.bitsPerPixel == 8 ? "INDEXED8" : "RGBA8888", o.width,
        o.height, {}};
    if (s == 0)
        for (int r = 1; r < layout.sheets; ++r)
            meta.relatedMultiPacks.push_back(sheetBase(o.name, r) + ".json");
    return atlasJson(frames, meta);
}

void printSummary(std::ostream& out, const Options& o, const std::string& ext, std::size_t images,
    std::size_t uniqueImages, const Layout& layout)
{
    const double area = static_cast<double>(o.width) * o.height;
    std::int64_t total = 0;
    for (auto a : layout.usedArea)
        total += a;
    const std::string dir = o.outputFolder == "/" ? "/" : o.outputFolder + "/";
    out << "packed " << images << " image" << (images == 1 ? "" : "s");
    if (uniqueImages != images)
        out << " (" << uniqueImages << " unique)";
    out << " into " << layout.sheets << " sheet" << (layout.sheets == 1 ? "" : "s") << " of " << o.width << "x"
        << o.height;
    if (layout.sheets == 1)
        out << " (" << percent(static_cast<double>(layout.usedArea[0]) / area) << " full)";
    else
        out << " (first " << percent(static_cast<double>(layout.usedArea[0]) / area) << " full, "
            << percent(static_cast<double>(total) / (area * layout.sheets)) << " overall)";
    out << ": " << dir << o.name << ext;
    if (layout.sheets > 1)
        out << " to " << dir << sheetBase(o.name, layout.sheets - 1) << ext;
    out << " with atlas data " << dir << o.name << ".json\n";
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

// Options the command line knows that this build does not carry out yet.
void refuseUnsupported(const Options& o)
{
    const std::pair<bool, const char*> unsupported[] = {{o.data != DataFormat::JsonHash, "--data"},
        {o.stripExtensions, "--strip-extensions"}, {o.recursive, "--recursive"}, {o.trim, "--trim"},
        {o.extrude > 0, "--extrude"}, {o.bleed, "--bleed"}, {o.rotate, "--rotate"}, {o.pot, "--pot"},
        {o.shrink, "--shrink"}, {o.premultiply, "--premultiply"}};
    for (const auto& [given, option] : unsupported)
        if (given)
            throw ArgumentError(std::string(option) + " is not yet supported");
}

void packFolder(const Options& o, Progress& progress, std::ostream& out, std::ostream& err)
{
    refuseUnsupported(o);
    const Size sheet{o.width, o.height};
    const std::uint64_t memory = imageMemory();
    const int threads = workerThreads();

    std::vector<std::string> names, skipped;
    try {
        names = listImageFiles(o.folder, &skipped);
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
        throw InputError(
            "no images in " + quoted(o.folder) + " (looked for PNG, BMP, JPEG, GIF, WebP, TGA and TIFF files)");
    // The atlas data keys frames by name, and JSON holds only Unicode text.
    for (const std::string& name : names)
        if (!isUtf8(name))
            throw InputError(quoted(name) + " has a file name that is not valid UTF-8, so the atlas data " +
                "cannot name it: rename the file");

    DecodeResult decoded;
    {
        // Some decoders print their complaints straight to stderr; Vintrix
        // reports each failure itself, once.
        StderrMuted muted;
        decoded = decodeImages(
            o.folder, names, sheet, o.margin, threads,
            [&](std::size_t d, std::size_t t) { progress.report(Stage::Reading, d, t); }, Hashes::Compute, memory);
    }

    const UniqueImages unique = findDuplicates(decoded.images, decoded.hashes);
    std::vector<Size> sizes;
    for (std::size_t i : unique.first)
        sizes.push_back({decoded.images[i].width, decoded.images[i].height});
    progress.report(Stage::Packing, 0, 1);
    const PackOutcome packed = pack(sizes, sheet, o.margin, threads);
    if (packed.tooLarge)  // decoding already refused these; kept for safety
        throw InputError(vintrix::quoted(names[unique.first[*packed.tooLarge]]) + " does not fit on a sheet");
    const Layout& layout = packed.layout;
    if (layout.sheets > kMaxSheets)
        throw InputError("the images need " + std::to_string(layout.sheets) + " sheets of " + std::to_string(o.width) +
            "x" + std::to_string(o.height) + ", more than the " + std::to_string(kMaxSheets) +
            " Vintrix writes in one run: use larger sheets");

    const bool bmp = o.format == ImageFormat::Bmp;
    const std::string ext = bmp ? ".bmp" : ".png";
    try {
        OutputFiles::installSignalHandlers();
        OutputFiles files(o.outputFolder, o.name, [&] {
            progress.clear();
            // One write, so that a reader of the pipe gets the line whole.
            err << std::string("Vintrix: waiting for another run writing into ") + o.outputFolder + '\n' << std::flush;
        });
        // Sheets first and the first data file, the way in, last: a reader
        // that finds it finds everything it names.
        std::vector<std::string> sheetTemp, jsonTemp(static_cast<std::size_t>(layout.sheets));
        for (int s = 0; s < layout.sheets; ++s)
            sheetTemp.push_back(files.add(sheetBase(o.name, s) + ext));
        for (int s = layout.sheets - 1; s >= 0; --s)
            jsonTemp[static_cast<std::size_t>(s)] = files.add(sheetBase(o.name, s) + ".json");
        files.checkOwnership();

        std::vector<const Image*> uniqueImages;
        for (std::size_t i : unique.first)
            uniqueImages.push_back(&decoded.images[i]);
        const std::size_t rows = static_cast<std::size_t>(layout.sheets) * static_cast<std::size_t>(o.height);
        progress.report(Stage::Writing, 0, rows);
        writeSheets(sheetTemp, layout, uniqueImages, sheet, o.bitsPerPixel, o.format, threads,
            [&](std::size_t done, std::size_t total) { progress.report(Stage::Writing, done, total); });
        progress.report(Stage::Writing, rows, rows);

        for (int s = 0; s < layout.sheets; ++s)
            writeWhole(jsonTemp[static_cast<std::size_t>(s)], atlasOf(s, o, ext, names, unique, sizes, layout));
        files.commit();
    } catch (const std::bad_alloc&) {
        throw OutputError("out of memory writing the sheets");
    }
    progress.clear();

    printSummary(out, o, ext, names.size(), sizes.size(), layout);
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
        return e.code();
    } catch (const std::bad_alloc&) {
        progress.clear();
        err << "error: out of memory\n";
        return ExitCode::BadInput;
    }
}

}  // namespace vintrix
