#include "sheet_writer.h"

#include <algorithm>
#include <atomic>

#include "bmp_writer.h"
#include "palette.h"
#include "png_writer.h"
#include "sheet.h"
#include "workers.h"

namespace vintrix {
namespace {

void writeOne(const std::string& path, int s, const Layout& layout, const std::vector<const Image*>& images, Size sheet,
    int border, SheetEncoding encoding, const std::function<void(int)>& rowsDone)
{
    std::vector<std::size_t> onSheet;
    for (std::size_t u = 0; u < images.size(); ++u)
        if (layout.placements[u].sheet == s)
            onSheet.push_back(u);

    IndexedImages indexed;
    if (encoding.bitsPerPixel == 8) {
        std::vector<const Image*> placed;
        std::vector<Position> positions;
        for (std::size_t u : onSheet) {
            placed.push_back(images[u]);
            positions.push_back({layout.placements[u].x - border, layout.placements[u].y - border});
        }
        indexed = quantize(placed, positions, sheet);
    }
    std::vector<SheetItem> items;
    for (std::size_t k = 0; k < onSheet.size(); ++k) {
        const Image& img = *images[onSheet[k]];
        const Placement& p = layout.placements[onSheet[k]];
        SheetItem item{p.x - border, p.y - border, img.width, img.height, nullptr, 0};
        if (encoding.bitsPerPixel == 8) {
            item.pixels = indexed.indices[k].data();
            item.stride = static_cast<std::size_t>(img.width);
        } else {
            item.pixels = img.pixels.data();
            item.stride = img.bytesPerLine();
        }
        items.push_back(item);
    }
    const bool bmp = encoding.format == ImageFormat::Bmp;
    RowComposer rows(sheet.w, sheet.h, encoding.bitsPerPixel / 8, std::move(items), bmp);
    rows.onProgress(rowsDone);
    if (bmp)
        writeBmp(path, rows, indexed.palette);
    else
        writePng(path, rows, indexed.palette, encoding.pngLevel);
}

}  // namespace

void writeSheets(const std::vector<std::string>& paths, const Layout& layout, const std::vector<const Image*>& images,
    const std::vector<Size>& sheets, int border, SheetEncoding encoding, int threads, const RowProgressFn& progress)
{
    const auto count = static_cast<std::size_t>(layout.sheets);
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
        writeOne(paths[s], static_cast<int>(s), layout, images, sheets[s], border, encoding, rowsDone);
    });
}

}  // namespace vintrix
