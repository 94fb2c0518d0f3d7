#pragma once
// A C stdio file that closes itself.

#include <cstdio>
#include <memory>

namespace vintrix {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace vintrix
