// A file descriptor that closes itself, for the packer and the window alike.
#pragma once

#include <utility>

#include <unistd.h>

namespace vintrix {

// Owns a file descriptor; -1 holds none.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // For a file written to, whose close may report that the write failed.
    int close() { return ::close(release()); }

private:
    int fd_ = -1;
};

}  // namespace vintrix
