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

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <variant>

namespace vintrix {
namespace {

struct RoundTripCase {
    std::string label;
    BitsChoice bits;
    FormatChoice format;
    std::u16string width, height, margin, name;
    std::string folder;  // made under a temporary folder
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

    const auto words = ShellWords(EncodeText(ComposeCommandLine(settings)) + '\n');
    ASSERT_TRUE(words);
    ASSERT_EQ(words->size(), 1 + kArgumentCount);
    EXPECT_EQ(words->front(), kPackerProgram);
    const ParsedCommandLine parsed = parseCommandLine({words->begin() + 1, words->end()});
    ASSERT_TRUE(std::holds_alternative<Options>(parsed));
    const Options& options = std::get<Options>(parsed);

    EXPECT_EQ(options.width, settings.width);
    EXPECT_EQ(options.height, settings.height);
    EXPECT_EQ(options.margin, settings.margin);
    EXPECT_EQ(options.name, EncodeText(TrimBlanks(settings.fileName.text())));
    EXPECT_EQ(ToCode(options.bitDepth), settings.bitsPerPixel);
    EXPECT_EQ(options.format == FormatCode::Png, settings.outputFormat == ToCode(FormatCode::Png));
    EXPECT_EQ(options.folder, folder.string() + "/");
}

INSTANTIATE_TEST_SUITE_P(Settings, RoundTripTest,
    ::testing::Values(
        RoundTripCase{"Defaults", BitsChoice::EightBit, FormatChoice::Bmp, u"256", u"256", u"0", u"Vintrix", "sprites"},
        RoundTripCase{"LargestSheet", BitsChoice::ThirtyTwoBit, FormatChoice::Png, u"65536", u"1", u"0", u"big", "s"},
        RoundTripCase{"WideWithMargin", BitsChoice::ThirtyTwoBit, FormatChoice::Bmp, u"640", u"480", u"239", u"w", "s"},
        RoundTripCase{"RoundedNumbers", BitsChoice::EightBit, FormatChoice::Png, u"12.5", u" 1e2", u"3.5", u"r", "s"},
        RoundTripCase{"QuotesAndBlanks", BitsChoice::EightBit, FormatChoice::Png, u"64", u"32", u"1",
            u"it's a \"name\"", "my sprites; $(rm -rf ~) `x` *"},
        RoundTripCase{
            "DashesAndLineBreak", BitsChoice::ThirtyTwoBit, FormatChoice::Png, u"64", u"64", u"0", u"-o", "-\nfolder"},
        RoundTripCase{"FullNameField", BitsChoice::EightBit, FormatChoice::Bmp, u"64", u"64", u"0",
            std::u16string(kWindowNameUnits, u'\u20AC'), "\xE2\x82\xAC"},
        RoundTripCase{"NotUtf8Folder", BitsChoice::EightBit, FormatChoice::Png, u"64", u"64", u"0", u"n", "a\xFF\xFE"}),
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
    std::vector<std::string> packer = optionsTakingValues();
    std::vector<std::string> contract(kOptionsWithValue.begin(), kOptionsWithValue.end());
    std::sort(packer.begin(), packer.end());
    std::sort(contract.begin(), contract.end());
    EXPECT_EQ(packer, contract);
}

}  // namespace
}  // namespace vintrix
