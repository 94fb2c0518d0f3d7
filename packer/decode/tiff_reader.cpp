#include "tiff_reader.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <tiffio.h>
#include <unistd.h>

#include "error.h"
#include "file.h"

namespace vintrix {
namespace {

struct TiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

struct ErrorText {
    char text[256] = "";
};

// libtiff's messages for this file only, kept rather than printed; the first
// says what went wrong.
int onError(TIFF*, void* user, const char*, const char* format, va_list args)
{
    auto* error = static_cast<ErrorText*>(user);
    if (!error->text[0])
        std::vsnprintf(error->text, sizeof error->text, format, args);
    return 1;
}

int onWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

[[noreturn]] void fail(const ErrorText& error, const char* otherwise)
{
    throw InputError(std::string("cannot decode image: ") + (error.text[0] ? error.text : otherwise));
}

// libtiff's RGBA reader premultiplies colours stored with straight alpha,
// which loses them under low alpha. Declared premultiplied, they are copied
// as they are.
bool keepStraightAlpha(TIFF* tiff)
{
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) || count == 0 || kinds[0] != EXTRASAMPLE_UNASSALPHA)
        return false;
    std::vector<std::uint16_t> declared(kinds, kinds + count);
    declared[0] = EXTRASAMPLE_ASSOCALPHA;
    return TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, count, declared.data()) == 1;
}

void unpremultiply(Image& image)
{
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        const unsigned a = image.pixels[i + 3];
        if (a == 0 || a == 255)
            continue;
        for (std::size_t c = i; c < i + 3; ++c)
            image.pixels[c] = static_cast<std::uint8_t>(std::min(255u, (image.pixels[c] * 255u + a / 2) / a));
    }
}

}  // namespace

void readTiff(int fd, const SizeCheck& check, Image& out)
{
    ErrorText error;
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options)
        throw InputError("cannot decode image: out of memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &error);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, nullptr);
    UniqueFd copy(::dup(fd));  // libtiff closes its own copy
    if (!copy)
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    const std::unique_ptr<TIFF, TiffClose> tiff(TIFFFdOpenExt(copy.get(), "image", "r", options.get()));
    if (!tiff)
        fail(error, "not a TIFF file");
    copy.release();

    std::uint32_t w = 0, h = 0;
    if (!TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &h) ||
        w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX)
        fail(error, "the image has no size");
    check(static_cast<int>(w), static_cast<int>(h));

    const bool straight = keepStraightAlpha(tiff.get());
    char why[1024] = "";
    TIFFRGBAImage reader;
    if (!TIFFRGBAImageOK(tiff.get(), why) || !TIFFRGBAImageBegin(&reader, tiff.get(), 1, why))
        throw InputError(std::string("cannot decode image: ") + why);
    reader.req_orientation = ORIENTATION_TOPLEFT;
    const bool premultiplied = !straight && reader.alpha == EXTRASAMPLE_ASSOCALPHA;
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.pixels.resize(out.bytesPerLine() * h);
    // libtiff packs each pixel as one 32-bit value, red in its lowest byte:
    // in memory, RGBA on a little-endian machine.
    auto* raster = reinterpret_cast<std::uint32_t*>(out.pixels.data());
    const int read = TIFFRGBAImageGet(&reader, raster, w, h);
    TIFFRGBAImageEnd(&reader);
    if (!read)
        fail(error, "libtiff failed");
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i < out.pixels.size(); i += 4)
            std::reverse(out.pixels.begin() + static_cast<std::ptrdiff_t>(i),
                out.pixels.begin() + static_cast<std::ptrdiff_t>(i) + 4);
    if (premultiplied)
        unpremultiply(out);
}

}  // namespace vintrix
