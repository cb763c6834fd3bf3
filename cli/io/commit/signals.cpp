#include "io/commit/signals.h"

#include <unistd.h>

#include <csignal>
#include <string>

#include "io/commit/output_batch.h"

namespace hueslice::io {

namespace {

// What the signal handler removes: the temporaries of the batch being committed that exist.
const char* const* volatile gTemporaries = nullptr;
volatile std::sig_atomic_t gTemporaryCount = 0;
// The folder removed with the temporaries, when set; the handler reads only the pointer.
const char* volatile gFolder = nullptr;
std::string gFolderName;

using detail::kCleanUpSignals;

extern "C" void removeTemporariesAndExit(int signal) {
    removeTemporaries();
    static const char kMessage[] = "hueslice: interrupted\n";
    if (::write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) {
        // Nothing more can be done about a failed message while exiting.
    }
    ::_exit(128 + signal);
}

}  // namespace

void detail::watchTemporaries(const char* const* names) {
    gTemporaryCount = 0;
    gTemporaries = names;
}

void detail::temporaryMade() {
    gTemporaryCount = gTemporaryCount + 1;
}

void detail::temporariesPlaced() {
    gTemporaryCount = 0;
}

void removeTemporaries() noexcept {
    const char* const* names = gTemporaries;
    for (std::sig_atomic_t i = 0; names && i < gTemporaryCount; ++i)
        ::unlink(names[i]);
    if (const char* folder = gFolder)
        ::rmdir(folder);
}

void removeFolderWithTemporaries(const std::string& folder) {
    gFolder = nullptr;
    gFolderName = folder;
    if (!gFolderName.empty())
        gFolder = gFolderName.c_str();
}

void cleanUpOnSignals() {
    for (int s : kCleanUpSignals) {
        struct sigaction current {};
        if (::sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = removeTemporariesAndExit;
        sigemptyset(&action.sa_mask);
        for (int other : kCleanUpSignals)
            sigaddset(&action.sa_mask, other);
        ::sigaction(s, &action, nullptr);
    }
}

}  // namespace hueslice::io
