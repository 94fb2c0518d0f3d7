#include "png_writer.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <png.h>
#include <zlib.h>

namespace vintrix {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct PngHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
};
struct PngHandlesDeleter {
    void operator()(PngHandles* h) const {
        png_destroy_write_struct(&h->png, h->info ? &h->info : nullptr);
        delete h;
    }
};
using Png = std::unique_ptr<PngHandles, PngHandlesDeleter>;

struct ErrorSink {
    char message[256] = {};
};

void onError(png_structp png, png_const_charp msg) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", msg);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

struct WriteJob {
    png_structp png;
    png_infop info;
    std::FILE* file;
    RowComposer* rows;
    const std::vector<Rgba>* palette;
    const png_color* plte;
    const png_byte* trns;
    int trnsCount;
};

// libpng reports errors by longjmp back here. Nothing in this function has
// a destructor, so jumping over it is safe; the composer is only called
// between libpng calls.
bool writeAll(const WriteJob& job) {
    if (setjmp(png_jmpbuf(job.png)))
        return false;
    png_init_io(job.png, job.file);
    const bool indexed = !job.palette->empty();
    png_set_IHDR(job.png, job.info, static_cast<png_uint_32>(job.rows->width()),
                 static_cast<png_uint_32>(job.rows->height()), 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_set_PLTE(job.png, job.info, job.plte, static_cast<int>(job.palette->size()));
        if (job.trnsCount > 0)
            png_set_tRNS(job.png, job.info, job.trns, job.trnsCount, nullptr);
    }
    png_set_compression_level(job.png, kPngCompressionLevel);
    png_set_compression_strategy(job.png, Z_RLE);
    // Palette images compress best unfiltered; for RGBA, SUB and UP catch
    // the flat and repeated areas of sprites at little cost per row. Rows
    // without an image skip the filter trials: they are zeros either way.
    const int contentFilters = indexed ? PNG_FILTER_NONE : (PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_UP);
    png_set_filter(job.png, PNG_FILTER_TYPE_BASE, contentFilters);
    png_write_info(job.png, job.info);
    bool emptyFilters = false;
    for (int y = 0; y < job.rows->height(); ++y) {
        const png_byte* row = job.rows->row(y);
        if (job.rows->rowIsEmpty() != emptyFilters) {
            emptyFilters = job.rows->rowIsEmpty();
            png_set_filter(job.png, PNG_FILTER_TYPE_BASE, emptyFilters ? PNG_FILTER_NONE : contentFilters);
        }
        png_write_row(job.png, row);
    }
    png_write_end(job.png, job.info);
    return true;
}

}  // namespace

void writePng(const std::string& path, RowComposer& rows, const std::vector<Rgba>& palette) {
    std::vector<char> buffer(1 << 20);  // outlives the file that uses it
    File file(std::fopen(path.c_str(), "wb"));
    if (!file)
        throw OutputError("cannot create " + path + ": " + std::strerror(errno));
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());

    ErrorSink sink;
    Png handles(new PngHandles);
    handles->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, onError, onWarning);
    if (!handles->png)
        throw OutputError("cannot write " + path + ": libpng could not start");
    handles->info = png_create_info_struct(handles->png);
    if (!handles->info)
        throw OutputError("cannot write " + path + ": libpng could not start");

    std::vector<png_color> plte;
    std::vector<png_byte> trns;
    for (const Rgba& c : palette) {
        plte.push_back({c[0], c[1], c[2]});
        trns.push_back(c[3]);
    }
    while (!trns.empty() && trns.back() == 255)
        trns.pop_back();

    const WriteJob job{handles->png, handles->info, file.get(), &rows, &palette, plte.data(), trns.data(),
                       static_cast<int>(trns.size())};
    if (!writeAll(job))
        throw OutputError("cannot write " + path + ": " + sink.message);
    if (std::fflush(file.get()) != 0 || std::ferror(file.get()))
        throw OutputError("cannot write " + path + ": " + std::strerror(errno));
    if (std::fclose(file.release()) != 0)
        throw OutputError("cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace vintrix
