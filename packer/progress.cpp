#include "progress.h"

#include <cstdio>

#include <unistd.h>

namespace vintrix {

Progress::Progress() : start_(Clock::now()), last_(start_) {
    if (::isatty(STDERR_FILENO) == 1) {
        const int fd = ::dup(STDERR_FILENO);
        if (fd >= 0 && !(terminal_ = ::fdopen(fd, "w")))
            ::close(fd);
    }
}

Progress::~Progress() {
    clear();
    if (terminal_)
        std::fclose(terminal_);
}

void Progress::report(const std::string& stage, std::size_t done, std::size_t total) {
    if (!terminal_)
        return;
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) || (shown_ && now - last_ < std::chrono::milliseconds(100)))
        return;
    last_ = now;
    shown_ = true;
    std::fprintf(terminal_, "\r\033[KVintrix: %s %zu/%zu", stage.c_str(), done, total);
    std::fflush(terminal_);
}

void Progress::clear() {
    std::lock_guard lock(mutex_);
    if (!shown_)
        return;
    std::fprintf(terminal_, "\r\033[K");
    std::fflush(terminal_);
    shown_ = false;
}

}  // namespace vintrix
