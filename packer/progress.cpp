#include "progress.h"

#include <cstdio>

#include <unistd.h>

namespace vintrix {

Progress::Progress() : enabled_(::isatty(STDERR_FILENO) == 1), start_(Clock::now()), last_(start_) {}

Progress::~Progress() { clear(); }

void Progress::report(const std::string& stage, std::size_t done, std::size_t total) {
    if (!enabled_)
        return;
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) || (shown_ && now - last_ < std::chrono::milliseconds(100)))
        return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\r\033[KVintrix: %s %zu/%zu", stage.c_str(), done, total);
    std::fflush(stderr);
}

void Progress::clear() {
    std::lock_guard lock(mutex_);
    if (!shown_)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace vintrix
