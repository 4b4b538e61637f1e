#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "frontend/console.h"
#include "sim/sim_entry.h"

namespace {

constexpr int READ_LIMIT_MS = 10000;

// Everything the other side of the terminal writes until it closes (the
// child has exited) or nothing comes for READ_LIMIT_MS; `stop_at` ends the
// reading early once seen. False on the time limit.
bool read_terminal(int master, std::string& seen, const std::string& stop_at = "") {
    for (;;) {
        if (!stop_at.empty() && seen.find(stop_at) != std::string::npos) return true;
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, READ_LIMIT_MS) != 1) return false;
        char buffer[256];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) return stop_at.empty();  // EIO: the child's side is closed
        seen.append(buffer, static_cast<std::size_t>(got));
    }
}

struct key_case {
    const char* name;
    std::vector<const char*> sim_args;  // flash-tool-sim's words; none: the key wait alone
    bool waits;                         // "Press any key to continue..." and a key needed
    char key;
    int signal;       // the signal that ends the child, 0 for a normal exit
    int exit_status;  // for a normal exit
};

// The key wait on a pseudo-terminal: one key without a line end ends it and
// is not echoed; Ctrl+C ends the process; either way the terminal is back in
// canonical mode with echo afterwards. -h waits as a run does; -V and -l,
// questions a script asks, end without a key wait, also when -l finds
// nothing.
TEST(KeyWait, OneKeyOnATerminalAndTheTerminalRestored) {
    const key_case cases[] = {
        {"letter", {}, true, 'x', 0, 0},
        {"ctrl_c", {}, true, '\x03', SIGINT, 0},
        {"help", {"-h"}, true, 'x', 0, 0},
        {"version", {"-V"}, false, 0, 0, 0},
        {"list", {"-l"}, false, 0, 0, 0},
        {"list_nothing", {"-l", "--sim-device=none"}, false, 0, 0, 1},
    };
    for (const key_case& c : cases) {
        SCOPED_TRACE(c.name);
        int master = -1;
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios before{};
        ASSERT_EQ(tcgetattr(slave, &before), 0);
        ASSERT_EQ(before.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            // Its own session with the terminal as controlling terminal, so
            // Ctrl+C reaches it as SIGINT.
            close(master);
            if (login_tty(slave) != 0) _exit(127);
            if (c.sim_args.empty()) {
                wait_for_key();
                _exit(0);
            }
            std::vector<char*> argv{const_cast<char*>("flash-tool-sim")};
            for (const char* arg : c.sim_args) argv.push_back(const_cast<char*>(arg));
            argv.push_back(nullptr);
            const int status = sim::sim_main(static_cast<int>(argv.size() - 1), argv.data());
            std::fflush(nullptr);
            _exit(status);
        }
        ASSERT_GT(child, 0);
        // Only the child holds the terminal's side now, so its exit closes it.
        close(slave);
        std::string seen;
        bool prompted = false;
        bool ended = false;
        std::size_t prompt_end = 0;
        if (c.waits) {
            prompted = read_terminal(master, seen, "Press any key to continue...\r\n");
            if (prompted) {
                EXPECT_EQ(write(master, &c.key, 1), 1);
            }
            prompt_end = seen.size();
            ended = prompted && read_terminal(master, seen);
        } else {
            // No key is ever pressed: the run must end by itself.
            ended = read_terminal(master, seen);
            prompt_end = seen.size();
        }
        if (!ended) kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(prompted, c.waits) << seen;
        if (!c.waits) {
            EXPECT_EQ(seen.find("Press any key"), std::string::npos) << seen;
        }
        EXPECT_TRUE(ended) << (c.waits ? "the wait did not end on one key" : "the run did not end by itself");
        if (c.signal == 0) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.exit_status) << status;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
        }
        EXPECT_EQ(seen.substr(prompt_end), "") << "the key was echoed";
        // A pseudo-terminal's settings are read through either side.
        termios after{};
        ASSERT_EQ(tcgetattr(master, &after), 0);
        EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
        close(master);
    }
}

}  // namespace
