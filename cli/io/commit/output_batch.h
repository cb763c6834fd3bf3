#pragma once

// Writing files all or none: every output is written in full to a temporary beside its target,
// and only then are they renamed into place; a failure, or a signal, leaves every old file as it
// was. Knows nothing of what the files hold.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "io/io.h"

namespace hueslice::io {

// Two outputs that would write one file: a command line that cannot be carried out.
class OutputClash : public OutputError {
  public:
    using OutputError::OutputError;
};

// The output name that means standard output.
inline constexpr std::string_view kStandardOutput = "-";

// Checks output targets before anything is written. Throws OutputClash when two of them would
// write one file (by name, or the same FIFO or device), and OutputError "PATH: reason" for a
// folder, for a file type that can be neither replaced nor written into, or for a folder that
// cannot hold the file.
void checkOutputTargets(const std::vector<std::string>& paths);

// Files replaced together, all or none. Regular files (and names not yet taken) are written in
// full to temporaries beside their targets, flushed to disk and then renamed over their targets;
// when one rename fails, the files already replaced get their old content back. A replaced file
// keeps its permission bits (and owner, when running as root). A FIFO, a character device or
// kStandardOutput is written into directly, after the temporaries and before any rename, so it
// cannot be all-or-nothing.
class OutputBatch {
  public:
    // Stages `bytes` for `path`; nothing touches the file system until commit().
    void add(const std::string& path, std::string bytes);
    // Stages a file whose bytes `produce` gives to its sink piece by piece, called in commit()
    // as the file is written, so that a big file is never held whole. What it throws is passed
    // on, with every target as it was. Whatever `produce` reads must outlive the commit.
    void add(const std::string& path, std::function<void(const TextSink&)> produce);
    // Checks every target as checkOutputTargets does, then writes and puts everything in place.
    // Throws OutputClash or OutputError naming the file at fault; then no target has changed
    // except a stream that was partly written. Empties the batch.
    void commit();

  private:
    struct Staged {
        std::string path;
        std::string bytes;
        std::function<void(const TextSink&)> produce;  // makes the bytes, when set
    };
    std::vector<Staged> staged;
};

// Makes SIGINT, SIGTERM and SIGHUP remove the temporaries of a batch being committed, leave
// every old file in place and end the program with status 128 + the signal's number. Signals
// that arrive while files are being renamed wait until the renames are done, then every
// replaced file is restored first. Signals the program was started with ignored stay ignored.
void cleanUpOnSignals();

// Removes the temporaries of a batch being committed, if any, and then the folder named by
// removeFolderWithTemporaries() when it is empty; safe in a signal handler or when the program
// must end at once.
void removeTemporaries() noexcept;

// Makes removeTemporaries(), and so the clean-up signals, also remove `folder` when it is empty
// by then: a folder made for this run's outputs, which an interrupted run must not leave behind.
// An empty `folder` stops it.
void removeFolderWithTemporaries(const std::string& folder);

// Replaces the file at `path` by `bytes` so that readers see either the old or the new content.
// On any failure the old file is left as it was and OutputError is thrown.
void writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace hueslice::io
