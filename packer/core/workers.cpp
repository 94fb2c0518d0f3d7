#include "workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vintrix {

void forEachIndex(std::size_t count, int threads, const std::function<void(std::size_t)>& work,
    const std::function<void(std::size_t done)>& watch, std::chrono::milliseconds period)
{
    if (count == 0) {
        if (watch)
            watch(0);
        return;
    }
    const auto wanted = std::min(count, static_cast<std::size_t>(std::max(1, threads)));
    std::vector<std::exception_ptr> failures(count);
    std::atomic<std::size_t> next{0};
    std::size_t done = 0;
    std::mutex mutex;
    std::condition_variable finished;
    auto worker = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) {
            try {
                work(i);
            } catch (...) {
                failures[i] = std::current_exception();
            }
            std::lock_guard lock(mutex);
            if (++done == count)
                finished.notify_one();
        }
    };
    {
        std::vector<std::jthread> pool;
        for (std::size_t t = watch ? 0 : 1; t < wanted; ++t)
            pool.emplace_back(worker);
        if (!watch) {
            worker();
        } else {
            std::unique_lock lock(mutex);
            while (!finished.wait_for(lock, period, [&] { return done == count; })) {
                const std::size_t now = done;
                lock.unlock();
                watch(now);
                lock.lock();
            }
            lock.unlock();
            watch(count);
        }
    }
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

}  // namespace vintrix
