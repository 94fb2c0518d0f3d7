#include "image_bytes.h"

#include <cerrno>
#include <cstdint>

#include <sys/stat.h>
#include <unistd.h>

namespace vintrix {
namespace {

class Bytes {
public:
    Bytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    bool has(std::size_t at, std::size_t n) const { return at <= size_ && n <= size_ - at; }
    unsigned u8(std::size_t at) const { return has(at, 1) ? data_[at] : 0; }
    unsigned u16(std::size_t at) const { return u8(at) | u8(at + 1) << 8; }
    std::uint32_t u32(std::size_t at) const { return u16(at) | std::uint32_t{u16(at + 2)} << 16; }
    unsigned be16(std::size_t at) const { return u8(at) << 8 | u8(at + 1); }
    std::size_t size() const { return size_; }

private:
    const unsigned char* data_;
    std::size_t size_;
};

bool bmpEndsEarly(const Bytes& b)
{
    if (!b.has(0, 34) || b.u8(0) != 'B' || b.u8(1) != 'M' || b.u32(14) < 40)
        return false;
    const std::uint64_t offset = b.u32(10);
    const std::int64_t width = static_cast<std::int32_t>(b.u32(18));
    std::int64_t height = static_cast<std::int32_t>(b.u32(22));
    height = height < 0 ? -height : height;
    const unsigned bpp = b.u16(28);
    const std::uint32_t compression = b.u32(30);
    if (width <= 0 || height == 0)
        return false;
    if (compression == 0 || compression == 3 || compression == 6) {
        const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bpp + 31) / 32 * 4;
        const std::uint64_t lastRow = (static_cast<std::uint64_t>(width) * bpp + 7) / 8;  // padding may be left off
        return b.size() < offset + stride * static_cast<std::uint64_t>(height - 1) + lastRow;
    }
    if (compression != 1 && compression != 2)
        return false;
    // Run-length data: the file must reach the end-of-bitmap code, or at
    // least the end of the last row.
    const bool rle4 = compression == 2;
    std::int64_t rows = 0;
    for (std::size_t at = offset;;) {
        if (!b.has(at, 2))
            return rows < height;
        const unsigned count = b.u8(at), code = b.u8(at + 1);
        at += 2;
        if (count > 0)
            continue;
        if (code == 0) {
            ++rows;
        } else if (code == 1) {
            return false;
        } else if (code == 2) {
            rows += b.u8(at + 1);
            at += 2;
        } else {
            const std::size_t bytes = rle4 ? (code + 1) / 2 : code;
            at += (bytes + 1) / 2 * 2;
        }
        if (at > b.size())
            return true;
    }
}

// Skips data sub-blocks from `at`; returns where the terminator ends, or 0
// when the file ends first.
std::size_t gifSkipBlocks(const Bytes& b, std::size_t at)
{
    while (b.has(at, 1)) {
        const unsigned n = b.u8(at);
        at += 1 + n;
        if (n == 0)
            return at;
    }
    return 0;
}

bool gifEndsEarly(const Bytes& b)
{
    if (!b.has(0, 13))
        return false;
    std::size_t at = 13;
    if (b.u8(10) & 0x80)
        at += 3u << ((b.u8(10) & 7) + 1);
    while (true) {
        if (!b.has(at, 1))
            return true;
        const unsigned block = b.u8(at);
        if (block == 0x21) {
            at = gifSkipBlocks(b, at + 2);
        } else if (block == 0x2C) {
            if (!b.has(at, 10))
                return true;
            const unsigned flags = b.u8(at + 9);
            at += 10;
            if (flags & 0x80)
                at += 3u << ((flags & 7) + 1);
            return gifSkipBlocks(b, at + 1) == 0;  // after the LZW code size
        } else {
            return false;  // the trailer or garbage: for the decoder to judge
        }
        if (at == 0)
            return true;
    }
}

bool jpegEndsEarly(const Bytes& b)
{
    if (b.u8(0) != 0xFF || b.u8(1) != 0xD8)
        return false;
    std::size_t at = 2;
    bool inScan = false;
    while (b.has(at, 2)) {
        if (b.u8(at) != 0xFF) {
            if (!inScan)
                return false;  // not a marker: for the decoder to judge
            ++at;
            continue;
        }
        const unsigned marker = b.u8(at + 1);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (inScan && (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7))) {
            at += 2;  // a stuffed 0xFF or a restart marker inside the scan
            continue;
        }
        if (marker == 0xD9)
            return false;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        at += 2 + b.be16(at + 2);
        inScan = marker == 0xDA;
    }
    return true;
}

bool tgaEndsEarly(const Bytes& b)
{
    if (!b.has(0, 18))
        return false;
    const unsigned type = b.u8(2);
    const std::uint64_t pixelBytes = (b.u8(16) + 7u) / 8;
    std::uint64_t pixels = std::uint64_t{b.u16(12)} * b.u16(14);
    std::uint64_t at = 18 + b.u8(0);
    if (b.u8(1) != 0)
        at += std::uint64_t{b.u16(5)} * ((b.u8(7) + 7u) / 8);
    if (type == 1 || type == 2 || type == 3)
        return b.size() < at + pixels * pixelBytes;
    if (type != 9 && type != 10 && type != 11)
        return false;
    while (pixels > 0) {
        if (at >= b.size())
            return true;
        const unsigned head = b.u8(at++);
        const std::uint64_t run = (head & 0x7F) + 1u;
        at += head & 0x80 ? pixelBytes : run * pixelBytes;
        pixels -= run < pixels ? run : pixels;
    }
    return at > b.size();
}

}  // namespace

bool endsEarly(std::string_view format, const unsigned char* data, std::size_t size)
{
    const Bytes b(data, size);
    if (format == "bmp")
        return bmpEndsEarly(b);
    if (format == "gif")
        return gifEndsEarly(b);
    if (format == "jpeg" || format == "jpg")
        return jpegEndsEarly(b);
    if (format == "tga")
        return tgaEndsEarly(b);
    return false;
}

bool isRunLengthBmp(const unsigned char* data, std::size_t size)
{
    const Bytes b(data, size);
    const std::uint32_t compression = b.u32(30);
    return b.has(0, 34) && b.u8(0) == 'B' && b.u8(1) == 'M' && b.u32(14) >= 40 &&
        (compression == 1 || compression == 2);
}

bool readAll(int fd, std::vector<unsigned char>& bytes)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return true;
}

}  // namespace vintrix
