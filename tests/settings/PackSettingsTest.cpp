#include "PackSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vintrix {
namespace {

struct NumberCase {
    std::u16string text;
    double expected;
};

class LeadingNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LeadingNumberTest, ReadsTheNumberAtTheStart)
{
    const auto& [text, expected] = GetParam();
    EXPECT_EQ(LeadingNumber(text), expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, LeadingNumberTest,
    ::testing::Values(NumberCase{u"", 0}, NumberCase{u" 65536", 65536}, NumberCase{u"\t1\n2 3", 123},
        NumberCase{u"- 5", -5}, NumberCase{u"+7", 7}, NumberCase{u"007", 7}, NumberCase{u".5", 0.5},
        NumberCase{u"1.2.3", 1.2}, NumberCase{u"1E+3", 1000}, NumberCase{u"25e-1", 2.5}, NumberCase{u"1 e 2", 100},
        NumberCase{u"3e+", 3}, NumberCase{u"12abc34", 12}, NumberCase{u".", 0}, NumberCase{u"--5", 0},
        NumberCase{u"\r5", 0}, NumberCase{u"\u00a05", 0}, NumberCase{u"\uff15", 0},  // a full-width digit is no digit
        NumberCase{u"1,5", 1},  // "." is the decimal point whatever the locale
        NumberCase{u"&H10", 0}, NumberCase{u"-1e999", -std::numeric_limits<double>::infinity()},
        NumberCase{u"0.0001e310", 1e306}, NumberCase{u"1e-999", 0}, NumberCase{u"0e99999", 0},
        NumberCase{u"1e99999999999999999999", std::numeric_limits<double>::infinity()},
        NumberCase{std::u16string(400, u'9'), std::numeric_limits<double>::infinity()},
        NumberCase{u"0." + std::u16string(400, u'0') + u"1", 0}));

struct RoundingCase {
    double value;
    std::optional<std::int32_t> expected;
};

class RoundToFieldTest : public ::testing::TestWithParam<RoundingCase> {};

TEST_P(RoundToFieldTest, RoundsHalfToEvenWithinThirtyTwoBits)
{
    EXPECT_EQ(RoundToField(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, RoundToFieldTest,
    ::testing::Values(RoundingCase{12.5, 12}, RoundingCase{13.5, 14}, RoundingCase{-12.5, -12},
        RoundingCase{-13.5, -14}, RoundingCase{0.4999, 0}, RoundingCase{65536.4, 65536},
        RoundingCase{2147483647.0, 2147483647}, RoundingCase{2147483647.4, 2147483647},
        RoundingCase{2147483647.5, std::nullopt}, RoundingCase{-2147483648.0, std::numeric_limits<std::int32_t>::min()},
        RoundingCase{-2147483648.5, std::numeric_limits<std::int32_t>::min()},
        RoundingCase{-2147483649.0, std::nullopt}, RoundingCase{-3e9, std::nullopt},
        RoundingCase{-std::numeric_limits<double>::infinity(), std::nullopt},
        RoundingCase{std::numeric_limits<double>::infinity(), std::nullopt}));

// Each box's number is rounded as RoundToField does; the first one out of
// range stops there, and the fields before it keep their new values.
TEST(PackSettingsTest, TakesRoundedNumbersUpToTheFirstOutOfRange)
{
    PackSettings settings;
    EXPECT_EQ(TakeNumbers(settings, u" 65536", u"12.5", u"abc"), std::nullopt);
    EXPECT_EQ(settings.width, 65536);
    EXPECT_EQ(settings.height, 12);
    EXPECT_EQ(settings.margin, 0);
    settings.margin = 7;
    EXPECT_EQ(TakeNumbers(settings, u"512", u"-3e9", u"5"), NumberBox::Height);
    EXPECT_EQ(settings.width, 512);
    EXPECT_EQ(settings.height, 12);
    EXPECT_EQ(settings.margin, 7);
    EXPECT_EQ(TakeNumbers(settings, u"1", u"2", u"-1e99"), NumberBox::Margin);
    EXPECT_EQ(settings.height, 2);
}

TEST(PackSettingsTest, SetFolderAppendsOneSlashUnexamined)
{
    PackSettings settings;
    SetFolder(settings, u"/home/me/sprites");
    EXPECT_EQ(settings.imagesFolder, u"/home/me/sprites/");
    SetFolder(settings, u"/");
    EXPECT_EQ(settings.imagesFolder, u"//");
}

}  // namespace
}  // namespace vintrix
