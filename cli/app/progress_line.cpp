#include "progress_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <io/io.h>

namespace hueslice::cli {

namespace {

std::atomic<bool> silenced{false};
constexpr auto kTick = std::chrono::milliseconds(100);

void writeAll(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // a progress line is not worth failing over
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

void ProgressLine::silence() {
    silenced = true;
}

ProgressLine::ProgressLine() {
    shown = !silenced && ::isatty(STDERR_FILENO) == 1;
    if (!shown)
        return;
    if (const char* delay = std::getenv("HUESLICE_PROGRESS_DELAY")) {
        char* end = nullptr;
        const double seconds = std::strtod(delay, &end);
        if (end != delay && seconds >= 0 && seconds < 3600)
            delaySeconds = seconds;
    }
    ticker = std::thread([this] { tick(); });
    io::setProgressHook([this](double share) { update(share); });
}

ProgressLine::~ProgressLine() {
    if (!shown)
        return;
    io::setProgressHook(nullptr);
    end();
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    ticker.join();
}

void ProgressLine::begin(const char* stepName) {
    if (!shown)
        return;
    std::lock_guard<std::mutex> guard(lock);
    step = stepName;
    started = std::chrono::steady_clock::now();
    done.store(0.0, std::memory_order_relaxed);
    if (delaySeconds == 0)
        drawLocked();
}

void ProgressLine::end() {
    if (!shown)
        return;
    std::lock_guard<std::mutex> guard(lock);
    step = nullptr;
    if (drawn)
        writeAll("\r\x1b[K");
    drawn = false;
    lastText.clear();
}

void ProgressLine::tick() {
    std::unique_lock<std::mutex> guard(lock);
    while (!stopping) {
        wake.wait_for(guard, kTick);
        if (stopping || !step)
            continue;
        const std::chrono::duration<double> running = std::chrono::steady_clock::now() - started;
        if (running.count() >= delaySeconds)
            drawLocked();
    }
}

void ProgressLine::drawLocked() {
    double share = done.load(std::memory_order_relaxed);
    share = share < 0 ? 0 : share > 1 ? 1 : share;
    const std::string text = std::string("hueslice: ") + step + " " +
                             std::to_string(static_cast<int>(share * 100)) + "%";
    if (drawn && text == lastText)
        return;
    writeAll("\r" + text + "\x1b[K");
    drawn = true;
    lastText = text;
}

}  // namespace hueslice::cli
