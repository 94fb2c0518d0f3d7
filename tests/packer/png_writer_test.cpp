#include "png_writer.h"

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vintrix;

namespace {

// width, height, bytes per pixel, images, compression level, whether images
// may reach the bottom row
using Case = std::tuple<int, int, int, int, int, bool>;

class PngRoundTrip : public ::testing::TestWithParam<Case> {};

// A 1x1 sheet, and sheets wider than Vintrix makes (the packer tests decode
// its own), decode to exactly the rows composed, at the fastest and the
// smallest compression too; so do sheets of several pieces whose last one
// holds images and so ends the stream itself.
TEST_P(PngRoundTrip, DecodesToTheComposedRows)
{
    const auto [width, height, bpp, count, level, toBottom] = GetParam();
    std::mt19937 rng(static_cast<unsigned>(width * 31 + height * 7 + bpp + count));
    std::vector<std::vector<std::uint8_t>> store;
    std::vector<SheetItem> items;
    for (int i = 0; i < count; ++i) {
        const int w = std::uniform_int_distribution<int>(1, std::min(width, 300))(rng);
        const int h = std::uniform_int_distribution<int>(1, std::min(height, 300))(rng);
        const int x = std::uniform_int_distribution<int>(0, width - w)(rng);
        // Leave the lower third empty so that long runs of empty rows occur,
        // or, when asked, put the first image on the bottom row.
        const int below = toBottom ? height : height * 2 / 3;
        const int y =
            toBottom && i == 0 ? height - h : std::uniform_int_distribution<int>(0, std::max(0, below - h))(rng);
        std::vector<std::uint8_t>& px = store.emplace_back(static_cast<std::size_t>(w) * h * bpp);
        for (std::size_t p = 0; p < px.size(); ++p)
            px[p] = static_cast<std::uint8_t>(p / bpp % 7 * 13 + p % bpp * 40);
        items.push_back({x, std::min(y, height - h), w, h, px.data(), static_cast<std::size_t>(w) * bpp});
    }
    std::vector<Rgba> palette;
    QList<QRgb> colours;  // the palette as Qt reads it
    for (int i = 0; bpp == 1 && i < 256; ++i) {
        palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7,
            static_cast<std::uint8_t>(i == 0 ? 0 : 255)});
        colours << qRgba(i, 255 - i, 7, i == 0 ? 0 : 255);
    }

    const QTemporaryDir dir;
    const QString file = dir.filePath("sheet.png");
    {
        RowComposer rows(width, height, bpp, items, false);
        writePng(file.toStdString(), rows, bpp == 1 ? BitDepth::Indexed8 : BitDepth::Rgba32, palette, level);
    }
    const QImage decoded(file, "png");
    ASSERT_EQ(decoded.size(), QSize(width, height));
    ASSERT_EQ(decoded.format() == QImage::Format_Indexed8, bpp == 1);
    EXPECT_TRUE(decoded.hasAlphaChannel());
    EXPECT_EQ(decoded.colorTable(), colours);
    const QImage got = bpp == 1 ? decoded : decoded.convertToFormat(QImage::Format_RGBA8888);
    RowComposer rows(width, height, bpp, items, false);  // composed again
    for (int y = 0; y < height; ++y)
        ASSERT_EQ(std::memcmp(got.constScanLine(y), rows.row(y), std::size_t(width) * bpp), 0) << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(Sheets, PngRoundTrip,
    ::testing::Values(Case{1, 1, 4, 1, 7, false}, Case{70000, 40, 4, 3, 1, false}, Case{70000, 40, 1, 0, 12, false},
        Case{1024, 600, 4, 40, 7, true}, Case{3000, 900, 1, 40, 7, true}));

}  // namespace
