#pragma once

// Big text made in chunks on worker threads and handed to a sink in order from the calling
// thread: how the writers of the command-line host use every core while the plug-in stays
// single-threaded.

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "io/io.h"
#include "io/text/text_out.h"

namespace hueslice::io::detail {

// A growing run of characters written through a cursor: room(n) before each line, then the
// line's characters, then advance() to the end of what was written. Cheaper than appending
// token by token to a string, which checks and grows at every token.
class TextBuffer {
  public:
    // At least `n` writable characters at the cursor; what was written stays.
    char* room(std::size_t n) {
        if (capacity - used < n)
            grow(n);
        return data.get() + used;
    }
    // Moves the cursor to `end`, which lies within the last room() given.
    void advance(char* end) { used = static_cast<std::size_t>(end - data.get()); }
    void clear() { used = 0; }
    std::string_view text() const { return {data.get(), used}; }

  private:
    void grow(std::size_t n);

    std::unique_ptr<char[]> data;
    std::size_t used = 0;
    std::size_t capacity = 0;
};

// How text is cut and how many threads format it: lines per chunk, and workers (0: one per
// core, capped). Tests change it to put chunk edges where they want them.
struct ChunkShape {
    std::size_t linesPerChunk = std::size_t{1} << 14;
    unsigned workers = 0;
};
ChunkShape& chunkShape();

// Makes the text of `chunks` chunks with `format(chunk, buffer)`, which appends chunk number
// `chunk` to the empty `buffer` and may run on any worker thread, several chunks at once; it
// must only read shared data. Each chunk's text goes to `sink` in chunk order from the calling
// thread, and then `delivered(chunk)` is called there too (for progress). A bounded number of
// chunks is held at once. What `format` or `sink` throws stops every worker and is thrown here
// once all of them have ended.
void writeChunks(std::size_t chunks, const std::function<void(std::size_t, TextBuffer&)>& format,
                 const TextSink& sink, const std::function<void(std::size_t)>& delivered);

}  // namespace hueslice::io::detail
