#pragma once
// Reading the images folder: which files count as images, decoding them on
// every core, and hashing their pixels so that identical images can be
// folded into one (prepare/duplicates.h). Each format has its decoder
// (decoders.h).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image.h"
#include "image_files.h"

namespace vintrix {

// Decoded images larger than this are refused before decoding, whatever
// their header claims.
constexpr std::int64_t kMaxImagePixels = std::int64_t{1} << 28;

// What the decoded images of a run may take together, unless the
// environment variable VINTRIX_IMAGE_MEMORY_MIB says otherwise. An image that
// would go past it is refused before its pixels are allocated.
constexpr std::uint64_t kDefaultImageMemory = std::uint64_t{1} << 30;
constexpr const char* kImageMemoryVariable = "VINTRIX_IMAGE_MEMORY_MIB";

struct DecodeResult {
    std::vector<Image> images;        // in the order of the names
    std::vector<std::size_t> hashes;  // of each image's pixels, for findDuplicates; empty unless asked
};

// A hash of the image's pixels, for findDuplicates.
std::size_t pixelHash(const Image& image);

using ProgressFn = std::function<void(std::size_t done, std::size_t total)>;

enum class Hashes { Skip, Compute };

// Decodes on `threads` threads, hashing each image on the thread that
// decoded it when asked. The decoded pixels of all images together stay
// within `memory` bytes. Throws InputError with a line for each image that
// cannot be used, in the order of the names, each starting with its quoted
// file name.
DecodeResult decodeImages(const std::string& folder, const std::vector<std::string>& names, Size sheet, int margin,
    int threads, const ProgressFn& progress = {}, Hashes hashes = Hashes::Skip,
    std::uint64_t memory = kDefaultImageMemory);

}  // namespace vintrix
