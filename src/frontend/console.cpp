#include "frontend/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "frontend/key_press.h"

void wait_for_key() {
    // The terminal takes single keys before the prompt shows, so a key
    // pressed as soon as it is seen counts.
    key_press_mode keys;
    std::puts("Press any key to continue...");
    std::fflush(stdout);
    // The key itself is not used; end of input ends the wait too.
    keys.read_key();
}

bool console_redraws() {
#ifdef _WIN32
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) != 0 && term != nullptr && std::strcmp(term, "dumb") != 0;
#endif
}
