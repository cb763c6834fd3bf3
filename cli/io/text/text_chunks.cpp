#include "io/text/text_chunks.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace hueslice::io::detail {

namespace {

// More threads than this only add memory: the sink writes one chunk at a time.
constexpr unsigned kMaxWorkers = 8;
// Chunks held at once per worker: one being formatted, one waiting for the sink.
constexpr std::size_t kSlotsPerWorker = 2;

unsigned workersFor(std::size_t chunks) {
    // One chunk gains nothing from another thread, and starting one costs more than a small
    // file: the calling thread formats it.
    if (chunks <= 1)
        return 0;
    unsigned workers = chunkShape().workers;
    if (workers == 0)
        workers = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWorkers);
    return static_cast<unsigned>(std::min<std::size_t>(workers, chunks));
}

// Workers claim chunks in order and format chunk c into slot c % slots.size() once chunk
// c - slots.size() has been delivered; the calling thread delivers slots in chunk order. A
// worker's fault is kept in its slot and rethrown when that chunk's turn comes, so chunks
// before it still reach the sink, as they would if one thread did everything.
class ChunkPipeline {
  public:
    ChunkPipeline(std::size_t chunkCount, const std::function<void(std::size_t, TextBuffer&)>& f,
                  unsigned workers)
        : chunks(chunkCount),
          format(f),
          slots(std::max<std::size_t>(1, workers) * kSlotsPerWorker) {
        try {
            for (unsigned w = 0; w < workers; ++w)
                threads.emplace_back([this] { work(); });
        } catch (...) {
            // Fewer threads than asked for will do (none at all: the calling thread formats).
        }
    }
    ChunkPipeline(const ChunkPipeline&) = delete;
    ChunkPipeline& operator=(const ChunkPipeline&) = delete;
    ~ChunkPipeline() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        slotFreed.notify_all();
        for (std::thread& t : threads)
            t.join();
    }

    void run(const TextSink& sink, const std::function<void(std::size_t)>& delivered) {
        for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
            Slot& slot = slots[chunk % slots.size()];
            if (threads.empty()) {
                slot.text.clear();
                format(chunk, slot.text);
            } else {
                std::unique_lock<std::mutex> lock(mutex);
                chunkReady.wait(lock, [&slot] { return slot.ready; });
            }
            if (slot.fault)
                std::rethrow_exception(slot.fault);
            if (!slot.text.text().empty())
                sink(slot.text.text());
            {
                const std::lock_guard<std::mutex> lock(mutex);
                slot.ready = false;
                ++deliveredCount;
            }
            slotFreed.notify_all();
            delivered(chunk);
        }
    }

  private:
    struct Slot {
        TextBuffer text;
        bool ready = false;
        std::exception_ptr fault;
    };

    void work() {
        for (;;) {
            std::size_t chunk = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (stopping || claimed == chunks)
                    return;
                chunk = claimed++;
                slotFreed.wait(lock,
                               [&] { return stopping || chunk < deliveredCount + slots.size(); });
                if (stopping)
                    return;
            }
            Slot& slot = slots[chunk % slots.size()];
            std::exception_ptr fault;
            try {
                slot.text.clear();
                format(chunk, slot.text);
            } catch (...) {
                fault = std::current_exception();
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                slot.fault = fault;
                slot.ready = true;
            }
            chunkReady.notify_one();
        }
    }

    const std::size_t chunks;
    const std::function<void(std::size_t, TextBuffer&)>& format;
    std::vector<Slot> slots;
    std::mutex mutex;
    std::condition_variable chunkReady;  // the calling thread waits for its next chunk
    std::condition_variable slotFreed;   // workers wait for a slot
    std::size_t claimed = 0;
    std::size_t deliveredCount = 0;
    bool stopping = false;
    std::vector<std::thread> threads;  // last: started once everything they use exists
};

}  // namespace

void TextBuffer::grow(std::size_t n) {
    const std::size_t wanted = std::max({capacity * 2, used + n, std::size_t{4096}});
    std::unique_ptr<char[]> bigger(new char[wanted]);
    if (used > 0)
        std::memcpy(bigger.get(), data.get(), used);
    data = std::move(bigger);
    capacity = wanted;
}

ChunkShape& chunkShape() {
    static ChunkShape shape;
    return shape;
}

void writeChunks(std::size_t chunks, const std::function<void(std::size_t, TextBuffer&)>& format,
                 const TextSink& sink, const std::function<void(std::size_t)>& delivered) {
    ChunkPipeline pipeline(chunks, format, workersFor(chunks));
    pipeline.run(sink, delivered);
}

}  // namespace hueslice::io::detail
