#include "parallel_blocks.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace hueslice::colour {

namespace {

constexpr unsigned kMaxThreads = 8;

}  // namespace

void forEachTask(std::size_t count, unsigned threads,
                 const std::function<void(std::size_t)>& work) {
    if (threads == 0)
        threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, count));
    std::atomic<std::size_t> next{0};
    std::exception_ptr fault;
    std::mutex faultMutex;
    const auto drain = [&] {
        for (std::size_t task = next++; task < count; task = next++) {
            try {
                work(task);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(faultMutex);
                if (!fault)
                    fault = std::current_exception();
                next = count;
            }
        }
    };
    std::vector<std::thread> helpers;
    try {
        for (unsigned t = 1; t < threads; ++t)
            helpers.emplace_back(drain);
    } catch (...) {
        // Fewer threads will do; the calling thread works too.
    }
    drain();
    for (std::thread& helper : helpers)
        helper.join();
    if (fault)
        std::rethrow_exception(fault);
}

void forEachBlock(std::size_t count, unsigned threads,
                  const std::function<void(std::size_t, std::size_t, std::size_t)>& work) {
    forEachTask(blockCount(count), threads, [&](std::size_t block) {
        work(block, block * kBlockSize, std::min(count, (block + 1) * kBlockSize));
    });
}

}  // namespace hueslice::colour
