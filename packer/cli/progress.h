#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>

#include "file.h"

namespace vintrix {

// Waiting: for another run that holds the output folder's lock, 0 of 0.
enum class Stage { Reading, Packing, Palette, Writing, Waiting };

// How far the run is, on stderr. On a terminal: one self-overwriting line,
// shown once the job has run for more than half a second; waiting is said
// by a line of its own instead. With the environment variable
// VINTRIX_PROGRESS=lines, for a program that reads stderr through a pipe:
// whole lines "progress STAGE DONE TOTAL" (STAGE is reading, packing,
// palette, writing or waiting), one whenever the stage or the whole percent
// changes. Otherwise nothing.
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
