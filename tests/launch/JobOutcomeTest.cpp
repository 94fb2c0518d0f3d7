#include "JobOutcome.h"

#include <gtest/gtest.h>

#include <csignal>

namespace vintrix {
namespace {

struct LineCase {
    const char* line;
    std::optional<ProgressLine> parsed;
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
