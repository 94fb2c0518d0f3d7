#include "deflate_blocks.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

using namespace vintrix;

namespace {

// zlib's level and strategy: stored blocks at level 0, the fixed codes with
// Z_FIXED, codes of the block's own otherwise.
struct Kind {
    const char* name;
    int level, strategy;
    friend void PrintTo(const Kind& k, std::ostream* os) { *os << k.name; }
};

class DeflateEndsTest : public ::testing::TestWithParam<Kind> {};

// The stream as zlib wrote it, and refused cut short, of another size or
// without its final block.
TEST_P(DeflateEndsTest, FindsTheFinalBlockAndTheStreamsEnd)
{
    // Rows of a gradient with a few stray bytes: matches, literals and, at
    // level 0, more than one stored block before the flush.
    std::vector<std::uint8_t> data(90000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i % 4 == 3 ? 255 : (i / 4) % 61 + (i % 997 == 0 ? 100 : 0));
    // Raw deflate, its last 3000 bytes after a full flush, so they start a
    // block on the byte `flushByte`.
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, GetParam().level, Z_DEFLATED, -15, 8, GetParam().strategy), Z_OK);
    std::vector<std::uint8_t> stream(deflateBound(&z, data.size()) + 64);
    z.next_out = stream.data();
    z.avail_out = static_cast<uInt>(stream.size());
    z.next_in = data.data();
    z.avail_in = static_cast<uInt>(data.size() - 3000);
    ASSERT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    const std::size_t flushByte = z.total_out;
    z.avail_in = 3000;
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    stream.resize(z.total_out);
    deflateEnd(&z);

    const std::optional<DeflateEnds> ends = findDeflateEnds(stream, data.size());
    ASSERT_TRUE(ends);
    EXPECT_EQ(ends->lastBlockBit, flushByte * 8);  // the rest fits one block
    EXPECT_GT(ends->endBit, (stream.size() - 1) * 8);
    EXPECT_LE(ends->endBit, stream.size() * 8);

    EXPECT_FALSE(findDeflateEnds(stream, data.size() + 1));
    EXPECT_FALSE(findDeflateEnds(stream, data.size() - 1));
    stream.pop_back();
    EXPECT_FALSE(findDeflateEnds(stream, data.size()));
    stream.resize(flushByte);
    EXPECT_FALSE(findDeflateEnds(stream, data.size() - 3000));
}

INSTANTIATE_TEST_SUITE_P(Blocks, DeflateEndsTest,
    ::testing::Values(Kind{"stored", 0, Z_DEFAULT_STRATEGY}, Kind{"fixed", 6, Z_FIXED},
        Kind{"dynamic", 6, Z_DEFAULT_STRATEGY}, Kind{"dynamicBest", 9, Z_DEFAULT_STRATEGY}));

}  // namespace
