#pragma once

// What each output target is, checked before anything is written: a new name, a regular file
// to replace, or a stream to write into; and which targets would write one file.

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "io/io.h"

namespace hueslice::io::detail {

enum class TargetKind {
    Create,   // no file by that name yet
    Replace,  // a regular file (or a link to one), replaced by renaming
    Stream,   // a FIFO, a character device or standard output, written into
};

struct Target {
    TargetKind kind = TargetKind::Create;
    std::string key;  // the same for two targets that would write one file
    struct stat old {};
};

// Classifies every target. Throws OutputClash for two targets that would write one file, and
// OutputError "PATH: reason" for a target that cannot be written (see checkOutputTargets).
std::vector<Target> classifyAll(const std::vector<std::string>& paths);

// Throws OutputError "PATH: what: reason" for the system error `error`.
[[noreturn]] inline void failWrite(const std::string& path, const char* what, int error) {
    throw OutputError(path + ": " + what + ": " + std::strerror(error));
}

}  // namespace hueslice::io::detail
