#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "io/input/input_file.h"

namespace hueslice::io {

InputFile::InputFile(const std::string& path) : name(path) {
    // Only regular files are read: a FIFO would wait for a writer and a device such as
    // /dev/zero never ends. The type is checked on the open file, so that nothing can be
    // swapped in between; O_NONBLOCK keeps the open itself from waiting on a FIFO.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw InputError(path + ": cannot read file: " + std::strerror(errno));
    struct stat info {};
    const char* fault = nullptr;
    if (::fstat(fd, &info) != 0)
        fault = std::strerror(errno);
    else if (S_ISDIR(info.st_mode))
        fault = std::strerror(EISDIR);
    else if (!S_ISREG(info.st_mode))
        fault = "not a regular file";
    if (fault) {
        ::close(fd);
        throw InputError(path + ": cannot read file: " + fault);
    }
    openedSize = static_cast<std::size_t>(info.st_size);
}

InputFile::~InputFile() {
    ::close(fd);
}

std::size_t InputFile::read(char* at, std::size_t room) {
    for (;;) {
        const ssize_t n = ::read(fd, at, room);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw InputError(name + ": cannot read file: " + std::strerror(errno));
    }
}

std::string readWholeFile(const std::string& path) {
    InputFile file(path);
    // One read of the expected size straight into the result, so that a large file is neither
    // copied through a buffer nor regrown. Reading goes on until a read returns nothing.
    std::string bytes(file.sizeWhenOpened(), '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            // Full: look for more through a small buffer first, so that a file of exactly the
            // expected size (the usual case) ends without growing the result.
            char probe[1 << 12];
            const std::size_t n = file.read(probe, sizeof probe);
            if (n == 0)
                break;
            bytes.resize(std::max(2 * bytes.size(), used + (std::size_t{1} << 16)));
            std::memcpy(&bytes[used], probe, n);
            used += n;
            continue;
        }
        const std::size_t n = file.read(&bytes[used], bytes.size() - used);
        if (n == 0)
            break;
        used += n;
    }
    bytes.resize(used);
    return bytes;
}

}  // namespace hueslice::io
