#pragma once

#include <stdexcept>

namespace vintrix {

// A failure writing output; the message is one line naming the file.
struct OutputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace vintrix
