#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>

#include "PackerContract.h"
#include "file.h"

namespace vintrix {

// How far the run is, on stderr. On a terminal: one self-overwriting line,
// shown once the job has run for more than half a second; waiting is said
// by a line of its own instead. With the environment variable
// VINTRIX_PROGRESS=lines, for a program that reads stderr through a pipe:
// the progress lines of PackerContract.h. Otherwise nothing.
class Progress {
public:
    Progress();
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void report(Stage stage, std::size_t done, std::size_t total);
    void clear();

private:
    void reportOnTerminal(Stage stage, std::size_t done, std::size_t total);
    void reportAsLine(Stage stage, std::size_t done, std::size_t total);

    using Clock = std::chrono::steady_clock;
    File stream_;  // a copy of stderr, still there while stderr is muted
    bool lines_ = false;
    bool shown_ = false;
    Clock::time_point start_, last_;
    Stage lastStage_ = Stage::Reading;
    std::size_t lastPercent_ = 0;
    std::mutex mutex_;
};

}  // namespace vintrix
