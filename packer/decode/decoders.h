#pragma once
// The image formats Vintrix reads, one row each: the name messages give
// it, the extensions that make a file count as an image, how its first
// bytes are recognised, and its reader. A file is read by the format its
// bytes show, whatever its name; only a format without a signature (TGA) is
// known by its extension. A new format is a reader and a row.

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "png_reader.h"

namespace vintrix {

// Decodes the regular file open as `fd`, from its start, into `out`.
// Throws the check's error, or InputError "cannot decode image: WHY".
using ReadFn = void (*)(int fd, const SizeCheck& check, Image& out);

struct Decoder {
    std::string_view name;                                    // as messages name it: "JPEG"
    std::array<std::string_view, 2> extensions;               // lower case, without the dot; the second may be empty
    bool (*recognizes)(std::span<const unsigned char> head);  // null: known by extension only
    ReadFn read;
};

// Bytes enough to recognise every format by its start.
constexpr std::size_t kSignatureBytes = 12;

std::span<const Decoder> decoders();

// Whether files with this lower-case extension count as images.
bool isImageExtension(std::string_view extension);

// The decoder for a file that starts with `head` and has `extension`, or
// null.
const Decoder* decoderFor(std::span<const unsigned char> head, std::string_view extension);

// "PNG, BMP, JPEG, GIF, WebP, TGA and TIFF", or with `last` "or".
std::string decoderNames(std::string_view last = "and");

}  // namespace vintrix
