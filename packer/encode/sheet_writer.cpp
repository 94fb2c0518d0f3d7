#include "sheet_writer.h"

#include <algorithm>
#include <atomic>

#include "palette.h"
#include "sheet.h"
#include "workers.h"

namespace vintrix {
namespace {

std::vector<std::size_t> imagesOn(int s, const Layout& layout)
{
    std::vector<std::size_t> onSheet;
    for (std::size_t u = 0; u < layout.placements.size(); ++u)
        if (layout.placements[u].sheet == s)
            onSheet.push_back(u);
    return onSheet;
}

IndexedImages quantizeSheet(
    int s, const Layout& layout, const std::vector<const Image*>& images, Size sheet, int border, const PercentFn& done)
{
    std::vector<const Image*> placed;
    std::vector<Position> positions;
    for (std::size_t u : imagesOn(s, layout)) {
        placed.push_back(images[u]);
        positions.push_back({layout.placements[u].x - border, layout.placements[u].y - border});
    }
    return quantize(placed, positions, sheet, done);
}

// `indexed` holds the sheet's palette and indices in 8 bits.
void writeOne(const std::string& path, int s, const Layout& layout, const std::vector<const Image*>& images, Size sheet,
    int border, SheetEncoding encoding, IndexedImages indexed, const std::function<void(int)>& rowsDone)
{
    const std::vector<std::size_t> onSheet = imagesOn(s, layout);
    std::vector<SheetItem> items;
    for (std::size_t k = 0; k < onSheet.size(); ++k) {
        const Image& img = *images[onSheet[k]];
        const Placement& p = layout.placements[onSheet[k]];
        SheetItem item{p.x - border, p.y - border, img.width, img.height, nullptr, 0};
        if (encoding.depth == BitDepth::Indexed8) {
            item.pixels = indexed.indices[k].data();
            item.stride = static_cast<std::size_t>(img.width);
        } else {
            item.pixels = img.pixels.data();
            item.stride = img.bytesPerLine();
        }
        items.push_back(item);
    }
    const SheetWriter& writer = sheetWriter(encoding.format);
    RowComposer rows(sheet.w, sheet.h, ToCode(encoding.depth) / 8, std::move(items), writer.bottomUp);
    rows.onProgress(rowsDone);
    writer.write(path, rows, encoding, indexed.palette);
}

}  // namespace

void writeSheets(const std::vector<std::string>& paths, const Layout& layout, const std::vector<const Image*>& images,
    const std::vector<Size>& sheets, int border, SheetEncoding encoding, int threads, const RowProgressFn& progress,
    const RowProgressFn& paletteProgress)
{
    const auto count = static_cast<std::size_t>(layout.sheets);
    // The palettes first, a sheet at a time (libimagequant spreads each over
    // every core), so that their progress is reported before the rows'.
    std::vector<IndexedImages> indexed(count);
    if (encoding.depth == BitDepth::Indexed8)
        for (std::size_t s = 0; s < count; ++s)
            indexed[s] = quantizeSheet(static_cast<int>(s), layout, images, sheets[s], border, [&](int percent) {
                if (paletteProgress)
                    paletteProgress(s * 100 + static_cast<std::size_t>(percent), count * 100);
            });
    std::size_t totalRows = 0;
    for (std::size_t s = 0; s < count; ++s)
        totalRows += static_cast<std::size_t>(sheets[s].h);
    std::atomic<std::size_t> rowsReported{0};
    forEachIndex(count, threads, [&](std::size_t s) {
        int lastDone = 0;
        auto rowsDone = [&](int done) {
            const std::size_t all = rowsReported += static_cast<std::size_t>(done - lastDone);
            lastDone = done;
            if (progress)
                progress(all, totalRows);
        };
        writeOne(paths[s], static_cast<int>(s), layout, images, sheets[s], border, encoding, std::move(indexed[s]),
            rowsDone);
    });
}

}  // namespace vintrix
