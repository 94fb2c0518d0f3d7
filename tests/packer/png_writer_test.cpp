#include "png_writer.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>

using namespace vintrix;
namespace fs = std::filesystem;

namespace {

struct Decoded {
    int width = 0, height = 0, colorType = -1;
    std::vector<std::uint8_t> pixels;  // as stored: RGBA or palette indices
    std::vector<Rgba> palette;
};

Decoded decode(const std::string& path)
{
    Decoded d;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return d;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return Decoded{};
    }
    png_init_io(png, file.get());
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    d.width = static_cast<int>(png_get_image_width(png, info));
    d.height = static_cast<int>(png_get_image_height(png, info));
    d.colorType = png_get_color_type(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    png_bytepp rows = png_get_rows(png, info);
    for (int y = 0; y < d.height; ++y)
        d.pixels.insert(d.pixels.end(), rows[y], rows[y] + rowBytes);
    png_colorp plte = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &plte, &count)) {
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        png_get_tRNS(png, info, &alpha, &alphaCount, nullptr);
        for (int i = 0; i < count; ++i)
            d.palette.push_back(
                {plte[i].red, plte[i].green, plte[i].blue, static_cast<std::uint8_t>(i < alphaCount ? alpha[i] : 255)});
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return d;
}

// width, height, bytes per pixel, images
using Case = std::tuple<int, int, int, int>;

class PngRoundTrip : public ::testing::TestWithParam<Case> {};

// A 1x1 sheet, and sheets wider than Vintrix makes (the packer tests decode
// its own), decode to exactly the rows composed.
TEST_P(PngRoundTrip, DecodesToTheComposedRows)
{
    const auto [width, height, bpp, count] = GetParam();
    std::mt19937 rng(static_cast<unsigned>(width * 31 + height * 7 + bpp + count));
    std::vector<std::vector<std::uint8_t>> store;
    std::vector<SheetItem> items;
    for (int i = 0; i < count; ++i) {
        const int w = std::uniform_int_distribution<int>(1, std::min(width, 300))(rng);
        const int h = std::uniform_int_distribution<int>(1, std::min(height, 300))(rng);
        const int x = std::uniform_int_distribution<int>(0, width - w)(rng);
        // Leave the lower third empty so that long runs of empty rows occur.
        const int y = std::uniform_int_distribution<int>(0, std::max(0, height * 2 / 3 - h))(rng);
        std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * bpp);
        for (std::size_t p = 0; p < px.size(); ++p)
            px[p] = static_cast<std::uint8_t>(p / bpp % 7 * 13 + p % bpp * 40);
        store.push_back(std::move(px));
        items.push_back({x, std::min(y, height - h), w, h, store.back().data(), static_cast<std::size_t>(w) * bpp});
    }
    std::vector<Rgba> palette;
    if (bpp == 1)
        for (int i = 0; i < 256; ++i)
            palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7,
                static_cast<std::uint8_t>(i == 0 ? 0 : 255)});

    std::vector<std::uint8_t> expected;
    {
        RowComposer rows(width, height, bpp, items, false);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* r = rows.row(y);
            expected.insert(expected.end(), r, r + static_cast<std::size_t>(width) * bpp);
        }
    }
    static int written = 0;
    const fs::path path = fs::temp_directory_path() /
        ("vintrix-png-test-" + std::to_string(::getpid()) + "-" + std::to_string(++written) + ".png");
    const std::string file = path.string();
    {
        RowComposer rows(width, height, bpp, items, false);
        writePng(file, rows, palette);
    }
    const Decoded d = decode(file);
    fs::remove(file);
    EXPECT_EQ(d.width, width);
    EXPECT_EQ(d.height, height);
    EXPECT_EQ(d.colorType, bpp == 1 ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB_ALPHA);
    EXPECT_EQ(d.palette, palette);
    ASSERT_EQ(d.pixels.size(), expected.size());
    EXPECT_TRUE(d.pixels == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, PngRoundTrip, ::testing::Values(Case{1, 1, 4, 1}, Case{70000, 40, 4, 3}, Case{70000, 40, 1, 0}));

}  // namespace
