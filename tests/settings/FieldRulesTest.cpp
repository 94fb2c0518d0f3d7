#include "FieldRules.h"

#include <gtest/gtest.h>

namespace vintrix {
namespace {

TEST(NumericKeyFilterTest, PassesOnlyBackspaceAndTheDigits)
{
    for (const char16_t code : {u'\b', u'0', u'5', u'9'}) {
        EXPECT_TRUE(NumericKeyPasses(code)) << int(code);
    }
    // Neighbours of the digits, sign, point, exponent, blank, delete, a
    // full-width digit and control characters.
    for (const char16_t code :
        {u'/', u':', u'-', u'+', u'.', u'e', u' ', u'\x7f', u'\uff15', u'\0', u'\x07', u'\x09', u'\x16'}) {
        EXPECT_FALSE(NumericKeyPasses(code)) << int(code);
    }
}

TEST(NameKeyFilterTest, RefusesAllButBackspaceOnceLongerThanFifty)
{
    const std::u16string fifty(50, u'x');
    const std::u16string fiftyOne(51, u'x');
    for (const char16_t code : {u'a', u' ', u'/', u'\x16', u'\x7f', u'\uffff'}) {
        EXPECT_TRUE(NameKeyPasses(u"", code)) << int(code);
        EXPECT_TRUE(NameKeyPasses(fifty, code)) << int(code);
        EXPECT_FALSE(NameKeyPasses(fiftyOne, code)) << int(code);
        EXPECT_FALSE(NameKeyPasses(std::u16string(400, u'x'), code)) << int(code);
    }
    EXPECT_TRUE(NameKeyPasses(fiftyOne, u'\b'));
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

INSTANTIATE_TEST_SUITE_P(Texts, UpperBoundTest,
    ::testing::Values(BoundCase{u"65536", false}, BoundCase{u"0065536", false}, BoundCase{u"65537", true},
        BoundCase{u"65536.4", true}, BoundCase{u"7 0 0 0 0", true}, BoundCase{u"1e999", true},
        BoundCase{u"-1e999", false}, BoundCase{u"", false}));

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
