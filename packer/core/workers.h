#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

namespace vintrix {

// Calls work(i) once for every i below `count`, spread over at most
// `threads` threads, this one among them, and returns when every call has
// returned. A call that throws does not stop the others: once all have
// returned, the failure of the lowest index is thrown again.
//
// With `watch`, the work runs on `threads` other threads while this one
// calls watch(done) about every `period`, done being the calls finished so
// far, and once more with `count` when all are; it wakes as soon as the last
// call returns.
void forEachIndex(std::size_t count, int threads, const std::function<void(std::size_t)>& work,
    const std::function<void(std::size_t done)>& watch = {},
    std::chrono::milliseconds period = std::chrono::milliseconds(100));

}  // namespace vintrix
