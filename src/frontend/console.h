// Console conversation shared by the front end and the path procedures:
// the final banners (which decide the exit status), the key wait, and the
// printf-style printers handed to the link session.
#pragma once

// 0 after the success banner (and the key wait unless non-interactive).
int report_success(const bool* non_interactive);
// 1 after the failure banner (and the key wait unless non-interactive).
int report_failure(const bool* non_interactive);
// "Press any key to continue..." and one key press (see key_press_mode).
void wait_for_key();

// Log message on standard output, "LOG:" at the start of each line.
int console_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Forgets a console_log message left open by an earlier run in the same
// process: the next one starts with "LOG:".
void console_log_restart();
// Error message on standard output, always prefixed "ERROR:".
int console_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints nothing.
int log_silent(const char* format, ...) __attribute__((format(printf, 1, 2)));
