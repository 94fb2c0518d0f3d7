#pragma once
// The bytes of a PNG file against two references for the same pixels:
// libpng's default encoding (filters chosen per row, zlib level 6; palette
// images unfiltered) and optipng -o2.

#include <cstdint>
#include <filesystem>

namespace vintrix::bench {

// Decodes `png` with libpng and encodes the same pixels, palette and
// transparency with libpng's defaults; returns the bytes written.
std::uintmax_t libpngDefaultBytes(const std::filesystem::path& png);

// Runs optipng -o2 on a copy of `png` in `scratch`; returns its bytes.
std::uintmax_t optipngBytes(const std::filesystem::path& png, const std::filesystem::path& scratch);

}  // namespace vintrix::bench
