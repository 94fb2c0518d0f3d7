#include "deflate_blocks.h"

#include <array>
#include <bit>
#include <cstring>

namespace vintrix {
namespace {

// Bits are taken from the least significant end of each byte first. Past
// the end of the stream they read as zeros; the caller checks overrun().
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> data) : data_(data) {}

    // The next 32 bits or more.
    std::uint32_t peek() const
    {
        const std::size_t byte = bit_ / 8;
        std::uint64_t word = 0;
        if (std::endian::native == std::endian::little && byte + 8 <= data_.size())
            std::memcpy(&word, data_.data() + byte, 8);
        else
            for (std::size_t i = byte; i < data_.size() && i < byte + 8; ++i)
                word |= std::uint64_t{data_[i]} << (8 * (i - byte));
        return static_cast<std::uint32_t>(word >> (bit_ % 8));
    }

    // At most 16 bits.
    std::uint32_t take(int n)
    {
        const std::uint32_t v = peek() & ((1u << n) - 1);
        bit_ += static_cast<std::size_t>(n);
        return v;
    }

    void skip(std::size_t n) { bit_ += n; }
    void toByte() { bit_ = (bit_ + 7) / 8 * 8; }
    std::size_t bit() const { return bit_; }
    bool overrun() const { return bit_ > data_.size() * 8; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t bit_ = 0;
};

constexpr int kMaxBits = 15;
constexpr int kFastBits = 10;

// A canonical Huffman code: codes of up to kFastBits bits are looked up in
// one step, longer ones walked a bit at a time.
class HuffmanCode {
public:
    // False when the lengths do not make a prefix code.
    bool build(const std::uint8_t* lengths, int n)
    {
        count_.fill(0);
        for (int s = 0; s < n; ++s)
            ++count_[lengths[s]];
        count_[0] = 0;
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = left * 2 - count_[len];
            if (left < 0)
                return false;
        }
        std::array<std::uint16_t, kMaxBits + 1> next{};
        for (int len = 1; len < kMaxBits; ++len)
            next[len + 1] = static_cast<std::uint16_t>(next[len] + count_[len]);
        for (int s = 0; s < n; ++s)
            if (lengths[s] != 0)
                symbols_[next[lengths[s]]++] = static_cast<std::uint16_t>(s);
        fast_.fill(0);
        unsigned code = 0;
        int index = 0;
        for (int len = 1; len <= kFastBits; ++len) {
            for (int k = 0; k < count_[len]; ++k, ++code) {
                unsigned reversed = 0;
                for (int b = 0; b < len; ++b)
                    reversed |= ((code >> b) & 1u) << (len - 1 - b);
                const auto entry = static_cast<std::uint16_t>(symbols_[index++] << 4 | len);
                for (unsigned r = reversed; r < (1u << kFastBits); r += 1u << len)
                    fast_[r] = entry;
            }
            code <<= 1;
        }
        return true;
    }

