#pragma once
// What the decoders leave out, read from a file's own bytes: whether the
// file ends before its image does (the decoders fill the missing part in),
// and how many bits each channel of a BMP holds (Qt widens 5 and 6 bits
// by shifting, so white comes out grey).

#include <array>
#include <cstddef>
#include <string_view>

namespace vintrix {

// Whether a file of `format` (lower-case: "bmp", "gif", "jpeg", "tga"; any
// other is never said to end early) stops before the end of its first
// image's data.
bool endsEarly(std::string_view format, const unsigned char* data, std::size_t size);

// Bits of red, green, blue and alpha in the pixels of a BMP file, 0 for a
// channel it lacks or for a BMP whose channels are not packed bit fields.
std::array<int, 4> bmpChannelBits(const unsigned char* data, std::size_t size);

// Widens channels that came out of the decoder as `bits` bits shifted up
// to 8 (the bits of `bmpChannelBits`) to the full range: 31 of 31 becomes
// 255, not 248. RGBA pixels.
void widenChannels(unsigned char* rgba, std::size_t pixels, const std::array<int, 4>& bits);

}  // namespace vintrix
