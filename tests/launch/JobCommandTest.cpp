// What the job's window reads: the packer's command in the script, its
// summary, its progress lines and how the shell ended.
#include "JobCommand.h"
#include "JobOutcome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ostream>

namespace vintrix {

void PrintTo(const PackCommand& c, std::ostream* os)
{
    *os << "{" << c.name << " " << SheetFormatOf(c.format).name << " " << c.imagesFolder << " -> " << c.outputFolder
        << "}";
}

namespace {

struct ScriptCase {
    const char* script;
    std::optional<PackCommand> command;
    friend void PrintTo(const ScriptCase& c, std::ostream* os) { *os << '"' << c.script << '"'; }
};

class Scripts : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(Scripts, GiveTheCommandAsVintrixReadsItOrNothing)
{
    EXPECT_EQ(ReadPackCommand(GetParam().script), GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(Table, Scripts,
    ::testing::ValuesIn(std::vector<ScriptCase>{
        // Lines as the window writes them are the round-trip test's; a script may hold others.
        {"# a comment\n\n/usr/bin/Vintrix 1 2 \"a \\$b\" 8 1 0 s\\ t/",
            PackCommand{"a $b", FormatCode::Png, "s t/", "Output"}},
        // NAME and FOLDER as Vintrix takes them, whatever they look like.
        {"Vintrix --data libgdx --output out 1 2 -o 8 --trim 1 0 -x", PackCommand{"-o", FormatCode::Png, "-x", "out"}},
        {"Vintrix -- --trim 2 n 8 1 0 f", PackCommand{"n", FormatCode::Png, "f", "Output"}},
        {"Vintrix -oa// --output=b/ 1 2 n 8 0 0 f --png-level 3; rm x", PackCommand{"n", FormatCode::Bmp, "f", "b"}},
        {"Vintrix 1 2 n 8 0 0 f -o /", PackCommand{"n", FormatCode::Bmp, "f", "/"}},
        // Words the shell would change, or a command Vintrix would refuse.
        {"Vintrix 1 2 n 8 0 0 $HOME/", std::nullopt}, {"Vintrix 1 2 n 8 0 0 \"`x`\"", std::nullopt},
        {"Vintrix 1 2 n 8 0 0 *", std::nullopt}, {"Vintrix 1 2 n 8 0 0 ~/s", std::nullopt},
        {"Vintrix 1 2 n 8 0 0 s < gate", std::nullopt}, {"Vintrix 1 2 n 8 0 0 's", std::nullopt},
        {"Vintrix 1 2 n 8 0 0", std::nullopt}, {"Vintrix 1 2 n 8 0 0 a b", std::nullopt},
        {"Vintrix 1 2 n 8 2 0 a", std::nullopt}, {"Vintrix 1 2 n 8 0 0 a -o", std::nullopt},
        {"echo Vintrix 1 2 n 8 0 0 a", std::nullopt}, {"", std::nullopt}}));

TEST(SummaryLine, GivesTheSheetsAndTheFolderWrittenInto)
{
    EXPECT_EQ(SummaryOutputFolder("packed 3 images into 1 sheet of 8x8 (2.9% full): a/b c/x.png with atlas data "
                                  "a/b c/x.json\nsettings from s/vintrix.toml: output = a/b c"),
        "a/b c");
    EXPECT_EQ(SummaryOutputFolder("packed 1 image into 1 sheet of 8x8 (9% full): x.png with atlas data x.json"), "");
    EXPECT_EQ(SummaryOutputFolder("packed 1 image into 1 sheet of 8x8 (9% full): /x.png with atlas data /x.json"), "/");
    EXPECT_EQ(SummaryOutputFolder("error: \"a.png\": cannot decode image"), std::nullopt);
    EXPECT_EQ(SheetCount("packed 3 images (1 unique) into 1 sheet of 128x64 (2.9% full): Output/a.bmp with atlas "
                         "data Output/a.json"),
        1);
    EXPECT_EQ(SheetCount("packed 30 images into 12 sheets of up to 256x256 (first 82.5% full, 48.6% overall): …"), 12);
    EXPECT_EQ(SheetCount("warning: skipped 1 entry: into 3 sheets"), std::nullopt);
    EXPECT_EQ(SheetCount("packed 3 images into 0 sheets"), std::nullopt);
}

struct LineCase {
    const char* line;
    std::optional<ProgressLine> parsed;
    friend void PrintTo(const LineCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }
};

class ProgressLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(ProgressLines, OnlyWellFormedLinesAreProgress)
{
    EXPECT_EQ(ParseProgressLine(GetParam().line), GetParam().parsed);
}

INSTANTIATE_TEST_SUITE_P(Table, ProgressLines,
    ::testing::ValuesIn(std::vector<LineCase>{{"progress reading 12 500", ProgressLine{"reading", 12, 500}},
        {"progress packing 0 1", ProgressLine{"packing", 0, 1}},
        {"progress writing 18446744073709551615 18446744073709551615", ProgressLine{"writing", UINT64_MAX, UINT64_MAX}},
        {"progress writing 5 4", std::nullopt}, {"progress reading 1 2 3", std::nullopt},
        {"progress  1 2", std::nullopt}, {"progress reading -1 2", std::nullopt},
        {"progress reading 1 2x", std::nullopt}, {"progress reading 1 18446744073709551616", std::nullopt},
        {"error: no images in sprites/ (looked for PNG)", std::nullopt}, {"", std::nullopt}}));

struct EndCase {
    ShellEnd end;
    const char* sentence;
    friend void PrintTo(const EndCase& c, std::ostream* os)
    {
        *os << (c.end.signaled ? "signal " : "status ") << c.end.code;
    }
};

class EndSentences : public ::testing::TestWithParam<EndCase> {};

TEST_P(EndSentences, SayWhatTheStatusMeans)
{
    EXPECT_EQ(EndSentence(GetParam().end, "/work/a b:/opt/bin::/usr/bin"), GetParam().sentence);
}

INSTANTIATE_TEST_SUITE_P(Table, EndSentences,
    ::testing::ValuesIn(std::vector<EndCase>{{{false, 0}, "Done."},
        {{false, 2}, "Failed: Vintrix did not accept the settings (bad arguments, exit status 2)."},
        {{false, 3}, "Failed: Vintrix could not use the images (bad input, exit status 3)."},
        {{false, 4},
            "Failed: the output could not be written (exit status 4); earlier output in Output is left as it was."},
        {{false, 5},
            "Superseded by a later run of the same name, which has put its output in place (exit status 5); this "
            "run's files are removed."},
        {{false, 127},
            "Failed: Vintrix was not found. The shell looked for it in:\n    /work/a b\n    /opt/bin\n"
            "    the current folder\n    /usr/bin"},
        {{false, 126}, "Failed: Vintrix was found but could not be run (exit status 126)."},
        {{false, 1}, "Failed with exit status 1."}, {{false, 128}, "Failed with exit status 128."},
        {{false, 128 + SIGTERM}, "Stopped by SIGTERM before the end; earlier output in Output is left as it was."},
        {{true, SIGKILL}, "Stopped by SIGKILL before the end; earlier output in Output is left as it was."}}));

}  // namespace
}  // namespace vintrix
