#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vintrix {

// Where the blocks of a raw deflate stream lie, in bits from its first byte.
struct DeflateEnds {
    std::size_t lastBlockBit = 0;  // the header of the block marked final
    std::size_t endBit = 0;        // just past that block's end
};

// Reads the block structure of `stream` without producing its data: the
// Huffman codes are decoded and each match only counted. Returns nothing
// unless the stream is whole, ends with a final block and holds exactly
// `rawSize` bytes.
std::optional<DeflateEnds> findDeflateEnds(std::span<const std::uint8_t> stream, std::size_t rawSize);

}  // namespace vintrix