    // The next symbol, or -1 when the bits match no code.
    int decode(BitReader& in) const
    {
        const std::uint32_t bits = in.peek();
        const std::uint16_t entry = fast_[bits & ((1u << kFastBits) - 1)];
        if (entry != 0) {
            in.skip(entry & 15u);
            return entry >> 4;
        }
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code |= static_cast<int>((bits >> (len - 1)) & 1u);
            if (code - first < count_[len]) {
                in.skip(static_cast<std::size_t>(len));
                return symbols_[static_cast<std::size_t>(index + code - first)];
            }
            index += count_[len];
            first = (first + count_[len]) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    std::array<int, kMaxBits + 1> count_{};
    std::array<std::uint16_t, 288> symbols_{};
    std::array<std::uint16_t, 1u << kFastBits> fast_{};  // symbol << 4 | length, 0 for longer codes
};

constexpr std::array<std::uint16_t, 29> kLengthBase = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

bool readFixedCodes(HuffmanCode& literals, HuffmanCode& distances)
{
    std::array<std::uint8_t, 288> lengths{};
    std::fill(lengths.begin(), lengths.begin() + 144, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    std::fill(lengths.begin() + 280, lengths.end(), 8);
    std::array<std::uint8_t, 30> distanceLengths;
    distanceLengths.fill(5);
    return literals.build(lengths.data(), 288) && distances.build(distanceLengths.data(), 30);
}

bool readDynamicCodes(BitReader& in, HuffmanCode& literals, HuffmanCode& distances)
{
    const int literalCount = static_cast<int>(in.take(5)) + 257, distanceCount = static_cast<int>(in.take(5)) + 1;
    const int codeCount = static_cast<int>(in.take(4)) + 4;
    if (literalCount > 286 || distanceCount > 30)
        return false;
    static constexpr std::array<std::uint8_t, 19> kOrder = {
        16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::array<std::uint8_t, 19> codeLengths{};
    for (int i = 0; i < codeCount; ++i)
        codeLengths[kOrder[static_cast<std::size_t>(i)]] = static_cast<std::uint8_t>(in.take(3));
    HuffmanCode lengthCode;
    if (!lengthCode.build(codeLengths.data(), 19))
        return false;
    std::array<std::uint8_t, 286 + 30> lengths{};
    const int total = literalCount + distanceCount;
    for (int i = 0; i < total;) {
        const int symbol = lengthCode.decode(in);
        if (symbol < 0 || in.overrun())
            return false;
        if (symbol < 16) {
            lengths[static_cast<std::size_t>(i++)] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t value = 0;
        int repeat = 0;
        if (symbol == 16) {
            if (i == 0)
                return false;
            value = lengths[static_cast<std::size_t>(i - 1)];
            repeat = 3 + static_cast<int>(in.take(2));
        } else if (symbol == 17) {
            repeat = 3 + static_cast<int>(in.take(3));
        } else {
            repeat = 11 + static_cast<int>(in.take(7));
        }
        if (i + repeat > total)
            return false;
        while (repeat-- > 0)
            lengths[static_cast<std::size_t>(i++)] = value;
    }
    return lengths[256] != 0 && literals.build(lengths.data(), literalCount) &&
        distances.build(lengths.data() + literalCount, distanceCount);
}

}  // namespace

std::optional<DeflateEnds> findDeflateEnds(std::span<const std::uint8_t> stream, std::size_t rawSize)
{
    BitReader in(stream);
    HuffmanCode literals, distances;
    std::size_t out = 0;
    for (;;) {
        const std::size_t header = in.bit();
        const bool final = in.take(1) != 0;
        const std::uint32_t type = in.take(2);
        if (type == 0) {
            in.toByte();
            const std::uint32_t length = in.take(16);
            if ((length ^ 0xffffu) != in.take(16))
                return std::nullopt;
            in.skip(std::size_t{length} * 8);
            out += length;
        } else {
            if (type == 3 ||
                !(type == 1 ? readFixedCodes(literals, distances) : readDynamicCodes(in, literals, distances)))
                return std::nullopt;
            for (;;) {
                const int symbol = literals.decode(in);
                if (symbol < 256) {
                    if (symbol < 0)
                        return std::nullopt;
                    ++out;
                } else if (symbol == 256) {
                    break;
                } else {
                    const auto s = static_cast<std::size_t>(symbol - 257);
                    if (s >= kLengthBase.size())
                        return std::nullopt;
                    out += kLengthBase[s] + in.take(kLengthExtra[s]);
                    const int distance = distances.decode(in);
                    if (distance < 0 || distance >= 30)
                        return std::nullopt;
                    in.skip(distance < 4 ? 0 : static_cast<std::size_t>(distance / 2 - 1));
                }
                if (out > rawSize || in.overrun())
                    return std::nullopt;
            }
        }
        if (out > rawSize || in.overrun())
            return std::nullopt;
        if (final) {
            if (out != rawSize)
                return std::nullopt;
            return DeflateEnds{header, in.bit()};
        }
    }
}

}  // namespace vintrix
