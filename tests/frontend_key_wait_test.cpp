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

#include "frontend/console.h"

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
    char key;
    int signal;  // the signal that ends the child, 0 for a normal exit
};

// The key wait on a pseudo-terminal: one key without a line end ends it and
// is not echoed; Ctrl+C ends the process; either way the terminal is back in
// canonical mode with echo afterwards.
TEST(KeyWait, OneKeyOnATerminalAndTheTerminalRestored) {
    for (const key_case& c : {key_case{"letter", 'x', 0}, key_case{"ctrl_c", '\x03', SIGINT}}) {
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
            wait_for_key();
            _exit(0);
        }
        ASSERT_GT(child, 0);
        // Only the child holds the terminal's side now, so its exit closes it.
        close(slave);
        std::string seen;
        const bool prompted = read_terminal(master, seen, "Press any key to continue...\r\n");
        if (prompted) {
            EXPECT_EQ(write(master, &c.key, 1), 1);
        }
        const std::size_t prompt_end = seen.size();
        const bool ended = prompted && read_terminal(master, seen);
        if (!ended) kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(prompted) << seen;
        EXPECT_TRUE(ended) << "the wait did not end on one key";
        if (c.signal == 0) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
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
