// What the job's window makes of what it sees of a job: the progress lines
// Vintrix prints for a pipe (with VINTRIX_PROGRESS=lines) and the way the
// job's shell ended. Plain C++; the window only shows what these return.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrix {

inline constexpr char kProgressVariable[] = "VINTRIX_PROGRESS";
inline constexpr char kProgressLines[] = "lines";

struct ProgressLine {
    std::string stage;  // reading, packing, palette, writing or waiting
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    bool operator==(const ProgressLine&) const = default;
};

// "progress STAGE DONE TOTAL" with DONE <= TOTAL; anything else is output to
// show as it is.
std::optional<ProgressLine> ParseProgressLine(std::string_view line);

// How the job's shell ended: its exit status, or the signal that ended it.
struct ShellEnd {
    bool signaled = false;
    int code = 0;
};

bool Succeeded(ShellEnd end);

// The signal that stopped the job, if it was stopped: the shell itself ended
// by a signal, or reported one that ended Vintrix as a status above 128.
std::optional<int> StoppingSignal(ShellEnd end);

// One plain sentence for the end of the job. `searchPath` is the PATH the
// shell looked for Vintrix in, listed when it was not found.
std::string EndSentence(ShellEnd end, std::string_view searchPath);

}  // namespace vintrix
