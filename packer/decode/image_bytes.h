#pragma once
// A file's bytes for the decoders that read from memory, and what those
// decoders leave out: whether the file ends before its image does (they
// fill the missing part in).

#include <cstddef>
#include <string_view>
#include <vector>

namespace vintrix {

// Whether a file of `format` (lower-case: "bmp", "gif", "jpeg", "tga"; any
// other is never said to end early) stops before the end of its first
// image's data.
bool endsEarly(std::string_view format, const unsigned char* data, std::size_t size);

// Whether a BMP file's pixels are run-length encoded (RLE8 or RLE4).
bool isRunLengthBmp(const unsigned char* data, std::size_t size);

// Reads the rest of the file open as `fd` into `bytes`; false, with errno
// set, when reading fails.
bool readAll(int fd, std::vector<unsigned char>& bytes);

}  // namespace vintrix
