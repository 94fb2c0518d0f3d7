#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace vintrix {

// One self-overwriting progress line on stderr, shown only when stderr is a
// terminal and the job has run for more than half a second.
class Progress {
public:
    Progress();
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void report(const std::string& stage, std::size_t done, std::size_t total);
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    std::FILE* terminal_ = nullptr;  // a copy of stderr, still the terminal while stderr is muted
    bool shown_ = false;
    Clock::time_point start_, last_;
    std::mutex mutex_;
};

}  // namespace vintrix
