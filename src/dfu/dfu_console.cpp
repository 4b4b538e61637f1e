#include "dfu/dfu_console.h"

void dfu_console_event(dfu_console& console, dfu_device& device, dfu_event event, int value,
                       const char* text) {
    std::FILE* out = console.out;
    switch (event) {
    case DFU_EVENT_PROGRESS:
        for (; console.progress_mark < value; console.progress_mark += 10) std::fputs(".", out);
        break;
    case DFU_EVENT_TRANSFER_BEGIN:
        std::fputs("Transfer image: ", out);
        console.progress_mark = 0;
        break;
    case DFU_EVENT_MANIFEST_BEGIN:
        std::fputs("\nFlashing: ", out);
        break;
    case DFU_EVENT_MANIFEST_POLL:
        std::fputs(".", out);
        break;
    case DFU_EVENT_TRANSFER_END:
        if (value == 0) {
            if (const char* message = dfu_take_message(device)) std::fputs(message, out);
            console.failed = true;
        } else {
            std::fputs("\n", out);
            if (value < 0) console.failed = true;
        }
        break;
    case DFU_EVENT_TEXT:
        if (value == 1)
            std::fprintf(out, "\nImage Info:\n%s\n", dfu_status_text(device));
        else if (value == 2)
            std::fprintf(out, "\nFlash status: %s\n", dfu_status_text(device));
        else if (value == 0)
            std::fputs("\nFlash status: No status available\n\n", out);
        else
            std::fputs("\nImage Info: No information available\n\n", out);
        break;
    case DFU_EVENT_DETACH_BEGIN:
        std::fprintf(out, "Detaching %s device\n", text != nullptr ? text : "");
        break;
    case DFU_EVENT_DETACH_END:
        if (value <= 0) console.failed = true;
        return;
    case DFU_EVENT_TEXT_BEGIN:
        return;
    }
    std::fflush(out);
}

dfu_event_fn dfu_console_callback(dfu_console& console) {
    return [&console](dfu_device& device, dfu_event event, int value, const char* text) {
        dfu_console_event(console, device, event, value, text);
    };
}

void dfu_report_failure(dfu_console& console, dfu_device_ptr& device, bool with_image) {
    std::fflush(console.out);
    std::fputs(with_image ? "\nERROR: Could not upgrade device.\n" : "\nERROR: Could not get read info from device.\n",
               console.err);
    std::fputs("\n", console.out);
    std::fflush(console.out);
    device.reset();
}
