#include "CommandLine.h"

#include <gtest/gtest.h>

namespace vintrix {
namespace {

struct LineCase {
    std::string label;
    std::u16string name;
    std::u16string folder;
    std::u16string expected;
};

class ComposeCommandLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ComposeCommandLineTest, WritesSevenArgumentsTheShellKeepsApart)
{
    const auto& param = GetParam();
    PackSettings settings;
    TakeName(settings, param.name);
    settings.imagesFolder = param.folder;
    EXPECT_EQ(ComposeCommandLine(settings), param.expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, ComposeCommandLineTest,
    ::testing::Values(
        LineCase{"PlainFolder", u"Vintrix", u"/home/me/img/", u"Vintrix 256 256 Vintrix 8 0 0 /home/me/img/"},
        LineCase{"RootFolder", u"Vintrix", u"//", u"Vintrix 256 256 Vintrix 8 0 0 //"},
        LineCase{"PlainPunctuation", u"a_b-c.d,e+f:g@h%i", u"/x,y+z:@%/",
            u"Vintrix 256 256 a_b-c.d,e+f:g@h%i 8 0 0 /x,y+z:@%/"},
        LineCase{"NonAsciiLetters", u"Blätter", u"/tmp/Über/", u"Vintrix 256 256 Blätter 8 0 0 /tmp/Über/"},
        LineCase{"PaddingTrimmed", u"  sheet  ", u"", u"Vintrix 256 256 sheet 8 0 0 "},
        LineCase{"InnerBlanksQuoted", u"my sheet", u"", u"Vintrix 256 256 'my sheet' 8 0 0 "},
        LineCase{"InnerQuote", u"it's", u"", u"Vintrix 256 256 'it'\\''s' 8 0 0 "},
        LineCase{"CommandSeparatorFolder", u"Vintrix", u"/tmp/a; rm -rf ~/",
            u"Vintrix 256 256 Vintrix 8 0 0 '/tmp/a; rm -rf ~/'"},
        LineCase{"NewlineFolder", u"Vintrix", u"/tmp/a\nb/", u"Vintrix 256 256 Vintrix 8 0 0 '/tmp/a\nb/'"},
        LineCase{"BackslashName", u"a\\b", u"", u"Vintrix 256 256 'a\\b' 8 0 0 "}),
    [](const auto& info) { return info.param.label; });

TEST(ComposeCommandLineTest, WritesNumbersAsPlainDecimals)
{
    PackSettings settings;
    settings.width = -5;
    settings.height = 65536;
    settings.bitsPerPixel = 32;
    settings.outputFormat = 1;
    settings.margin = 2147483647;
    EXPECT_EQ(ComposeCommandLine(settings), u"Vintrix -5 65536 Vintrix 32 1 2147483647 ");
}

}  // namespace
}  // namespace vintrix
