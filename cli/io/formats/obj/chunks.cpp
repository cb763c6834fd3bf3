#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "io/formats/obj/chunks.h"
#include "io/internal.h"

namespace hueslice::io::detail {

namespace {

// Text in UTF-16 reads as nothing at all, byte by byte, so it is refused rather than taken for
// an empty mesh.
void checkEncoding(std::string_view text, const std::string& name) {
    if (text.empty())
        throw InputError(name + ": empty file");
    const bool byteOrderMark = text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF";
    const bool wideAscii = text.size() >= 2 && (text[0] == '\0' || text[1] == '\0');
    if (byteOrderMark || wideAscii)
        throw InputError(name + ": the file is UTF-16 text; obj files are read as UTF-8");
}

// The lines of an OBJ source, a chunk at a time, each chunk in a buffer of its own and up to
// the last line break that is whole: a \r at the end of the bytes so far may be the first half
// of \r\n, so it waits for the next chunk.
class ObjChunks {
  public:
    ObjChunks(const ObjSource& objSource, const std::string& objName)
        : source(objSource), name(objName) {}

    // The next chunk of lines, read into `buffer`; false at the end.
    bool next(std::vector<char>& buffer, std::string_view& lines) {
        if (atEnd)
            return false;
        buffer.resize(
            std::max({buffer.size(), source.pieceBytes, carry.size() + 1, std::size_t{4}}));
        std::copy(carry.begin(), carry.end(), buffer.begin());
        std::size_t used = carry.size();
        std::size_t start = 0;
        for (;;) {
            if (used == buffer.size())
                buffer.resize(2 * buffer.size());  // a line longer than a piece
            const std::size_t n = source.read(buffer.data() + used, buffer.size() - used);
            atEnd = n == 0;
            used += n;
            total += n;
            if (prologue) {
                if (used < 3 && !atEnd)
                    continue;
                prologue = false;
                checkEncoding(std::string_view(buffer.data(), std::min<std::size_t>(used, 3)),
                              name);
                // A UTF-8 byte order mark would hide the first line's keyword.
                if (std::string_view(buffer.data(), used).substr(0, 3) == "\xEF\xBB\xBF")
                    start = 3;
            }
            std::size_t cut = used;
            if (!atEnd) {
                cut = used - (buffer[used - 1] == '\r' ? 1 : 0);
                while (cut > start && buffer[cut - 1] != '\n' && buffer[cut - 1] != '\r')
                    --cut;
                if (cut == start)
                    continue;  // no whole line yet
            }
            lines = std::string_view(buffer.data() + start, cut - start);
            carry.assign(buffer.data() + cut, used - cut);
            reportProgress(total, std::max(total, source.sizeHint));
            return true;
        }
    }

    // Bytes not yet given as lines, as far as the size the file had when opened tells.
    std::size_t bytesLeft() const {
        return source.sizeHint > total ? source.sizeHint - total + carry.size() : carry.size();
    }

  private:
    const ObjSource& source;
    const std::string& name;
    std::string carry;      // the start of a line that is not yet whole
    std::size_t total = 0;  // bytes read
    bool prologue = true;   // the first bytes are not yet checked
    bool atEnd = false;
};

// A thread that runs parseChunk over the chunks it is given, in order, while the scanner reads
// the chunks before them. Chunks are handed over and back whole, under a lock.
class ChunkHelper {
  public:
    struct Chunk {
        std::vector<char> buffer;
        std::string_view lines;
        ChunkParse parsed;
        bool done = false;
    };

    ChunkHelper() : thread([this] { run(); }) {}
    ~ChunkHelper() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }
    ChunkHelper(const ChunkHelper&) = delete;
    ChunkHelper& operator=(const ChunkHelper&) = delete;

    void post(Chunk* chunk) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(chunk);
        }
        wake.notify_all();
    }

    // Waits until `chunk` is parsed; passes on what the thread threw (only bad_alloc).
    void waitFor(const Chunk& chunk) {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return chunk.done || failure; });
        if (failure)
            std::rethrow_exception(failure);
    }

  private:
    void run() {
        std::size_t vertices = 0;
        for (;;) {
            Chunk* chunk = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return stopping || !queue.empty(); });
                if (stopping)
                    return;
                chunk = queue.front();
                queue.pop_front();
            }
            std::exception_ptr thrown;
            try {
                vertices = parseChunk(chunk->lines, vertices, chunk->parsed);
            } catch (...) {
                thrown = std::current_exception();
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                chunk->done = true;
                if (thrown)
                    failure = thrown;
            }
            wake.notify_all();
            if (thrown)
                return;
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Chunk*> queue;
    bool stopping = false;
    std::exception_ptr failure;
    std::thread thread;  // last: it starts once the rest is ready
};

}  // namespace

void readObjChunks(const ObjSource& source, const std::string& objName,
                   const std::function<void(std::string_view, const ChunkParse*)>& readLines,
                   const std::function<void(std::size_t)>& reserve) {
    ObjChunks chunks(source, objName);
    if (!source.helperThread) {
        std::vector<char> buffer;
        std::string_view lines;
        while (chunks.next(buffer, lines)) {
            readLines(lines, nullptr);
            reserve(chunks.bytesLeft());
        }
        return;
    }
    constexpr std::size_t kAhead = 2;  // chunks the helper may be given beyond the scanner's
    std::deque<std::unique_ptr<ChunkHelper::Chunk>> inFlight;
    std::vector<std::unique_ptr<ChunkHelper::Chunk>> spare;
    bool more = true;
    ChunkHelper helper;
    for (;;) {
        while (more && inFlight.size() <= kAhead) {
            std::unique_ptr<ChunkHelper::Chunk> chunk;
            if (spare.empty()) {
                chunk = std::make_unique<ChunkHelper::Chunk>();
            } else {
                chunk = std::move(spare.back());
                spare.pop_back();
                chunk->done = false;
            }
            more = chunks.next(chunk->buffer, chunk->lines);
            if (more) {
                helper.post(chunk.get());
                inFlight.push_back(std::move(chunk));
            }
        }
        if (inFlight.empty())
            return;
        ChunkHelper::Chunk& chunk = *inFlight.front();
        helper.waitFor(chunk);
        readLines(chunk.lines, &chunk.parsed);
        reserve(chunks.bytesLeft());
        spare.push_back(std::move(inFlight.front()));
        inFlight.pop_front();
    }
}

}  // namespace hueslice::io::detail
