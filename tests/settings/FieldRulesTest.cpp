#include "FieldRules.h"

#include <gtest/gtest.h>

namespace vintrix {
namespace {

struct BoundCase {
    std::u16string text;
    bool bounded;
};

class UpperBoundTest : public ::testing::TestWithParam<BoundCase> {};

TEST_P(UpperBoundTest, ReplacesTextsAboveTheCeiling)
{
    const auto& [text, bounded] = GetParam();
    const auto replacement = UpperBound(text);
    if (bounded) {
        EXPECT_EQ(replacement, u" 65536");
    } else {
        EXPECT_EQ(replacement, std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, UpperBoundTest,
    ::testing::Values(BoundCase{u"65536", false}, BoundCase{u"0065536", false}, BoundCase{u"65537", true},
        BoundCase{u"65536.4", true}, BoundCase{u"7 0 0 0 0", true}, BoundCase{u"1e999", true},
        BoundCase{u"-1e999", false}, BoundCase{u"", false}));

}  // namespace
}  // namespace vintrix
