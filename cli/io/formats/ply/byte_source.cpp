#include "io/formats/ply/byte_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace hueslice::io::detail {

namespace {
// Where an empty window points, so that need(pos, 0) is never null when the input reaches pos.
const unsigned char kNoBytes[1] = {0};
}  // namespace

ByteSource::ByteSource(std::string_view bytes)
    : data(bytes.empty() ? kNoBytes : reinterpret_cast<const unsigned char*>(bytes.data())),
      held(bytes.size()) {}

ByteSource::ByteSource(InputFile& input, std::size_t window)
    : file(&input), windowSize(std::max<std::size_t>(window, 1)), data(kNoBytes), ended(false) {}

std::size_t ByteSource::firstSize() const {
    return std::min(windowSize, file->sizeWhenOpened() + 1);
}

bool ByteSource::readMore(std::size_t growTo, std::size_t limit) {
    if (ended)
        return false;
    if (held == buffer.size()) {
        // Doubling keeps the copies linear; a buffer is never more than twice what arrived. A
        // small file gets a window of its own size.
        buffer.resize(std::max({growTo, 2 * buffer.size(), firstSize()}));
        data = buffer.data();
    }
    const std::size_t n = file->read(reinterpret_cast<char*>(buffer.data()) + held,
                                     std::min(buffer.size(), limit) - held);
    held += n;
    ended = n == 0;
    return !ended;
}

const unsigned char* ByteSource::fetch(std::size_t pos, std::size_t n) {
    if (!file)
        return nullptr;
    if (pos < start)
        throw std::logic_error("input read backwards");
    if (pos - start >= held) {
        // Past everything held: read on, keeping nothing, up to `pos`.
        start += held;
        held = 0;
        while (start < pos) {
            if (buffer.empty())
                buffer.resize(firstSize());
            const std::size_t room = std::min({buffer.size(), windowSize, pos - start});
            const std::size_t got =
                ended ? 0 : file->read(reinterpret_cast<char*>(buffer.data()), room);
            if (got == 0) {
                ended = true;
                return nullptr;
            }
            start += got;
        }
    } else if (pos > start) {
        held -= pos - start;
        std::memmove(buffer.data(), buffer.data() + (pos - start), held);
        start = pos;
    }
    // The buffer grows by doubling as bytes arrive, so a list count that a short file cannot
    // hold costs no more than the file has.
    while (held < n && readMore(0, std::max(windowSize, n))) {
    }
    if (!buffer.empty())
        data = buffer.data();
    return held >= n ? data : nullptr;
}

bool ByteSource::more() {
    return file && readMore(0, SIZE_MAX);
}

std::string_view ByteSource::whole() {
    if (file) {
        if (start != 0)
            throw std::logic_error("whole input asked for after some was let go");
        // Room for the size the file had when opened and a byte to see its end, so that the
        // usual file is read into one buffer without growing it again.
        while (readMore(file->sizeWhenOpened() + 1, SIZE_MAX)) {
        }
    }
    return window();
}

bool ByteSource::sizeKnown(std::size_t& size) const {
    if (!file) {
        size = held;
        return true;
    }
    size = file->sizeWhenOpened();
    return size >= start + held;
}

std::size_t ByteSource::countFrom(std::size_t pos) {
    if (!need(pos, 0))
        return 0;
    std::size_t count = heldFrom(pos);
    if (!file)
        return count;
    start += held;
    held = 0;
    while (!ended) {
        if (buffer.empty())
            buffer.resize(firstSize());
        const std::size_t got =
            file->read(reinterpret_cast<char*>(buffer.data()), std::min(buffer.size(), windowSize));
        ended = got == 0;
        count += got;
        start += got;
    }
    return count;
}

}  // namespace hueslice::io::detail
