#pragma once

// Input files: only regular files are read, so that a FIFO or a device named as an input, or by
// an input, can neither block the program nor feed it without end.

#include <cstddef>
#include <string>

#include "io/io.h"

namespace hueslice::io {

// A regular file open for reading, for readers that take a big file a piece at a time rather
// than whole. Anything else (a folder, a FIFO, a device) is refused without reading from it.
// Every fault throws InputError "PATH: cannot read file: reason".
class InputFile {
  public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& path() const { return name; }
    // The size when the file was opened: only a guess at what reading will give, as the file may
    // grow or shrink meanwhile.
    std::size_t sizeWhenOpened() const { return openedSize; }
    // Reads up to `room` bytes into `at` from where the last read ended; 0 only at the end.
    std::size_t read(char* at, std::size_t room);

  private:
    std::string name;
    int fd = -1;
    std::size_t openedSize = 0;
};

// The whole content of a regular file, as InputFile reads it.
std::string readWholeFile(const std::string& path);

}  // namespace hueslice::io
