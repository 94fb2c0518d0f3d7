#include "progress.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace vintrix {

namespace {

// How each stage is named on a terminal.
const char* terminalName(Stage stage)
{
    switch (stage) {
    case Stage::Reading:
        return "reading images";
    case Stage::Packing:
        return "packing";
    case Stage::Palette:
        return "choosing palettes";
    case Stage::Writing:
        return "writing sheets, row";
    case Stage::Waiting:
        return "";
    }
    return "";
}

}  // namespace

Progress::Progress() : start_(Clock::now()), last_(start_)
{
    const char* mode = std::getenv(kProgressVariable);
    lines_ = mode && std::strcmp(mode, kProgressLines) == 0;
    if (lines_ || ::isatty(STDERR_FILENO) == 1) {
        UniqueFd fd(::dup(STDERR_FILENO));
        if (fd) {
            stream_.reset(::fdopen(fd.get(), "w"));
            if (stream_)
                fd.release();  // closed with stream_
        }
    }
}

Progress::~Progress()
{
    clear();
}

void Progress::report(Stage stage, std::size_t done, std::size_t total)
{
    if (!stream_)
        return;
    std::lock_guard lock(mutex_);
    if (lines_)
        reportAsLine(stage, done, total);
    else
        reportOnTerminal(stage, done, total);
}

void Progress::reportAsLine(Stage stage, std::size_t done, std::size_t total)
{
    const std::size_t percent = total == 0 ? 100 : done * 100 / total;
    if (shown_ && stage == lastStage_ && percent == lastPercent_)
        return;
    shown_ = true;
    lastStage_ = stage;
    lastPercent_ = percent;
    std::fputs(ProgressLineText(stage, done, total).c_str(), stream_.get());
    std::fflush(stream_.get());
}

void Progress::reportOnTerminal(Stage stage, std::size_t done, std::size_t total)
{
    if (stage == Stage::Waiting)
        return;
    const auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) || (shown_ && now - last_ < std::chrono::milliseconds(100)))
        return;
    last_ = now;
    shown_ = true;
    std::fprintf(stream_.get(), "\r\033[KVintrix: %s %zu/%zu", terminalName(stage), done, total);
    std::fflush(stream_.get());
}

void Progress::clear()
{
    std::lock_guard lock(mutex_);
    if (!shown_ || lines_)
        return;
    std::fprintf(stream_.get(), "\r\033[K");
    std::fflush(stream_.get());
    shown_ = false;
}

}  // namespace vintrix
