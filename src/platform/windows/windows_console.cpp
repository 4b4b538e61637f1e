#include "platform/windows/windows_console.h"

#include <atomic>
#include <cstdlib>

#include "platform/interrupt.h"

namespace platform::windows {
namespace {

// Written before `saved` is set and read after it is taken back, so the
// control handler (on its own thread) and an exit path restore only once.
struct Saved {
    DWORD input_mode = 0;
    UINT output_code_page = 0;
    std::atomic<bool> input_saved{false};
    std::atomic<bool> output_saved{false};
};

Saved saved;
std::atomic<bool> handler_installed{false};

void restore_at_exit() { console_restore(); }

// The handler and the exit hook, each installed once per change.
void hook_restore() {
    static const bool at_exit = std::atexit(restore_at_exit) == 0;
    static_cast<void>(at_exit);
    interrupt_on_abort(console_restore);
    if (!handler_installed.exchange(true)) SetConsoleCtrlHandler(console_control, TRUE);
}

HANDLE console_input() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    return input == nullptr ? INVALID_HANDLE_VALUE : input;
}

}  // namespace

void console_clear_quick_edit() {
    const HANDLE input = console_input();
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return;
    // ENABLE_EXTENDED_FLAGS makes the console take the quick-edit bit from
    // this call; without it the bit is ignored.
    const DWORD cleared = (mode | ENABLE_EXTENDED_FLAGS) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE);
    if (!saved.input_saved.load()) {
        saved.input_mode = mode;
        saved.input_saved.store(true);
        hook_restore();
    }
    SetConsoleMode(input, cleared);
}

void console_use_utf8_output() {
    const UINT code_page = GetConsoleOutputCP();
    // No console: nothing to set or restore.
    if (code_page == 0 || code_page == CP_UTF8 || saved.output_saved.load()) return;
    if (!SetConsoleOutputCP(CP_UTF8)) return;
    saved.output_code_page = code_page;
    saved.output_saved.store(true);
    hook_restore();
}

void console_restore() {
    if (saved.input_saved.exchange(false)) {
        const HANDLE input = console_input();
        if (input != INVALID_HANDLE_VALUE) SetConsoleMode(input, saved.input_mode);
    }
    if (saved.output_saved.exchange(false)) SetConsoleOutputCP(saved.output_code_page);
}

void console_release() {
    console_restore();
    if (handler_installed.exchange(false)) SetConsoleCtrlHandler(console_control, FALSE);
}

// The one place where a console event decides what happens to a run.
BOOL WINAPI console_control(DWORD) {
    console_restore();
    return FALSE;
}

}  // namespace platform::windows
