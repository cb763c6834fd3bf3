#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_harness.h"

namespace {

using cli_testing::CliTest;
using cli_testing::meshPly;

struct TerminalRun {
    int status;
    std::string terminal;  // what the program wrote to its terminal (standard error)
};

// Runs `hueslice ARGS...` in `dir` with standard error on a pseudo-terminal and standard output
// in stdout.txt (or on the terminal too); progress lines appear at once (no delay).
TerminalRun runOnTerminal(const std::string& dir, const std::vector<std::string>& args,
                          bool stdoutOnTerminal = false) {
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        if (::chdir(dir.c_str()) != 0)
            _exit(126);
        const int out =
            stdoutOnTerminal ? -1 : ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!stdoutOnTerminal && (out < 0 || ::dup2(out, STDOUT_FILENO) < 0))
            _exit(126);
        ::setenv("HUESLICE_PROGRESS_DELAY", "0", 1);
        std::vector<char*> argv{const_cast<char*>(HUESLICE_PROGRAM)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(HUESLICE_PROGRAM, argv.data());
        _exit(127);
    }
    TerminalRun run{-1, ""};
    if (child < 0)
        return run;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) {
            run.terminal.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the program has closed the terminal
        }
    }
    ::close(master);
    int raw = 0;
    ::waitpid(child, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

// Each step shown must be cleared before the next one starts and before the program ends.
void expectEveryLineCleared(const std::string& terminal) {
    const std::string clear = "\r\x1b[K";
    std::size_t draws = 0, clears = 0;
    for (std::size_t at = terminal.find('\r'); at != std::string::npos;
         at = terminal.find('\r', at + 1)) {
        (terminal.compare(at, clear.size(), clear) == 0 ? clears : draws)++;
    }
    EXPECT_GT(draws, 0u);
    EXPECT_EQ(draws, clears) << terminal;
    EXPECT_EQ(terminal.substr(terminal.size() - std::min(terminal.size(), clear.size())), clear);
}

TEST_F(CliTest, ProgressOnATerminalNamesEachStepAndIsClearedAtTheEnd) {
    write("in.ply", meshPly("binary_little_endian"));
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> steps;
        std::string stdoutHas;
    };
    const Case cases[] = {
        {{"cook", "in.ply", "--initialise", "-o", "out.obj"},
         {"reading 0%", "cooking 0%", "writing 0%"},
         "group1"},
        {{"cook", "in.ply", "-o", "out.json"}, {"reading", "cooking", "writing"}, "hidden"},
        {{"info", "in.ply"}, {"reading 0%"}, "primitives: 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const TerminalRun run = runOnTerminal(dir.string(), c.args);
        EXPECT_EQ(run.status, 0) << run.terminal;
        std::size_t after = 0;
        for (const std::string& step : c.steps) {
            const std::size_t at = run.terminal.find("hueslice: " + step, after);
            EXPECT_NE(at, std::string::npos) << "no " << step << " in " << run.terminal;
            after = at == std::string::npos ? after : at;
        }
        expectEveryLineCleared(run.terminal);
        // The report on standard output is untouched by the progress line.
        const std::string report = read("stdout.txt");
        EXPECT_NE(report.find(c.stdoutHas), std::string::npos) << report;
        EXPECT_EQ(report.find('\r'), std::string::npos);
    }
}

TEST_F(CliTest, NoProgressWhenQuietOrWhenStandardErrorIsNotATerminal) {
    write("in.ply", meshPly("binary_little_endian"));
    for (const char* quiet : {"--quiet", "-q"}) {
        const TerminalRun run =
            runOnTerminal(dir.string(), {quiet, "cook", "in.ply", "--initialise", "-o", "a.obj"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.terminal, "") << quiet;
        const TerminalRun after = runOnTerminal(dir.string(), {"info", "in.ply", quiet});
        EXPECT_EQ(after.status, 0);
        EXPECT_EQ(after.terminal, "") << quiet << " after the command";
    }
    const auto piped =
        run({"cook", "in.ply", "--initialise", "-o", "b.obj"}, "HUESLICE_PROGRESS_DELAY=0");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
}

TEST_F(CliTest, AFailedReadClearsItsProgressLineBeforeTheMessage) {
    write("bad.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nend_header\n");
    const TerminalRun run = runOnTerminal(dir.string(), {"cook", "bad.ply", "-o", "out.obj"});
    EXPECT_EQ(run.status, 1);
    const std::size_t message = run.terminal.find("hueslice: bad.ply");
    ASSERT_NE(message, std::string::npos) << run.terminal;
    expectEveryLineCleared(run.terminal.substr(0, message));
    EXPECT_NE(run.terminal.find("hueslice: reading"), std::string::npos);
}

}  // namespace
