// A property that fails is a finding: abort so that libFuzzer keeps the input.
#pragma once

#include <cstdlib>

namespace vintrix::fuzz {

inline void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

}  // namespace vintrix::fuzz
