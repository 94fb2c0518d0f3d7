#include "sheet_formats.h"

#include <algorithm>
#include <iterator>

#include "bmp_writer.h"
#include "png_writer.h"

namespace vintrix {
namespace {

std::string noLimit(int, int, BitDepth)
{
    return {};
}

constexpr SheetWriter kWriters[] = {
    {FormatCode::Bmp, true, bmpTooLarge,
        [](const std::string& path, RowComposer& rows, const SheetEncoding& encoding,
            const std::vector<Rgba>& palette) { writeBmp(path, rows, encoding.depth, palette); }},
    {FormatCode::Png, false, noLimit,
        [](const std::string& path, RowComposer& rows, const SheetEncoding& encoding,
            const std::vector<Rgba>& palette) { writePng(path, rows, encoding.depth, palette, encoding.pngLevel); }},
};

// Every format both programs know has its writer here.
static_assert(std::size(kWriters) == std::size(kSheetFormats));
static_assert(std::ranges::all_of(kSheetFormats, [](const SheetFormat& format) {
    return std::ranges::any_of(kWriters, [&](const SheetWriter& writer) { return writer.code == format.code; });
}));

}  // namespace

const SheetWriter& sheetWriter(FormatCode code)
{
    return *std::ranges::find(kWriters, code, &SheetWriter::code);
}

}  // namespace vintrix
