#pragma once
// PNG files decoded with libpng straight into RGBA: the common case, without
// loading Qt or its image plugins.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "image.h"

namespace vintrix {

// Whether `head` (the first bytes of a file) starts with the PNG signature.
bool hasPngSignature(const unsigned char* head, std::size_t size);

// Called with the size the header announces, before any pixel is decoded;
// throws InputError to stop the decoding.
using SizeCheck = std::function<void(int width, int height)>;

// Decodes the PNG in `file`, read up to just after its 8-byte signature,
// into `out`. Throws the check's error, or InputError "cannot decode image:
// WHY".
void readPng(std::FILE* file, const SizeCheck& check, Image& out);

}  // namespace vintrix
