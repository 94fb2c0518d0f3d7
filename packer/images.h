#pragma once
// Reading the images folder: which files count as images, decoding them on
// every core, and folding identical images into one. PNG files are decoded
// with libpng; the other formats with Qt, loaded only when one is present.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image.h"
#include "maxrects.h"

namespace vintrix {

// Decoded images larger than this are refused before decoding, whatever
// their header claims.
constexpr std::int64_t kMaxImagePixels = std::int64_t{1} << 28;

// Names (not paths) of the image files directly in `folder`, sorted by their
// bytes so the order never depends on the locale or the file system.
std::vector<std::string> listImageFiles(const std::string& folder);

struct DecodeResult {
    std::vector<Image> images;        // in the order of the names
    std::vector<std::size_t> hashes;  // of each image's pixels, for findDuplicates; empty unless asked
    std::vector<std::string> errors;  // one line each, in the order of the names
};

using ProgressFn = std::function<void(std::size_t done, std::size_t total)>;

enum class Hashes { Skip, Compute };

// Decodes on `threads` threads, hashing each image on the thread that
// decoded it when asked.
DecodeResult decodeImages(const std::string& folder, const std::vector<std::string>& names, Size sheet, int margin,
                          int threads, const ProgressFn& progress = {}, Hashes hashes = Hashes::Skip);

struct UniqueImages {
    std::vector<std::size_t> first;    // for each unique image, the index of its first input
    std::vector<std::size_t> uniqueOf; // for each input, the index of its unique image
};

// Images of the same size and the same pixels share one entry. `hashes` as
// decodeImages gives them.
UniqueImages findDuplicates(const std::vector<Image>& images, const std::vector<std::size_t>& hashes);

std::size_t pixelHash(const Image& image);

}  // namespace vintrix
