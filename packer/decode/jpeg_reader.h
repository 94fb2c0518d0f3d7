#pragma once
// JPEG files decoded with libjpeg-turbo's TurboJPEG interface, straight
// into RGBA.

#include "png_reader.h"

namespace vintrix {

// Decodes the JPEG file open as `fd`, from its start, into `out`. Throws
// the check's error, or InputError "cannot decode image: WHY".
void readJpeg(int fd, const SizeCheck& check, Image& out);

}  // namespace vintrix
