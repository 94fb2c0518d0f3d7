// The job's settings as the window's boxes give them: numbers read and
// rounded, the bound of the numeric boxes, the command line composed for the
// shell, and folder names carried as bytes.
#include "CommandLine.h"
#include "FieldRules.h"
#include "FileNames.h"
#include "PackSettings.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <limits>
#include <ostream>
#include <string>

namespace vintrix {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// `bounded`: whether a numeric box replaces the text by " 65536". A case
// prints as UTF-8, long runs cut short.
struct NumberCase {
    std::u16string text;
    double expected;
    bool bounded = false;
    friend void PrintTo(const NumberCase& c, std::ostream* os)
    {
        const std::string bytes = EncodeText(c.text);
        *os << '"' << (bytes.size() > 40 ? bytes.substr(0, 37) + "..." : bytes) << '"';
    }
};

class LeadingNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LeadingNumberTest, ReadsTheNumberAtTheStartAndBoundsIt)
{
    const auto& [text, expected, bounded] = GetParam();
    EXPECT_EQ(LeadingNumber(text), expected);
    EXPECT_EQ(UpperBound(text), bounded ? std::optional<std::u16string>(u" 65536") : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Texts, LeadingNumberTest,
    ::testing::ValuesIn(std::vector<NumberCase>{{u"", 0}, {u" 65536", 65536}, {u"0065536", 65536},
        {u"65537", 65537, true}, {u"65536.4", 65536.4, true}, {u"7 0 0 0 0", 70000, true}, {u"\t1\n2 3", 123},
        {u"- 5", -5}, {u"+7", 7}, {u"007", 7}, {u".5", 0.5}, {u"1.2.3", 1.2}, {u"1E+3", 1000}, {u"25e-1", 2.5},
        {u"1 e 2", 100}, {u"3e+", 3}, {u"12abc34", 12}, {u".", 0}, {u"--5", 0}, {u"\r5", 0}, {u"\u00a05", 0},
        {u"\uff15", 0},  // a full-width digit is no digit
        {u"1,5", 1},     // "." is the decimal point whatever the locale
        {u"&H10", 0}, {u"-1e999", -kInfinity}, {u"0.0001e310", 1e306, true}, {u"1e-999", 0}, {u"0e99999", 0},
        {u"1e99999999999999999999", kInfinity, true}, {std::u16string(400, u'9'), kInfinity, true},
        {u"0." + std::u16string(400, u'0') + u"1", 0}}));

struct RoundingCase {
    double value;
    std::optional<std::int32_t> expected;
    friend void PrintTo(const RoundingCase& c, std::ostream* os) { *os << std::setprecision(12) << c.value; }
};

class RoundToFieldTest : public ::testing::TestWithParam<RoundingCase> {};

TEST_P(RoundToFieldTest, RoundsHalfToEvenWithinThirtyTwoBits)
{
    EXPECT_EQ(RoundToField(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, RoundToFieldTest,
    ::testing::ValuesIn(std::vector<RoundingCase>{{12.5, 12}, {13.5, 14}, {-12.5, -12}, {-13.5, -14}, {0.4999, 0},
        {65536.4, 65536}, {2147483647.0, 2147483647}, {2147483647.4, 2147483647}, {2147483647.5, std::nullopt},
        {-2147483648.0, std::numeric_limits<std::int32_t>::min()},
        {-2147483648.5, std::numeric_limits<std::int32_t>::min()}, {-2147483649.0, std::nullopt}, {-3e9, std::nullopt},
        {-kInfinity, std::nullopt}, {kInfinity, std::nullopt}}));

TEST(ComposeCommandLineTest, WritesNumbersAsPlainDecimals)
{
    PackSettings settings;
    TakeOptions(settings, BitsChoice::ThirtyTwoBit, FormatChoice::Png);
    ASSERT_EQ(TakeNumbers(settings, u"-5", u"65536", u"2147483647"), std::nullopt);
    EXPECT_EQ(ComposeCommandLine(settings), u"Vintrix -5 65536 Vintrix 32 1 2147483647 ");
}

struct NameCase {
    std::string label;
    std::string bytes;
    std::u16string text;
    friend void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }
};

class FileNamesTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNamesTest, DecodesAndEncodesBackToTheSameBytes)
{
    const auto& param = GetParam();
    EXPECT_EQ(DecodeFileName(param.bytes), param.text);
    EXPECT_EQ(EncodeText(param.text), param.bytes);
}

INSTANTIATE_TEST_SUITE_P(Names, FileNamesTest,
    ::testing::ValuesIn(std::vector<NameCase>{{"Ascii", "/tmp/sprites", u"/tmp/sprites"},
        {"TwoThreeAndFourByteUtf8", "Über € 😀", u"Über € 😀"}, {"StrayByte", "a\xff-b", u"a\xdcff-b"},
        {"Latin1Name", "caf\xe9", u"caf\xdce9"}, {"TruncatedSequence", "x\xe2\x82", u"x\xdce2\xdc82"},
        {"OverlongSlash", "\xc0\xaf", u"\xdcc0\xdcaf"},
        {"ThreeByteOverlongSlash", "\xe0\x80\xaf", u"\xdce0\xdc80\xdcaf"},
        {"FourByteOverlongSlash", "\xf0\x80\x80\xaf", u"\xdcf0\xdc80\xdc80\xdcaf"},
        {"EncodedSurrogate", "\xed\xa0\x80", u"\xdced\xdca0\xdc80"},
        {"BeyondUnicode", "\xf4\x90\x80\x80", u"\xdcf4\xdc90\xdc80\xdc80"},
        {"ControlCharacters", "new\nline\t$(x)", u"new\nline\t$(x)"}}),
    [](const auto& info) { return info.param.label; });

// U+DC41 would be an ASCII byte: it is never carried.
TEST(EncodeTextTest, ReplacesUnpairedSurrogatesThatCarryNoByte)
{
    EXPECT_EQ(EncodeText(u"a\xd800-\xdc41-\xdfff"), "a\xef\xbf\xbd-\xef\xbf\xbd-\xef\xbf\xbd");
}

}  // namespace
}  // namespace vintrix
