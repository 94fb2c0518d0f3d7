#include "JobOutcome.h"

#include <charconv>
#include <csignal>
#include <cstring>
#include <vector>

namespace vintrix {

namespace {

// Exit statuses of Vintrix (see its --help) and of the shell.
constexpr int kBadArguments = 2;
constexpr int kBadInput = 3;
constexpr int kOutputFailed = 4;
constexpr int kSuperseded = 5;
constexpr int kCannotExecute = 126;
constexpr int kNotFound = 127;

std::optional<std::uint64_t> Number(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        fields.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return fields;
        }
        start = end + 1;
    }
}

std::string SignalName(int signal)
{
    if (const char* abbrev = sigabbrev_np(signal)) {
        return std::string("SIG") + abbrev;
    }
    return "signal " + std::to_string(signal);
}

std::string Folders(std::string_view searchPath)
{
    std::string list;
    for (const std::string_view folder : Split(searchPath, ':')) {
        list += "\n    ";
        list += folder.empty() || folder == "." ? std::string_view("the current folder") : folder;
    }
    return list;
}

}  // namespace

std::optional<ProgressLine> ParseProgressLine(std::string_view line)
{
    const auto fields = Split(line, ' ');
    if (fields.size() != 4 || fields[0] != "progress" || fields[1].empty()) {
        return std::nullopt;
    }
    const auto done = Number(fields[2]);
    const auto total = Number(fields[3]);
    if (!done || !total || *done > *total) {
        return std::nullopt;
    }
    return ProgressLine{std::string(fields[1]), *done, *total};
}

bool Succeeded(ShellEnd end)
{
    return !end.signaled && end.code == 0;
}

std::optional<int> StoppingSignal(ShellEnd end)
{
    if (end.signaled) {
        return end.code;
    }
    if (end.code > 128 && end.code < 128 + NSIG) {
        return end.code - 128;
    }
    return std::nullopt;
}

std::string EndSentence(ShellEnd end, std::string_view searchPath)
{
    if (Succeeded(end)) {
        return "Done.";
    }
    if (const auto signal = StoppingSignal(end)) {
        return "Stopped by " + SignalName(*signal) + " before the end; earlier output in Output is left as it was.";
    }
    switch (end.code) {
    case kBadArguments:
        return "Failed: Vintrix did not accept the settings (bad arguments, exit status 2).";
    case kBadInput:
        return "Failed: Vintrix could not use the images (bad input, exit status 3).";
    case kOutputFailed:
        return "Failed: the output could not be written (exit status 4); earlier output in Output is left as it "
               "was.";
    case kSuperseded:
        return "Superseded by a later run of the same name, which has put its output in place (exit status 5); "
               "this run's files are removed.";
    case kCannotExecute:
        return "Failed: Vintrix was found but could not be run (exit status 126).";
    case kNotFound:
        return "Failed: Vintrix was not found. The shell looked for it in:" + Folders(searchPath);
    default:
        return "Failed with exit status " + std::to_string(end.code) + ".";
    }
}

}  // namespace vintrix
