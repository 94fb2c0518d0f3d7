#pragma once
// The sheet formats Vintrix writes, one row each, keyed by the code and
// extension both programs know (PackerContract.h's kSheetFormats): the
// order of the rows in the file, the largest sheet the format can hold
// and its writer. A new format is a writer and a row here and there.

#include <string>
#include <vector>

#include "PackerContract.h"
#include "image.h"
#include "png_writer.h"
#include "sheet.h"

namespace vintrix {

struct SheetEncoding {
    BitDepth depth = BitDepth::Rgba32;
    FormatCode format = FormatCode::Png;
    int pngLevel = kPngCompressionLevel;
};

struct SheetWriter {
    FormatCode code;
    bool bottomUp;  // the file's first row is the sheet's last
    // Why a width x height sheet at `depth` cannot be written in this
    // format, or "" when it can.
    std::string (*tooLarge)(int width, int height, BitDepth depth);
    // Writes the rows of `rows`, ordered as bottomUp says, to `path`: RGBA
    // when `palette` is empty, else indices into it. Throws OutputError.
    void (*write)(
        const std::string& path, RowComposer& rows, const SheetEncoding& encoding, const std::vector<Rgba>& palette);
};

const SheetWriter& sheetWriter(FormatCode code);

}  // namespace vintrix
