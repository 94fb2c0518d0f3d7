#pragma once
// BMP, GIF (its first frame) and TGA (with or without the 2.0 footer,
// uncompressed or run-length encoded), decoded with stb_image from the
// file's bytes. BMP files with run-length encoded pixels are not read.

#include "png_reader.h"

namespace vintrix {

// Each decodes the file open as `fd`, from its start, into `out`. Throws
// the check's error, or InputError "cannot decode image: WHY".
void readBmp(int fd, const SizeCheck& check, Image& out);
void readGif(int fd, const SizeCheck& check, Image& out);
void readTga(int fd, const SizeCheck& check, Image& out);

}  // namespace vintrix
