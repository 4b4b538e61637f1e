#include "frontend/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "frontend/key_press.h"

namespace {

constexpr const char* LOG_PREFIX = "LOG:";

// Prefix of the next console_log message: "LOG:" at the start of a line,
// empty while a message built from several calls is still open.
const char* log_prefix = LOG_PREFIX;

}  // namespace

void wait_for_key() {
    // The terminal takes single keys before the prompt shows, so a key
    // pressed as soon as it is seen counts.
    key_press_mode keys;
    std::puts("Press any key to continue...");
    std::fflush(stdout);
    // The key itself is not used; end of input ends the wait too.
    keys.read_key();
}

int report_success(const bool* non_interactive) {
    std::puts("*************************");
    std::puts("* Operations succeeded! *");
    std::puts("*************************\n");
    if (!*non_interactive) wait_for_key();
    std::fflush(stdout);
    return 0;
}

int report_failure(const bool* non_interactive) {
    std::puts("*********************************************************");
    std::puts("* Operations failed! Please retry or call tech support. *");
    std::puts("*********************************************************\n");
    if (!*non_interactive) wait_for_key();
    std::fflush(stdout);
    return 1;
}

int console_log(const char* format, ...) {
    // An empty message neither prints nor changes where the line stands.
    const std::size_t length = std::strlen(format);
    if (length == 0) return 0;
    std::fputs(log_prefix, stdout);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    // The format text decides, not the formatted output: a message assembled
    // from several calls gets one prefix.
    log_prefix = format[length - 1] == '\n' ? LOG_PREFIX : "";
    return 0;
}

void console_log_restart() { log_prefix = LOG_PREFIX; }

int console_error(const char* format, ...) {
    std::fputs("ERROR:", stdout);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    return 0;
}

int log_silent(const char* /*format*/, ...) { return 0; }
