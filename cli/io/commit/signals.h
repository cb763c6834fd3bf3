#pragma once

// The clean-up signals of a commit: what their handler removes, and a block that keeps a
// stretch of work from being cut in half.

#include <signal.h>

namespace hueslice::io::detail {

// The signals that end a commit cleanly.
inline constexpr int kCleanUpSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Tells the handler which temporaries to remove: the first of `names` as temporaryMade() counts
// them, none at first. Null stops it removing any. `names` must outlive the watch.
void watchTemporaries(const char* const* names);

// One more of the watched temporaries exists.
void temporaryMade();

// None of the watched temporaries exists any longer: they have been renamed into place.
void temporariesPlaced();

// Blocks the clean-up signals for its lifetime, so that a stretch of work is not cut in half.
class SignalBlock {
  public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kCleanUpSignals)
            sigaddset(&set, s);
        ::sigprocmask(SIG_BLOCK, &set, &previous);
    }
    ~SignalBlock() { ::sigprocmask(SIG_SETMASK, &previous, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

    // Whether a clean-up signal arrived while blocked.
    static bool pending() {
        sigset_t set;
        sigemptyset(&set);
        if (::sigpending(&set) != 0)
            return false;
        for (int s : kCleanUpSignals) {
            if (sigismember(&set, s) == 1)
                return true;
        }
        return false;
    }

  private:
    sigset_t previous;
};

}  // namespace hueslice::io::detail
