// The console the tool runs in: quick-edit cleared while it runs, UTF-8
// output, and both given back as they were when the platform goes, when the
// process exits and when Ctrl+C, Ctrl+Break or closing the window ends it.
#pragma once

#include "platform/windows/win32.h"

namespace platform::windows {

// Quick-edit mode would let a stray click in the console window freeze the
// tool's output (and the device conversation) until a key is pressed. Only
// a console input is changed; pipes, files and NUL are left alone.
void console_clear_quick_edit();
// Console output in UTF-8 (device serials and names may hold any character).
void console_use_utf8_output();
// Puts back what the two calls above changed; harmless when nothing was.
void console_restore();
// Removes the console control handler (the platform object is going).
void console_release();

// What Ctrl+C, Ctrl+Break, closing the window, logoff or shutdown do: the
// console is restored and the event is left to the next handler (the
// system's own ends the process). The handler installed by the calls above.
BOOL WINAPI console_control(DWORD event);

}  // namespace platform::windows
