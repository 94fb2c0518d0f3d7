#pragma once
// Files that close themselves: a C stdio file, and a file descriptor (UniqueFd).

#include <cstdio>
#include <memory>

#include "UniqueFd.h"

namespace vintrix {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace vintrix
