#pragma once

// Work over many colours split into blocks of a fixed size, so that what each block computes,
// and the order in which the caller combines the blocks, never depends on the thread count.

#include <cstddef>
#include <functional>

namespace hueslice::colour {

// Colours per block: enough that a block outweighs handing it to a thread.
inline constexpr std::size_t kBlockSize = 4096;

// The number of blocks `count` items make.
inline std::size_t blockCount(std::size_t count) {
    return (count + kBlockSize - 1) / kBlockSize;
}

// Calls work(task) once for each task number in [0, count), on up to `threads` threads (0: as
// many as the machine has, at most 8). Tasks are claimed in order; the calls for different tasks
// may run at the same time. An exception from `work` is rethrown here after every thread has
// stopped.
void forEachTask(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& work);

// Calls work(block, begin, end) once for each block of [0, count), on up to `threads` threads
// (0: as many as the machine has, at most 8). Blocks are claimed in order; the calls for
// different blocks may run at the same time. An exception from `work` is rethrown here after
// every thread has stopped.
void forEachBlock(std::size_t count, unsigned threads,
                  const std::function<void(std::size_t, std::size_t, std::size_t)>& work);

}  // namespace hueslice::colour
