#include "dfu/dfu_upgrade.h"

#include "platform/platform.h"

namespace {

int interface_for(std::uint16_t product_id) { return product_id == DFU_PRODUCT_ID ? 0 : 1; }

// Polls for the device and opens its DFU interface; null (after " [FAIL]")
// when it does not appear within the allowed attempts.
dfu_device_ptr wait_for_device(dfu_console& console, serial_number serial) {
    std::fputs("Waiting for Korvix device to appear.", console.out);
    std::fflush(console.out);
    for (int attempt = 0; attempt < DFU_APPEAR_ATTEMPTS; ++attempt) {
        const std::uint16_t product_id = usb_find_product_id(serial);
        if (product_id != 0) {
            if (dfu_device_ptr device = dfu_open(DEVICE_VENDOR_ID, product_id, interface_for(product_id), serial)) {
                const usb_device& usb = dfu_usb_device(*device);
                std::fprintf(console.out, " [OK - %.4x:%.4x v%.4x]\n", usb_device_vendor_id(usb),
                             usb_device_product_id(usb), usb_device_release(usb));
                std::fflush(console.out);
                return device;
            }
        }
        std::fputs(".", console.out);
        std::fflush(console.out);
        platform::current().sleep_ms(DFU_APPEAR_POLL_MS);
    }
    std::fputs(" [FAIL]\n", console.out);
    std::fflush(console.out);
    return nullptr;
}

bool in_dfu_mode(dfu_device& device) { return usb_device_product_id(dfu_usb_device(device)) == DFU_PRODUCT_ID; }

}  // namespace

int dfu_upgrade(dfu_console& console, serial_number serial, std::optional<std::span<const std::uint8_t>> image,
                bool reset_after, bool read_info) {
    const bool with_image = image.has_value();
    const dfu_event_fn callback = dfu_console_callback(console);
    auto fail = [&](dfu_device_ptr& device) {
        dfu_report_failure(console, device, with_image);
        return -1;
    };

    dfu_device_ptr device = wait_for_device(console, serial);
    if (!device) return fail(device);

    if (!in_dfu_mode(*device)) {
        if (dfu_leave_mode(*device, "run-time", callback) < 0) return fail(device);
        dfu_close(device);
        platform::current().sleep_ms(DFU_DETACH_SETTLE_MS);
        device = wait_for_device(console, serial);
        if (!device) return fail(device);
        if (!in_dfu_mode(*device)) {
            std::fputs("\nERROR: Device is not in upgrade mode.\n", console.err);
            return fail(device);
        }
    }

    if (with_image) {
        std::fputs("Flash process begins. Please do not power off or unplug your machine.\n", console.out);
        std::fflush(console.out);
    }
    int transferred = dfu_transfer(*device, image, callback);
    if (transferred != 0) {
        if (const char* message = dfu_take_message(*device)) std::fprintf(console.out, "%s\n", message);
        std::fflush(console.out);
    }
    // The information text is what an information read is for: without one
    // (a failed or empty upload) the read failed.
    if (read_info && dfu_status_text(*device)[0] == '\0') transferred = -1;
    if (reset_after) {
        if (dfu_leave_mode(*device, "DFU", callback) < 0) return fail(device);
        platform::current().sleep_ms(DFU_DETACH_SETTLE_MS);
    }
    dfu_close(device);

    device = wait_for_device(console, serial);
    if (!device || transferred != 0) return fail(device);
    std::fputs("\n", console.out);
    std::fflush(console.out);
    dfu_close(device);
    return console.failed ? -1 : 0;
}

int dfu_upgrade(serial_number serial, std::optional<std::span<const std::uint8_t>> image, bool reset_after,
                bool read_info) {
    dfu_console console;
    return dfu_upgrade(console, serial, image, reset_after, read_info);
}
