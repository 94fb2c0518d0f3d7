#pragma once
// PNG files decoded with libpng straight into RGBA, streamed from the file.

#include <cstddef>
#include <functional>
#include <string>

#include "image.h"

namespace vintrix {

// Whether `head` (the first bytes of a file) starts with the PNG signature.
bool hasPngSignature(const unsigned char* head, std::size_t size);

// Called with the size the header announces, before any pixel is decoded;
// throws InputError to stop the decoding.
using SizeCheck = std::function<void(int width, int height)>;

// Decodes the PNG file open as `fd`, from its start, into `out`. Throws the
// check's error, or InputError "cannot decode image: WHY".
void readPng(int fd, const SizeCheck& check, Image& out);

}  // namespace vintrix
