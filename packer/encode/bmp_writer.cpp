#include "bmp_writer.h"

#include "error.h"
#include "file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vintrix {
namespace {

class LittleEndian {
public:
    void u16(std::uint32_t v) { bytes(v, 2); }
    void u32(std::uint32_t v) { bytes(v, 4); }
    void zeros(std::size_t n) { data.insert(data.end(), n, 0); }
    std::vector<std::uint8_t> data;

private:
    void bytes(std::uint32_t v, int n)
    {
        for (int i = 0; i < n; ++i)
            data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
};

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV5HeaderSize = 124;
constexpr std::uint32_t kBiRgb = 0, kBiBitfields = 3;
constexpr std::uint32_t kLcsSrgb = 0x73524742;   // 'sRGB'
constexpr std::uint32_t kLcsGmImages = 4;        // perceptual rendering intent
constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dpi

}  // namespace

std::string bmpTooLarge(int width, int height, BitDepth depth)
{
    const std::uint64_t stride = (std::uint64_t{static_cast<unsigned>(width)} * (ToCode(depth) / 8) + 3) / 4 * 4;
    const std::uint64_t total = kFileHeaderSize + kV5HeaderSize + 256 * 4 + stride * static_cast<unsigned>(height);
    if (total <= 0xFFFFFFFFull)
        return {};
    return "a " + std::to_string(width) + "x" + std::to_string(height) + " BMP sheet at " +
        std::to_string(ToCode(depth)) +
        " bits per pixel would exceed the 4 GiB a BMP file can hold: " + "use PNG (format 1) or a smaller sheet";
}

void writeBmp(const std::string& path, RowComposer& rows, BitDepth depth, const std::vector<Rgba>& palette)
{
    const bool indexed = depth == BitDepth::Indexed8;
    const auto width = static_cast<std::uint32_t>(rows.width());
    const auto height = static_cast<std::uint32_t>(rows.height());
    const std::uint64_t stride = indexed ? (std::uint64_t{width} + 3) / 4 * 4 : std::uint64_t{width} * 4;
    const std::uint32_t headerSize = indexed ? kInfoHeaderSize : kV5HeaderSize;
    const std::uint32_t paletteBytes = indexed ? static_cast<std::uint32_t>(palette.size()) * 4 : 0;
    const std::uint32_t offset = kFileHeaderSize + headerSize + paletteBytes;
    const std::uint64_t imageBytes = stride * height;
    if (offset + imageBytes > 0xFFFFFFFFull)
        throw OutputError("cannot write " + path + ": a BMP file can hold at most 4 GiB");

    LittleEndian h;
    h.data.push_back('B');
    h.data.push_back('M');
    h.u32(static_cast<std::uint32_t>(offset + imageBytes));
    h.u32(0);
    h.u32(offset);
    h.u32(headerSize);
    h.u32(width);
    h.u32(height);  // positive: rows run bottom up
    h.u16(1);
    h.u16(indexed ? 8 : 32);
    h.u32(indexed ? kBiRgb : kBiBitfields);
    h.u32(static_cast<std::uint32_t>(imageBytes));
    h.u32(kPixelsPerMetre);
    h.u32(kPixelsPerMetre);
    h.u32(indexed ? static_cast<std::uint32_t>(palette.size()) : 0);
    h.u32(0);
    if (!indexed) {
        h.u32(0x00FF0000);  // red
        h.u32(0x0000FF00);  // green
        h.u32(0x000000FF);  // blue
        h.u32(0xFF000000);  // alpha
        h.u32(kLcsSrgb);
        h.zeros(36 + 12);  // endpoints and gamma, unused for sRGB
        h.u32(kLcsGmImages);
        h.zeros(12);  // profile data, size, reserved
    } else {
        for (std::size_t i = 0; i < palette.size(); ++i) {
            Rgba c = i == 0 ? kBmpTransparentColour : palette[i];
            // A sprite's own magenta is written one step off the colour key,
            // or a game keying on it would drop those pixels.
            if (i != 0 && c[0] == kBmpTransparentColour[0] && c[1] == kBmpTransparentColour[1] &&
                c[2] == kBmpTransparentColour[2])
                c[2] = kBmpTransparentColour[2] - 1;
            h.data.insert(h.data.end(), {c[2], c[1], c[0], 0});
        }
    }

    std::vector<char> buffer(1 << 20);  // outlives the file that uses it
    File file(std::fopen(path.c_str(), "wb"));
    if (!file)
        throw OutputError("cannot create " + path + ": " + std::strerror(errno));
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    auto fail = [&] { throw OutputError("cannot write " + path + ": " + std::strerror(errno)); };
    if (std::fwrite(h.data.data(), 1, h.data.size(), file.get()) != h.data.size())
        fail();

    std::vector<std::uint8_t> out(stride, 0);
    for (std::int64_t y = std::int64_t{height} - 1; y >= 0; --y) {
        const std::uint8_t* row = rows.row(static_cast<int>(y));
        if (indexed) {
            std::memcpy(out.data(), row, width);
        } else {
            for (std::size_t x = 0; x < width; ++x) {  // RGBA to BGRA
                out[x * 4 + 0] = row[x * 4 + 2];
                out[x * 4 + 1] = row[x * 4 + 1];
                out[x * 4 + 2] = row[x * 4 + 0];
                out[x * 4 + 3] = row[x * 4 + 3];
            }
        }
        if (std::fwrite(out.data(), 1, out.size(), file.get()) != out.size())
            fail();
    }
    if (std::fflush(file.get()) != 0)
        fail();
    if (std::fclose(file.release()) != 0)
        fail();
}

}  // namespace vintrix
