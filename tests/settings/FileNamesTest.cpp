#include "FileNames.h"

#include <gtest/gtest.h>

namespace vintrix {
namespace {

struct NameCase {
    std::string label;
    std::string bytes;
    std::u16string text;
};

class FileNamesTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNamesTest, DecodesAndEncodesBackToTheSameBytes)
{
    const auto& param = GetParam();
    EXPECT_EQ(DecodeFileName(param.bytes), param.text);
    EXPECT_EQ(EncodeText(param.text), param.bytes);
}

INSTANTIATE_TEST_SUITE_P(Names, FileNamesTest,
    ::testing::Values(NameCase{"Ascii", "/tmp/sprites", u"/tmp/sprites"},
        NameCase{"TwoThreeAndFourByteUtf8",
            "\xc3\x9c"
            "ber \xe2\x82\xac \xf0\x9f\x98\x80",
            u"Über € 😀"},
        NameCase{"StrayByte",
            "a\xff"
            "b",
            u"a\xdcff"
            "b"},
        NameCase{"Latin1Name", "caf\xe9", u"caf\xdce9"}, NameCase{"TruncatedSequence", "x\xe2\x82", u"x\xdce2\xdc82"},
        NameCase{"OverlongSlash", "\xc0\xaf", u"\xdcc0\xdcaf"},
        NameCase{"EncodedSurrogate", "\xed\xa0\x80", u"\xdced\xdca0\xdc80"},
        NameCase{"BeyondUnicode", "\xf4\x90\x80\x80", u"\xdcf4\xdc90\xdc80\xdc80"},
        NameCase{"ControlCharacters", "new\nline\t$(x)", u"new\nline\t$(x)"}),
    [](const auto& info) { return info.param.label; });

TEST(EncodeTextTest, ReplacesUnpairedSurrogatesThatCarryNoByte)
{
    EXPECT_EQ(EncodeText(u"a\xd800"
                         "b"),
        "a\xef\xbf\xbd"
        "b");
    EXPECT_EQ(EncodeText(u"\xdc41"), "\xef\xbf\xbd");  // would be an ASCII byte: never carried
    EXPECT_EQ(EncodeText(u"\xdfff"), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace vintrix
