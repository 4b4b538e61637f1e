#include "dfu/dfu_upgrade.h"

#include "platform/interrupt.h"
#include "platform/platform.h"
#include "usb/usb_device_wait.h"

namespace {

int interface_for(std::uint16_t product_id) { return product_id == DFU_PRODUCT_ID ? 0 : 1; }

// The device of the run: none until the first wait found one, then the one
// every later wait must find again (in its newest enumeration).
struct dfu_run {
    platform::Platform& os;
    dfu_console& console;
    serial_number serial;
    std::optional<usb_device_identity> device;
};

// Polls for the run's device and opens its DFU interface; null (after
// " [FAIL]") when it does not appear within the allowed attempts. After a
// detach (`detached`) the device must have left the bus first; the wait
// begins with the settling pause.
dfu_device_ptr wait_for_device(dfu_run& run, bool detached, platform::DepartureWatch watch = 0) {
    dfu_console& console = run.console;
    usb_wait_request request;
    request.device = run.device ? &*run.device : nullptr;
    request.serial = run.serial;
    request.restarted = detached;
    request.watch = watch;
    if (detached) usb_wait_pause(run.os, request, DFU_DETACH_SETTLE_MS);
    std::fputs("Waiting for Korvix device to appear.", console.out);
    std::fflush(console.out);
    dfu_device_ptr opened;
    bool unopened = false;  // found, but its DFU interface did not open
    request.take = [&](const usb_device_identity& candidate) {
        opened = dfu_open_same(run.os, DEVICE_VENDOR_ID, candidate.product_id, interface_for(candidate.product_id),
                               candidate);
        unopened = opened == nullptr;
        return opened != nullptr;
    };
    request.missed = [&] {
        std::fputs(".", console.out);
        std::fflush(console.out);
    };
    const usb_wait_result result = usb_wait_for_device(run.os, request);
    if (result == usb_wait_result::back) {
        run.device = request.found;
        const usb_device& usb = dfu_usb_device(*opened);
        std::fprintf(console.out, " [OK - %.4x:%.4x v%.4x]\n", usb_device_vendor_id(usb),
                     usb_device_product_id(usb), usb_device_release(usb));
        std::fflush(console.out);
        return opened;
    }
    std::fputs(" [FAIL]\n", console.out);
    std::fflush(console.out);
    if (result == usb_wait_result::did_not_restart) std::fputs(USB_WAIT_DID_NOT_RESTART_TEXT, console.err);
    if (unopened) {
        // Seen through its HID interface, or without the rights or the
        // driver its DFU interface needs: say so rather than "not found".
        std::fputs("ERROR: The device is attached, but its DFU interface cannot be opened.\n", console.err);
        if (const std::string hint = run.os.inaccessible_device_hint(); !hint.empty())
            std::fprintf(console.err, "%s\n", hint.c_str());
    }
    return nullptr;
}

// After the device left DFU mode: it must be back in run-time mode, and, when
// the image names a product that could not be checked while the device was in
// DFU mode, be that product. False after an error line.
bool check_back_in_run_time(dfu_console& console, dfu_device& device, std::uint16_t image_product) {
    const std::uint16_t product_id = usb_device_product_id(dfu_usb_device(device));
    if (product_id == DFU_PRODUCT_ID) {
        std::fputs(USB_WAIT_BACK_IN_DFU_MODE_TEXT, console.err);
        return false;
    }
    if (image_product != ANY_ID && image_product != product_id) {
        std::fprintf(console.err, "ERROR: The image is for product ID %.4x, but the device came back as %.4x:%.4x.\n",
                     static_cast<unsigned>(image_product), static_cast<unsigned>(DEVICE_VENDOR_ID),
                     static_cast<unsigned>(product_id));
        return false;
    }
    return true;
}

bool in_dfu_mode(dfu_device& device) { return usb_device_product_id(dfu_usb_device(device)) == DFU_PRODUCT_ID; }

}  // namespace

int dfu_upgrade(platform::Platform& os, dfu_console& console, serial_number serial,
                std::optional<std::span<const std::uint8_t>> image, bool reset_after, bool read_info,
                const usb_device_identity* device_of_run, std::uint16_t image_product) {
    const bool with_image = image.has_value();
    dfu_run run{os, console, serial, std::nullopt};
    if (device_of_run != nullptr) run.device = *device_of_run;
    const dfu_event_fn callback = dfu_console_callback(console);
    auto fail = [&](dfu_device_ptr& device) {
        dfu_report_failure(console, device, with_image);
        return -1;
    };

    dfu_device_ptr device = wait_for_device(run, false);
    if (!device) return fail(device);
    // From the first detach on, the device restarts, takes an image or
    // leaves DFU mode until the last wait.
    const platform::interrupt_critical_phase critical;

    if (!in_dfu_mode(*device)) {
        const platform::DepartureWatchOwner watch(os, os.usb_watch_departure(dfu_usb_device(*device).handle.get()));
        if (dfu_leave_mode(*device, "run-time", callback) < 0) return fail(device);
        device.reset();
        device = wait_for_device(run, true, watch.get());
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
    platform::DepartureWatchOwner watch;
    if (reset_after) {
        watch.reset(os, os.usb_watch_departure(dfu_usb_device(*device).handle.get()));
        if (dfu_leave_mode(*device, "DFU", callback) < 0) return fail(device);
    }
    device.reset();

    device = wait_for_device(run, reset_after, watch.get());
    if (!device || transferred != 0) return fail(device);
    if (reset_after && !check_back_in_run_time(console, *device, image_product)) return fail(device);
    std::fputs("\n", console.out);
    std::fflush(console.out);
    device.reset();  // closed before the departure watch and the critical phase end
    return console.failed ? -1 : 0;
}

int dfu_upgrade(platform::Platform& os, serial_number serial, std::optional<std::span<const std::uint8_t>> image,
                bool reset_after, bool read_info, const usb_device_identity* device, std::uint16_t image_product) {
    dfu_console console;
    return dfu_upgrade(os, console, serial, image, reset_after, read_info, device, image_product);
}
