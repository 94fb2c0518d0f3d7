#include "JobOutcome.h"

#include <csignal>
#include <cstring>
#include <vector>

namespace vintrix {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        fields.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos)
            return fields;
        start = end + 1;
    }
}

std::string SignalName(int signal)
{
    if (const char* abbrev = sigabbrev_np(signal))
        return std::string("SIG") + abbrev;
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

bool Succeeded(ShellEnd end)
{
    return !end.signaled && end.code == 0;
}

std::optional<int> StoppingSignal(ShellEnd end)
{
    if (end.signaled)
        return end.code;
    if (end.code > 128 && end.code < 128 + NSIG)
        return end.code - 128;
    return std::nullopt;
}

std::string EndSentence(ShellEnd end, std::string_view searchPath)
{
    if (Succeeded(end))
        return "Done.";
    if (const auto signal = StoppingSignal(end))
        return "Stopped by " + SignalName(*signal) + " before the end; earlier output in Output is left as it was.";
    switch (end.code) {
    case toInt(ExitCode::BadArguments):
        return "Failed: Vintrix did not accept the settings (bad arguments, exit status 2).";
    case toInt(ExitCode::BadInput):
        return "Failed: Vintrix could not use the images (bad input, exit status 3).";
    case toInt(ExitCode::OutputFailed):
        return "Failed: the output could not be written (exit status 4); earlier output in Output is left as it "
               "was.";
    case toInt(ExitCode::Superseded):
        return "Superseded by a later run of the same name, which has put its output in place (exit status 5); "
               "this run's files are removed.";
    case kShellCannotExecute:
        return "Failed: Vintrix was found but could not be run (exit status 126).";
    case kShellNotFound:
        return "Failed: Vintrix was not found. The shell looked for it in:" + Folders(searchPath);
    default:
        return "Failed with exit status " + std::to_string(end.code) + ".";
    }
}

}  // namespace vintrix
