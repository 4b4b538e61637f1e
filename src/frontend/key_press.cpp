#include "frontend/key_press.h"

#include <cstdio>

#ifdef _WIN32
#include <conio.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>
#endif

#ifdef _WIN32

key_press_mode::key_press_mode() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    // A pipe, a file or NUL is not a console: GetConsoleMode fails there.
    terminal_ = input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode);
}

key_press_mode::~key_press_mode() = default;

void key_press_mode::read_key() {
    // _getch reads one key without echo and leaves the console's modes as
    // they were.
    if (terminal_) {
        (void)_getch();
    } else {
        (void)std::getchar();
    }
}

#else

namespace {

// The signals that end the process from the terminal or from outside while
// it waits.
constexpr int RESTORING_SIGNALS[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// Set while the terminal is changed; the signal handler reads them.
termios saved_terminal;
struct sigaction saved_actions[std::size(RESTORING_SIGNALS)];

// Puts the terminal back, then lets the signal do what it did before.
extern "C" void restore_and_reraise(int signal_number) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
    for (std::size_t i = 0; i < std::size(RESTORING_SIGNALS); ++i)
        if (RESTORING_SIGNALS[i] == signal_number) sigaction(signal_number, &saved_actions[i], nullptr);
    raise(signal_number);
}

}  // namespace

key_press_mode::key_press_mode() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_terminal) != 0) return;
    for (std::size_t i = 0; i < std::size(RESTORING_SIGNALS); ++i) {
        struct sigaction restore {};
        restore.sa_handler = restore_and_reraise;
        sigemptyset(&restore.sa_mask);
        sigaction(RESTORING_SIGNALS[i], &restore, &saved_actions[i]);
        // A signal the process was told to ignore (nohup) stays ignored.
        if (saved_actions[i].sa_handler == SIG_IGN) sigaction(RESTORING_SIGNALS[i], &saved_actions[i], nullptr);
    }
    termios single_key = saved_terminal;
    single_key.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    single_key.c_cc[VMIN] = 1;
    single_key.c_cc[VTIME] = 0;
    terminal_ = tcsetattr(STDIN_FILENO, TCSANOW, &single_key) == 0;
    if (!terminal_) {
        for (std::size_t i = 0; i < std::size(RESTORING_SIGNALS); ++i)
            sigaction(RESTORING_SIGNALS[i], &saved_actions[i], nullptr);
    }
}

key_press_mode::~key_press_mode() {
    if (!terminal_) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
    for (std::size_t i = 0; i < std::size(RESTORING_SIGNALS); ++i)
        sigaction(RESTORING_SIGNALS[i], &saved_actions[i], nullptr);
}

void key_press_mode::read_key() {
    if (!terminal_) {
        (void)std::getchar();
        return;
    }
    // Straight from the terminal: stdio would wait to fill its buffer.
    char key = 0;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
}

#endif
