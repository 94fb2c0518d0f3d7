#include "FieldRules.h"

#include <gtest/gtest.h>

namespace vintrix {
namespace {

TEST(NumericKeyFilterTest, PassesOnlyBackspaceAndDigitsOfAllCodes)
{
    for (std::uint32_t code = 0; code <= 0xFFFF; ++code) {
        const bool expected = code == 8 || (code >= '0' && code <= '9');
        ASSERT_EQ(NumericKeyPasses(static_cast<char16_t>(code)), expected) << "code " << code;
    }
}

TEST(NameKeyFilterTest, PassesEveryCodeUpToFiftyOneUnits)
{
    const std::u16string fifty(50, u'x');
    const std::u16string fiftyOne(51, u'x');
    for (std::uint32_t code = 0; code <= 0xFFFF; ++code) {
        const auto c = static_cast<char16_t>(code);
        ASSERT_TRUE(NameKeyPasses(u"", c)) << "code " << code;
        ASSERT_TRUE(NameKeyPasses(fifty, c)) << "code " << code;
        ASSERT_EQ(NameKeyPasses(fiftyOne, c), code == 8) << "code " << code;
    }
}

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

INSTANTIATE_TEST_SUITE_P(
    Texts, UpperBoundTest,
    ::testing::Values(BoundCase{u"65536", false}, BoundCase{u" 65536", false},
                      BoundCase{u"65537", true}, BoundCase{u"65536.4", true},
                      BoundCase{u"1e9", true}, BoundCase{u"7 0 0 0 0", true},
                      BoundCase{u"1e999", true}, BoundCase{u"abc", false},
                      BoundCase{u"-5", false}, BoundCase{u"-1e999", false},
                      BoundCase{u"", false}, BoundCase{u"0065536", false}));

TEST(UpperBoundTest, ItsOwnReplacementStaysPut)
{
    EXPECT_EQ(UpperBound(*UpperBound(u"70000")), std::nullopt);
}

TEST(EmptyRefillTest, RefillsOnlyTheEmptyText)
{
    EXPECT_EQ(EmptyRefill(u"", u"256"), u"256");
    EXPECT_EQ(EmptyRefill(u"", u"Vintrix"), u"Vintrix");
    EXPECT_EQ(EmptyRefill(u" ", u"256"), std::nullopt);
    EXPECT_EQ(EmptyRefill(u"abc", u"0"), std::nullopt);
}

}  // namespace
}  // namespace vintrix
