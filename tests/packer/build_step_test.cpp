// Vintrix as a step of a build: a limit on the sheets, a depfile, identical
// output left untouched, and the README's Ninja and Make rules run for real.
#include "VintrixFolder.h"

namespace {

using namespace vintrix::test;

// Three sprites of 30x30 need three sheets of 32x32.
class BuildStep : public VintrixFolder {
protected:
    void SetUp() override
    {
        VintrixFolder::SetUp();
        const std::pair<const char*, QColor> sprites[] = {
            {"a.png", Qt::red}, {"b.png", Qt::green}, {"c.png", Qt::blue}};
        for (const auto& [name, colour] : sprites)
            save(FlatSprite(30, 30, colour), name);
    }
};

// ---- --max-sheets -------------------------------------------------------

struct MaxSheetsCase {
    const char* label;
    QStringList options;
    const char* settings;  // the lines of sprites/vintrix.toml; "" for none
    int exitCode;
    const char* err;  // "DIR" stands for the images folder
};

class MaxSheets : public BuildStep, public ::testing::WithParamInterface<MaxSheetsCase> {};

TEST_P(MaxSheets, RefuseARunThatNeedsMoreBeforeWritingAnything)
{
    const MaxSheetsCase& c = GetParam();
    if (*c.settings)
        writeBytes("sprites/vintrix.toml", c.settings);
    const RunResult r = run(QStringList{"32", "32", "n", "32", "1", "0", sprites()} + c.options);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.err, QString(c.err).replace("DIR", sprites()));
    EXPECT_EQ(outputExists(), c.exitCode == Ok);
}

INSTANTIATE_TEST_SUITE_P(Table, MaxSheets,
    ::testing::Values(MaxSheetsCase{"asMany", {"--max-sheets", "3"}, "", Ok, ""},
        MaxSheetsCase{"fewer", {"--max-sheets=2"}, "", BadInput,
            "error: the images need 3 sheets of 32x32, more than the 2 that --max-sheets allows\n"},
        MaxSheetsCase{"fromSettings", {}, "max-sheets = 1\n", BadInput,
            "error: the images need 3 sheets of 32x32, more than the 1 that --max-sheets allows\n"
            "settings from DIRvintrix.toml: max-sheets = 1\n"},
        MaxSheetsCase{"zero", {"--max-sheets", "0"}, "", BadArguments,
            "error: --max-sheets must be a whole number from 1 to 1000000, not \"0\"\n"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
