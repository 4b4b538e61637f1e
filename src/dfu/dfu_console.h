// The console side of the DFU path: progress and status lines from the
// transfer's events, and the closing error message.
#pragma once

#include <cstdio>

#include "dfu/dfu_transfer.h"

struct dfu_console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool failed = false;    // a transfer or detach failed; never cleared
    int progress_mark = 0;  // percent up to which progress dots are printed
};

void dfu_console_event(dfu_console& console, dfu_device& device, dfu_event event, int value,
                       const char* text);

// The event callback that prints through `console`.
dfu_event_fn dfu_console_callback(dfu_console& console);

// The could-not-upgrade (with an image) or could-not-read-info message, an
// empty line, then closes the device (which may be null).
void dfu_report_failure(dfu_console& console, dfu_device_ptr& device, bool with_image);
