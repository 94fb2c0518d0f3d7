#pragma once
// WebP files, lossy or lossless, decoded with libwebp; of an animation, the
// first frame as shown on its canvas.

#include "png_reader.h"

namespace vintrix {

// Decodes the WebP file open as `fd`, from its start, into `out`. Throws the
// check's error, or InputError "cannot decode image: WHY".
void readWebp(int fd, const SizeCheck& check, Image& out);

}  // namespace vintrix
