#include "png_reader.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <libdeflate.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <png.h>
#include <sys/stat.h>
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

// Most sprites are 8-bit RGBA or RGB and not interlaced. Those are read
// whole, inflated by libdeflate at once and unfiltered here, a good deal
// faster than libpng's zlib a row at a time. Any other kind of PNG, and any
// file that does not check out to the last byte of its image data, is left
// to libpng, which reads the rest and names what is wrong. Returns false to
// leave it. Images of more than 16 MiB of rows are streamed by libpng, which
// needs no second copy of them beside the decoded pixels.
constexpr std::size_t kWholeFileLimit = std::size_t{16} << 20, kWholeImageLimit = std::size_t{16} << 20;

std::uint32_t bigEndian32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

bool readWhole(int fd, std::vector<std::uint8_t>& bytes)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 8 ||
        static_cast<std::uint64_t>(st.st_size) > kWholeFileLimit)
        return false;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The image data of a plain PNG: its IHDR's width, height and channels (4 or
// 3), and its IDAT chunks joined.
bool plainImageData(const std::vector<std::uint8_t>& file, std::uint32_t& width, std::uint32_t& height, int& channels,
    std::vector<std::uint8_t>& data)
{
    std::size_t at = 8;
    bool seenData = false;
    while (file.size() - at >= 12) {
        const std::uint32_t length = bigEndian32(&file[at]);
        if (length > file.size() - at - 12)
            return false;
        const std::uint8_t* type = &file[at + 4];
        const std::uint8_t* body = type + 4;
        const bool header = std::memcmp(type, "IHDR", 4) == 0, image = std::memcmp(type, "IDAT", 4) == 0;
        if ((at == 8) != header)
            return false;
        if ((header || image) && libdeflate_crc32(0, type, length + 4) != bigEndian32(body + length))
            return false;
        if (header) {
            if (length != 13 || body[8] != 8 || (body[9] != 6 && body[9] != 2) || body[10] != 0 || body[11] != 0 ||
                body[12] != 0)
                return false;
            width = bigEndian32(body);
            height = bigEndian32(body + 4);
            channels = body[9] == 6 ? 4 : 3;
        } else if (image) {
            data.insert(data.end(), body, body + length);
            seenData = true;
        } else if (seenData) {
            return true;  // the image data ended
        } else if (std::memcmp(type, "tRNS", 4) == 0 || !(type[0] & 0x20)) {
            return false;  // a transparent colour, or a critical chunk such as PLTE
        }
        at += std::size_t{length} + 12;
    }
    return false;  // no chunk after the image data: the file may be cut short
}

