#include "platform/interrupt.h"

#include <atomic>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace platform {
namespace {

// Lock-free atomics: read and written from the signal handler (or the
// console handler's thread) and the run alike.
std::atomic<int> critical_depth{0};
std::atomic<bool> warned{false};
std::atomic<bool> armed{false};
std::atomic<void (*)()> restore_on_abort{nullptr};
// What an abort writes: the error line on standard error, the closing text on
// standard output.
std::atomic<const char*> abort_error{INTERRUPT_ERROR};
std::atomic<const char*> abort_closing{INTERRUPT_BANNER};
// A run that drains (a station): the first Ctrl-C only asks it to stop, with
// this warning; null: the first Ctrl-C acts as above.
std::atomic<const char*> drain_warning{nullptr};
std::atomic<bool> stop_asked{false};

// The warning of a Ctrl-C that lets the run go on.
const char* warning_text() {
    const char* drain = drain_warning.load();
    return drain != nullptr ? drain : INTERRUPT_WARNING;
}

#ifdef _WIN32
void write_out(DWORD which, const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

BOOL WINAPI on_console_event(DWORD event) {
    if (!armed.load() || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)) return FALSE;
    if (interrupt_goes_on()) {
        write_out(STD_ERROR_HANDLE, warning_text());
        return TRUE;
    }
    write_out(STD_ERROR_HANDLE, abort_error.load());
    write_out(STD_OUTPUT_HANDLE, abort_closing.load());
    // This handler runs on a thread of its own while the run goes on: the
    // process ends here, without the exit hooks and destructors that would
    // race with the run, and with the console given back first.
    if (void (*restore)() = restore_on_abort.load()) restore();
    ExitProcess(1);
}
#else
void write_out(int fd, const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(fd, text, left);
        if (n <= 0) return;
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

extern "C" void on_sigint(int) {
    if (interrupt_goes_on()) {
        write_out(STDERR_FILENO, warning_text());
        return;
    }
    write_out(STDERR_FILENO, abort_error.load());
    write_out(STDOUT_FILENO, abort_closing.load());
    ::_exit(1);
}

struct sigaction saved_action;
#endif

}  // namespace

void interrupt_on_abort(void (*restore)()) { restore_on_abort.store(restore); }

void interrupt_abort_texts(const char* error, const char* closing) {
    abort_error.store(error);
    abort_closing.store(closing);
}

bool interrupt_goes_on() {
    if (drain_warning.load() != nullptr && !warned.exchange(true)) {
        stop_asked.store(true);
        return true;
    }
    if (critical_depth.load() > 0 && !warned.exchange(true)) return true;
    return false;
}

void interrupt_drain_first(const char* warning) {
    stop_asked.store(false);
    drain_warning.store(warning);
}

bool interrupt_stop_asked() { return stop_asked.load(); }

void interrupt_now() {
    if (!armed.load()) return;
#ifdef _WIN32
    on_console_event(CTRL_C_EVENT);
#else
    on_sigint(SIGINT);
#endif
}

void interrupt_arm() {
    warned.store(false);
    if (armed.exchange(true)) return;
#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = on_sigint;
    sigemptyset(&action.sa_mask);
    // A Ctrl-C that only warns must not break the system call it met.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &saved_action);
    // A run started with SIGINT ignored (nohup, a background job) keeps it so.
    if (saved_action.sa_handler == SIG_IGN) sigaction(SIGINT, &saved_action, nullptr);
#endif
}

void interrupt_disarm() {
    if (!armed.exchange(false)) return;
#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, FALSE);
#else
    sigaction(SIGINT, &saved_action, nullptr);
#endif
}

interrupt_critical_phase::interrupt_critical_phase() { critical_depth.fetch_add(1); }
interrupt_critical_phase::~interrupt_critical_phase() { critical_depth.fetch_sub(1); }

}  // namespace platform
