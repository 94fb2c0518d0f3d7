// What the fuzzers share: a check that keeps the input when it fails, and
// the input split into parts.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace vintrix::fuzz {

// A property that fails is a finding: abort so that libFuzzer keeps the input.
inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The input split at each byte of `separators`, into at most `max` parts:
// the rest of the input goes with the last part's separator.
inline std::vector<std::string> split(
    const std::uint8_t* data, std::size_t size, std::string_view separators, std::size_t max = SIZE_MAX)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (separators.find(c) == std::string_view::npos)
            parts.back() += c;
        else if (parts.size() == max)
            break;
        else
            parts.emplace_back();
    }
    return parts;
}

}  // namespace vintrix::fuzz
