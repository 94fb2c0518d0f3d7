// What the window sends is what Vintrix reads: settings composed into the
// command line, split as the shell splits it, parsed by the packer, give the
// same settings back; and a progress line Vintrix prints is the one the
// window reads.
#include "CommandLine.h"
#include "FileNames.h"
#include "JobCommand.h"
#include "PackSettings.h"
#include "PackerContract.h"
#include "options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <variant>

namespace vintrix {
namespace {

// `line`: the command line as composed, %1 standing for the temporary folder.
struct RoundTripCase {
    std::string label;
    BitsChoice bits;
    FormatChoice format;
    std::u16string width, height, margin, name;
    std::string folder;  // made under a temporary folder
    std::u16string line;
    friend void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.label; }
};

class RoundTripTest : public ::testing::TestWithParam<RoundTripCase> {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vintrix-round-trip-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::filesystem::path root_;
};

TEST_P(RoundTripTest, PackerReadsTheSettingsTheWindowSent)
{
    const RoundTripCase& c = GetParam();
    const std::filesystem::path folder = root_ / c.folder;
    std::filesystem::create_directories(folder);
    PackSettings settings;
    TakeOptions(settings, c.bits, c.format);
    ASSERT_FALSE(TakeNumbers(settings, c.width, c.height, c.margin));
    TakeName(settings, c.name);
    SetFolder(settings, DecodeFileName(folder.string()));

    std::u16string line = c.line;
    line.replace(line.find(u"%1"), 2, DecodeFileName(root_.string()));
    EXPECT_EQ(ComposeCommandLine(settings), line);
    const std::string script = EncodeText(line) + '\n';
    const auto words = ShellWords(script);
    ASSERT_TRUE(words);
    ASSERT_EQ(words->size(), 1 + kArgumentCount);
    EXPECT_EQ(words->front(), kPackerProgram);
    const ParsedCommandLine parsed = parseCommandLine({words->begin() + 1, words->end()});
    ASSERT_TRUE(std::holds_alternative<Options>(parsed));
    const Options& options = std::get<Options>(parsed);

    EXPECT_EQ(
        std::tuple(options.width, options.height, options.margin, ToCode(options.bitDepth), ToCode(options.format)),
        std::tuple(settings.width, settings.height, settings.margin, settings.bitsPerPixel, settings.outputFormat));
    EXPECT_EQ(options.name, EncodeText(TrimBlanks(settings.fileName.text())));
    EXPECT_EQ(options.folder, folder.string() + "/");
    // The job's window reads the same command from the script.
    EXPECT_EQ(
        ReadPackCommand(script), (PackCommand{options.name, options.format, options.folder, options.outputFolder}));
}

// Words with only characters the shell gives no meaning to, non-ASCII
// letters among them, go plain; any other word is quoted whole.
INSTANTIATE_TEST_SUITE_P(Settings, RoundTripTest,
    ::testing::Values(RoundTripCase{"Defaults", BitsChoice::EightBit, FormatChoice::Bmp, u"256", u"256", u"0",
                          u"Vintrix", "sprites", u"Vintrix 256 256 Vintrix 8 0 0 %1/sprites/"},
        RoundTripCase{"LargestSheet", BitsChoice::ThirtyTwoBit, FormatChoice::Png, u"65536", u"1", u"0", u"big", "s",
            u"Vintrix 65536 1 big 32 1 0 %1/s/"},
        RoundTripCase{"BackslashAndMargin", BitsChoice::ThirtyTwoBit, FormatChoice::Bmp, u"640", u"480", u"239",
            u"a\\b", "s", u"Vintrix 640 480 'a\\b' 32 0 239 %1/s/"},
        RoundTripCase{"RoundedNumbersPaddedName", BitsChoice::EightBit, FormatChoice::Png, u"12.5", u" 1e2", u"3.5",
            u"  r  ", "s", u"Vintrix 12 100 r 8 1 4 %1/s/"},
        RoundTripCase{"PlainPunctuation", BitsChoice::EightBit, FormatChoice::Bmp, u"16", u"32", u"3",
            u"a_b-c.d,e+f:g@h%i", "x,y+z:@%", u"Vintrix 16 32 a_b-c.d,e+f:g@h%i 8 0 3 %1/x,y+z:@%/"},
        RoundTripCase{"QuotesAndBlanks", BitsChoice::EightBit, FormatChoice::Png, u"64", u"32", u"1",
            u"it's a \"name\"", "my sprites; $(rm -rf ~) `x` *",
            u"Vintrix 64 32 'it'\\''s a \"name\"' 8 1 1 '%1/my sprites; $(rm -rf ~) `x` */'"},
        RoundTripCase{"DashesAndLineBreak", BitsChoice::ThirtyTwoBit, FormatChoice::Png, u"64", u"64", u"0", u"-o",
            "-\nfolder", u"Vintrix 64 64 -o 32 1 0 '%1/-\nfolder/'"},
        RoundTripCase{"FullNameField", BitsChoice::EightBit, FormatChoice::Bmp, u"64", u"64", u"0",
            std::u16string(kWindowNameUnits, u'\u20AC'), "\xE2\x82\xAC",
            u"Vintrix 64 64 " + std::u16string(kWindowNameUnits, u'\u20AC') + u" 8 0 0 %1/\u20AC/"},
        RoundTripCase{"NotUtf8Folder", BitsChoice::EightBit, FormatChoice::Png, u"64", u"64", u"0", u"n", "a\xFF\xFE",
            u"Vintrix 64 64 n 8 1 0 %1/a\xDCFF\xDCFE/"}),
    [](const auto& info) { return info.param.label; });

TEST(ProgressLineTest, WindowReadsEachStageAsPrinted)
{
    for (const Stage stage : {Stage::Reading, Stage::Packing, Stage::Palette, Stage::Writing, Stage::Waiting}) {
        std::string text = ProgressLineText(stage, 7, 1234567890123);
        ASSERT_TRUE(text.ends_with('\n'));
        text.pop_back();
        const auto line = ParseProgressLine(text);
        ASSERT_TRUE(line) << text;
        EXPECT_EQ(StageFromName(line->stage), stage);
        EXPECT_EQ(line->done, 7u);
        EXPECT_EQ(line->total, 1234567890123u);
    }
}

// The job's window skips the value after an option by the contract's list,
// which must name every option of the packer that takes one.
TEST(OptionsWithValue, AreThePackersOwn)
{
    const std::vector<std::string> packer = optionsTakingValues();
    EXPECT_EQ(std::multiset<std::string>(packer.begin(), packer.end()),
        std::multiset<std::string>(kOptionsWithValue.begin(), kOptionsWithValue.end()));
}

}  // namespace
}  // namespace vintrix
