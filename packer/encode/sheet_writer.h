#pragma once
// Writing the sheets of a layout: each sheet composed row by row from the
// decoded images and written as PNG or BMP, in 32 bits or with its own
// palette in 8 bits. Sheets are independent, so they are written on
// several threads at once.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "PackerContract.h"
#include "image.h"
#include "maxrects.h"
#include "sheet_formats.h"

namespace vintrix {

// Called with the work done so far over all sheets and its total: rows
// written, or hundredths of a sheet's palette.
using RowProgressFn = std::function<void(std::size_t done, std::size_t total)>;

// Writes sheet s of `layout`, sheets[s] in size, to paths[s]. images[u] is
// the image placed at layout.placements[u], already rotated where the
// placement is, with `border` pixels of extrusion on every side that go
// into the margin around its place. In 8 bits every sheet's palette is
// made before any sheet is written, reported to `paletteProgress` in
// hundredths of a sheet. Throws OutputError, for the first failing sheet in
// sheet order.
void writeSheets(const std::vector<std::string>& paths, const Layout& layout, const std::vector<const Image*>& images,
    const std::vector<Size>& sheets, int border, SheetEncoding encoding, int threads,
    const RowProgressFn& progress = {}, const RowProgressFn& paletteProgress = {});

}  // namespace vintrix