#if defined(__SSE2__)
// The Paeth filter undone on 4-byte pixels, the four bytes of each side by
// side in 16 bits: each pixel depends on the one to its left, so the row
// cannot go faster than a pixel at a time, but a pixel takes a few vector
// steps instead of four rounds of comparisons and branches.
void unpaethRgba(std::uint8_t* row, const std::uint8_t* prev, std::size_t rowBytes)
{
    const __m128i zero = _mm_setzero_si128();
    const auto load = [](const std::uint8_t* p) {
        std::int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_cvtsi32_si128(v);
    };
    const auto magnitude = [zero](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
    __m128i a = zero, c = zero;  // left and above left
    for (std::size_t x = 0; x < rowBytes; x += 4) {
        const __m128i b = _mm_unpacklo_epi8(load(prev + x), zero);
        const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
        const __m128i pa = magnitude(bc), pb = magnitude(ac), pc = magnitude(_mm_add_epi16(bc, ac));
        const __m128i smallest = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
        const __m128i takeA = _mm_cmpeq_epi16(pa, smallest);
        const __m128i takeB = _mm_andnot_si128(takeA, _mm_cmpeq_epi16(pb, smallest));
        const __m128i predictor = _mm_or_si128(_mm_or_si128(_mm_and_si128(takeA, a), _mm_and_si128(takeB, b)),
            _mm_andnot_si128(_mm_or_si128(takeA, takeB), c));
        const __m128i pixel = _mm_add_epi8(load(row + x), _mm_packus_epi16(predictor, zero));
        const std::int32_t out = _mm_cvtsi128_si32(pixel);
        std::memcpy(row + x, &out, 4);
        a = _mm_unpacklo_epi8(pixel, zero);
        c = b;
    }
}
#endif

template <std::size_t bpp>
bool unfilterRows(std::uint8_t* raw, std::size_t rowBytes, std::size_t rows)
{
    const std::size_t stride = rowBytes + 1;
    const std::vector<std::uint8_t> zeros(rowBytes, 0);
    for (std::size_t y = 0; y < rows; ++y) {
        std::uint8_t* row = raw + y * stride + 1;
        const std::uint8_t* prev = y > 0 ? row - stride : zeros.data();
        switch (row[-1]) {
        case 0:
            break;
        case 1:
            for (std::size_t i = bpp; i < rowBytes; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + row[i - bpp]);
            break;
        case 2:
            for (std::size_t i = 0; i < rowBytes; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + prev[i]);
            break;
        case 3:
            for (std::size_t i = 0; i < bpp; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + (prev[i] >> 1));
            for (std::size_t i = bpp; i < rowBytes; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + ((row[i - bpp] + prev[i]) >> 1));
            break;
        case 4:
#if defined(__SSE2__)
            if constexpr (bpp == 4) {
                unpaethRgba(row, prev, rowBytes);
                break;
            }
#endif
            for (std::size_t i = 0; i < bpp; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + prev[i]);
            for (std::size_t x = bpp; x < rowBytes; x += bpp)
                for (std::size_t k = x; k < x + bpp; ++k) {
                    const int a = row[k - bpp], b = prev[k], c = prev[k - bpp];
                    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                    row[k] = static_cast<std::uint8_t>(row[k] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
                }
            break;
        default:
            return false;
        }
    }
    return true;
}

bool readPlainPng(int fd, const SizeCheck& check, Image& out)
{
    std::vector<std::uint8_t> file, data;
    std::uint32_t width = 0, height = 0;
    int channels = 0;
    if (!readWhole(fd, file) || png_sig_cmp(file.data(), 0, 8) != 0 ||
        !plainImageData(file, width, height, channels, data) || width == 0 || height == 0 || width > INT_MAX ||
        height > INT_MAX)
        return false;
    file = {};
    check(static_cast<int>(width), static_cast<int>(height));
    const std::size_t rowBytes = std::size_t{width} * static_cast<std::size_t>(channels);
    const std::size_t rawSize = (rowBytes + 1) * height;
    if (rawSize / height != rowBytes + 1 || rawSize > kWholeImageLimit ||
        rawSize > data.size() * std::size_t{1032} + 1024)  // more than deflate can expand the data to
        return false;
    const std::unique_ptr<std::uint8_t[]> raw(new std::uint8_t[rawSize]);  // left uninitialized: inflated over
    struct DecompressorFree {
        void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    const std::unique_ptr<libdeflate_decompressor, DecompressorFree> inflater(libdeflate_alloc_decompressor());
    std::size_t inflated = 0;
    if (!inflater ||
        libdeflate_zlib_decompress(inflater.get(), data.data(), data.size(), raw.get(), rawSize, &inflated) !=
            LIBDEFLATE_SUCCESS ||
        inflated != rawSize)
        return false;
    if (!(channels == 4 ? unfilterRows<4>(raw.get(), rowBytes, height) : unfilterRows<3>(raw.get(), rowBytes, height)))
        return false;
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.pixels.resize(out.bytesPerLine() * height);
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* from = raw.get() + y * (rowBytes + 1) + 1;
        std::uint8_t* to = out.pixels.data() + y * out.bytesPerLine();
        if (channels == 4) {
            std::memcpy(to, from, rowBytes);
        } else {
            for (std::size_t x = 0; x < width; ++x, from += 3, to += 4) {
                std::memcpy(to, from, 3);
                to[3] = 0xff;
            }
        }
    }
    return true;
}

}  // namespace

bool hasPngSignature(const unsigned char* head, std::size_t size)
{
    return size >= 8 && png_sig_cmp(head, 0, 8) == 0;
}

void readPng(int fd, const SizeCheck& check, Image& out)
{
    if (readPlainPng(fd, check, out))
        return;
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
