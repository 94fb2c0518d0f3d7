#pragma once
// TIFF files, the first image of the file, decoded with libtiff. Colours
// stored with straight alpha come through unchanged; stored premultiplied,
// they are divided back out.

#include "png_reader.h"

namespace vintrix {

// Decodes the TIFF file open as `fd`, from its start, into `out`. Throws the
// check's error, or InputError "cannot decode image: WHY".
void readTiff(int fd, const SizeCheck& check, Image& out);

}  // namespace vintrix
