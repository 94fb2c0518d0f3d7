#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace vintrix {

// One self-overwriting progress line on stderr, shown only when stderr is a
// terminal and the job has run for more than half a second.
class Progress {
public:
    Progress();
    ~Progress();
    void report(const std::string& stage, std::size_t done, std::size_t total);
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_, last_;
    std::mutex mutex_;
};

}  // namespace vintrix
