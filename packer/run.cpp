#include "run.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "atlas_json.h"
#include "images.h"
#include "maxrects.h"
#include "output_files.h"
#include "progress.h"
#include "sheet.h"
#include "sheet_writer.h"
#include "utf8.h"

namespace vintrix {
namespace {

constexpr const char* kOutputFolder = "Output";

int workerThreads() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u)); }

std::string sheetBase(const std::string& name, int sheet) {
    return sheet == 0 ? name : name + "-" + std::to_string(sheet + 1);
}

class StderrMuted {
public:
    StderrMuted() {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0)
            ::dup2(null, STDERR_FILENO);
        if (null >= 0)
            ::close(null);
    }
    ~StderrMuted() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
        }
    }
    StderrMuted(const StderrMuted&) = delete;
    StderrMuted& operator=(const StderrMuted&) = delete;

private:
    int saved_ = -1;
};

std::string percent(double fraction) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%", fraction * 100.0);
    return buf;
}

// The atlas data of sheet `s`: every input placed on it, each duplicate
// under its own name, in the order of the names.
std::string atlasOf(int s, const Options& o, const std::string& ext, const std::vector<std::string>& names,
                    const UniqueImages& unique, const std::vector<Size>& sizes, const Layout& layout) {
    std::vector<AtlasFrame> frames;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t u = unique.uniqueOf[i];
        if (layout.placements[u].sheet == s)
            frames.push_back({names[i], layout.placements[u].x, layout.placements[u].y, sizes[u].w, sizes[u].h});
    }
    AtlasMeta meta{VINTRIX_VERSION, sheetBase(o.name, s) + ext, o.bitsPerPixel == 8 ? "INDEXED8" : "RGBA8888",
                   o.width, o.height, {}};
    if (s == 0)
        for (int r = 1; r < layout.sheets; ++r)
            meta.relatedMultiPacks.push_back(sheetBase(o.name, r) + ".json");
    return atlasJson(frames, meta);
}

void printSummary(std::ostream& out, const Options& o, const std::string& ext, std::size_t images,
                  std::size_t uniqueImages, const Layout& layout) {
    const double area = static_cast<double>(o.width) * o.height;
    std::int64_t total = 0;
    for (auto a : layout.usedArea)
        total += a;
    const std::string dir = std::string(kOutputFolder) + "/";
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

}  // namespace

ExitCode run(const Options& o, std::ostream& out, std::ostream& err) {
    const Size sheet{o.width, o.height};
    const int threads = workerThreads();
    Progress progress;

    std::vector<std::string> names;
    try {
        names = listImageFiles(o.folder);
    } catch (const std::filesystem::filesystem_error& e) {
        err << "error: cannot list the images folder " << o.folder << ": " << e.code().message() << '\n';
        return ExitCode::BadInput;
    }
    if (names.empty()) {
        err << "error: no images in " << o.folder << " (looked for PNG, BMP, JPEG, GIF, WebP, TGA and TIFF files)\n";
        return ExitCode::BadInput;
    }
    // The atlas data keys frames by name, and JSON holds only Unicode text.
    for (const std::string& name : names) {
        if (!isUtf8(name)) {
            err << "error: " << quoted(name) << " has a file name that is not valid UTF-8, so the atlas data "
                << "cannot name it: rename the file\n";
            return ExitCode::BadInput;
        }
    }

    DecodeResult decoded;
    {
        // Some decoders print their complaints straight to stderr; Vintrix
        // reports each failure itself, once.
        StderrMuted muted;
        decoded = decodeImages(o.folder, names, sheet, o.margin, threads,
                               [&](std::size_t d, std::size_t t) { progress.report("reading images", d, t); },
                               Hashes::Compute);
    }
    if (!decoded.errors.empty()) {
        progress.clear();
        for (const std::string& e : decoded.errors)
            err << "error: " << e << '\n';
        return ExitCode::BadInput;
    }

    const UniqueImages unique = findDuplicates(decoded.images, decoded.hashes);
    std::vector<Size> sizes;
    for (std::size_t i : unique.first)
        sizes.push_back({decoded.images[i].width, decoded.images[i].height});
    progress.report("packing", 0, 1);
    const PackOutcome packed = pack(sizes, sheet, o.margin, threads);
    if (packed.tooLarge) {  // decoding already refused these; kept for safety
        progress.clear();
        err << "error: " << names[unique.first[*packed.tooLarge]] << " does not fit on a sheet\n";
        return ExitCode::BadInput;
    }
    const Layout& layout = packed.layout;

    const bool bmp = o.format == ImageFormat::Bmp;
    const std::string ext = bmp ? ".bmp" : ".png";
    try {
        OutputFiles::installSignalHandlers();
        OutputFiles files(kOutputFolder, o.name, [&] {
            progress.clear();
            err << "Vintrix: waiting for another run writing into " << kOutputFolder << '\n' << std::flush;
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
        writeSheets(sheetTemp, layout, uniqueImages, sheet, o.bitsPerPixel, o.format, threads,
                    [&](std::size_t done, std::size_t total) { progress.report("writing sheets, row", done, total); });

        for (int s = 0; s < layout.sheets; ++s)
            writeWhole(jsonTemp[static_cast<std::size_t>(s)], atlasOf(s, o, ext, names, unique, sizes, layout));
        files.commit();
    } catch (const OutputError& e) {
        progress.clear();
        err << "error: " << e.what() << '\n';
        return ExitCode::OutputFailed;
    }
    progress.clear();

    printSummary(out, o, ext, names.size(), sizes.size(), layout);
    return ExitCode::Ok;
}

}  // namespace vintrix
