#include "png_reader.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdio>
#include <memory>
#include <vector>

#include <png.h>
#include <unistd.h>

#include "error.h"
#include "file.h"

namespace vintrix {
namespace {

struct ErrorText {
    char text[256] = "";
};

[[noreturn]] void onError(png_structp png, png_const_charp message)
{
    auto* error = static_cast<ErrorText*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "%s", message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp)
{
}

void readFromFile(png_structp png, png_bytep data, std::size_t size)
{
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fread(data, 1, size, file) != size)
        png_error(png, std::ferror(file) ? "read error" : "the file ends early");
}

struct ReadDeleter {
    png_infop info = nullptr;
    void operator()(png_structp png) { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};
using ReadStruct = std::unique_ptr<png_struct, ReadDeleter>;

// libpng reports errors by longjmp back into this function, so it keeps no
// object of its own that has a destructor: everything it fills belongs to
// the caller. Returns false when libpng failed.
bool decode(png_structp png, png_infop info, const SizeCheck& check, Image& out, std::vector<png_bytep>& rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    out.width = static_cast<int>(png_get_image_width(png, info));
    out.height = static_cast<int>(png_get_image_height(png, info));
    check(out.width, out.height);

    png_set_expand(png);  // palettes, grey below 8 bits and tRNS to 8-bit RGB(A)
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);  // only where there is no alpha
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != out.bytesPerLine())
        png_error(png, "unexpected row layout after conversion to RGBA");

    out.pixels.resize(out.bytesPerLine() * static_cast<std::size_t>(out.height));
    rows.resize(static_cast<std::size_t>(out.height));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = out.pixels.data() + y * out.bytesPerLine();
    png_read_image(png, rows.data());
    return true;
}

}  // namespace

bool hasPngSignature(const unsigned char* head, std::size_t size)
{
    return size >= 8 && png_sig_cmp(head, 0, 8) == 0;
}

void readPng(int fd, const SizeCheck& check, Image& out)
{
    UniqueFd copy(::dup(fd));  // the stream closes its own copy
    const File file(copy ? ::fdopen(copy.get(), "rb") : nullptr);
    if (!file)
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    copy.release();
    std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 16);
    ErrorText error;
    ReadStruct png(png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, onError, onWarning));
    if (!png)
        throw InputError("cannot decode image: out of memory");
    png.get_deleter().info = png_create_info_struct(png.get());
    if (!png.get_deleter().info)
        throw InputError("cannot decode image: out of memory");
    // The size check, not libpng's default limit, decides what is too large.
    png_set_user_limits(png.get(), INT_MAX, INT_MAX);
    png_set_read_fn(png.get(), file.get(), readFromFile);

    std::vector<png_bytep> rows;
    if (!decode(png.get(), png.get_deleter().info, check, out, rows))
        throw InputError(std::string("cannot decode image: ") + (error.text[0] ? error.text : "libpng failed"));
}

}  // namespace vintrix
