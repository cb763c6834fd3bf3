#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace hueslice::cli {

// A progress line on standard error, "hueslice: reading 42%", redrawn in place while a step of
// long work (reading, cooking, writing) runs, and cleared when the step ends. It appears only
// when standard error is a terminal, the line is not silenced, and the step has run for a
// while: half a second, or the seconds in HUESLICE_PROGRESS_DELAY. Nothing else may be written
// to standard error between begin() and end().
class ProgressLine {
  public:
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // --quiet: no line for the rest of the program.
    static void silence();

    // Starts a step; its share done is 0.
    void begin(const char* step);
    // The current step's share done, from 0 to 1. Cheap; any thread.
    void update(double share) { done.store(share, std::memory_order_relaxed); }
    // Ends the step and clears the line if it was drawn.
    void end();

  private:
    void tick();
    void drawLocked();

    bool shown = false;
    double delaySeconds = 0.5;
    std::mutex lock;
    std::condition_variable wake;
    std::thread ticker;
    bool stopping = false;
    const char* step = nullptr;
    std::chrono::steady_clock::time_point started;
    std::atomic<double> done{0.0};
    bool drawn = false;
    std::string lastText;
};

}  // namespace hueslice::cli
