#include "frontend/frontend.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "frontend/build_info.h"
#include "frontend/console.h"
#include "frontend/device_list.h"
#include "frontend/device_lock.h"
#include "frontend/image.h"
#include "frontend/image_check.h"
#include "frontend/options.h"
#include "frontend/path_choice.h"
#include "frontend/paths.h"
#include "frontend/version.h"
#include "native/hid_procedures.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "usb/usb_device.h"

namespace {

void print_start_banner() {
    std::puts("*************************************************");
    std::printf("* Korvix Flash-Tool [Build Info: %s] *\n", build_date());
    std::puts("*************************************************");
    std::puts("");
}

// The file's DFU suffix, if it has one, checked before any device is looked
// at; false after an error line saying what does not match.
bool check_image_file(const char* image_path, const std::vector<std::uint8_t>& image,
                      std::optional<dfu_suffix>& fitting) {
    dfu_suffix suffix;
    const image_verdict verdict = image_check(image, DEVICE_VENDOR_ID, suffix);
    if (verdict == image_verdict::sendable) {
        fitting = suffix;
        return true;
    }
    if (verdict == image_verdict::no_suffix) {
        std::puts("NOTICE: The image carries no DFU suffix; it is sent unchecked.");
        return true;
    }
    std::fflush(stdout);
    switch (verdict) {
        case image_verdict::empty:
            std::fprintf(stderr, "ERROR: The image file <%s> is empty.\n", image_path);
            break;
        case image_verdict::suffix_only:
            std::fprintf(stderr, "ERROR: The image file <%s> holds a DFU suffix and no firmware.\n", image_path);
            break;
        case image_verdict::malformed_suffix:
            std::fprintf(stderr, "ERROR: The image's DFU suffix is malformed: its length is %u, not %zu.\n",
                         static_cast<unsigned>(suffix.length), DFU_SUFFIX_LENGTH);
            break;
        case image_verdict::bad_crc:
            std::fprintf(stderr, "ERROR: The image's DFU suffix gives CRC %.8x, but its contents have CRC %.8x.\n",
                         static_cast<unsigned>(suffix.stored_crc), static_cast<unsigned>(suffix.file_crc));
            break;
        case image_verdict::wrong_vendor:
            std::fprintf(stderr, "ERROR: The image is for vendor ID %.4x, not %.4x.\n",
                         static_cast<unsigned>(suffix.vendor_id), static_cast<unsigned>(DEVICE_VENDOR_ID));
            break;
        default: break;
    }
    return false;
}

// Prints the mode banner and fills `file_buffer` in file upgrade mode. False
// when the image file cannot be read or fails its check; `suffix` receives
// the file's DFU suffix when it has one that fits.
bool prepare_image(run_mode mode, const char* image_path, std::vector<std::uint8_t>& file_buffer,
                   std::optional<dfu_suffix>& suffix) {
    switch (mode) {
        case run_mode::reset_only: return true;
        case run_mode::info:
            std::puts("Get Info Mode");
            std::puts("=============\n");
            return true;
        case run_mode::file_upgrade:
            std::puts("Upgrade Mode Override");
            std::puts("=====================\n");
            std::printf("Read file: <%s>...", image_path);
            if (const image_read_status status = read_image_file(image_path, file_buffer);
                status != image_read_status::ok) {
                std::fflush(stdout);
                std::fprintf(stderr, "\n%s\n", image_read_error_text(status, image_path).c_str());
                return false;
            }
            std::printf(" [%d bytes].\n", static_cast<int>(file_buffer.size()));
            return check_image_file(image_path, file_buffer, suffix);
        case run_mode::builtin_upgrade:
            std::puts("Built-in Upgrade Mode");
            std::puts("=====================\n");
            std::printf("- Using built-in firmware image, %d bytes.\n\n",
                        image_for(mode, file_buffer).length);
            return true;
    }
    return false;
}

// A device seen but not openable for lack of permission, and what grants it.
void print_inaccessible_device_hint(platform::Platform& os) {
    const std::string hint = os.inaccessible_device_hint();
    if (hint.empty()) return;
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", hint.c_str());
}

// The one device the selection names; null (after saying why) when none or
// several fit it. Nothing has been sent to any device yet.
std::optional<usb_device_identity> choose_device(platform::Platform& os, const usb_selection& selection) {
    const std::vector<usb_device_identity> attached = usb_list_devices(os);
    std::vector<usb_device_identity> devices = usb_select(attached, selection);
    if (devices.size() > 1) {
        print_several_devices(devices, selection);
        return std::nullopt;
    }
    if (devices.empty()) {
        std::puts("No Korvix device detected\n");
        if (selection.serial || selection.location) print_no_match(selection, attached);
        print_inaccessible_device_hint(os);
        return std::nullopt;
    }
    if (usb_identity_is_weak(devices.front()))
        std::puts("NOTICE: The device has neither a serial number nor a USB location; the waits accept it only "
                  "while it is the only Korvix device attached.");
    return std::move(devices.front());
}

// Checks the image's product ID against the device; for a device in DFU mode,
// which does not show it, says that the check waits until it is back. False
// after an error line.
bool check_image_product(const usb_device_identity& device, const std::optional<dfu_suffix>& suffix) {
    if (!suffix || suffix->product_id == ANY_ID) return true;
    if (device.product_id == DFU_PRODUCT_ID) {
        std::printf("NOTICE: The device is in DFU mode, which hides its product ID: the image's product ID %.4x cannot be checked "
                    "yet.\n",
                    static_cast<unsigned>(suffix->product_id));
        return true;
    }
    if (image_fits_product(*suffix, device.product_id)) return true;
    std::fflush(stdout);
    std::fprintf(stderr, "ERROR: The image is for product ID %.4x, but the device is %.4x:%.4x.\n",
                 static_cast<unsigned>(suffix->product_id), static_cast<unsigned>(DEVICE_VENDOR_ID),
                 static_cast<unsigned>(device.product_id));
    return false;
}

// Finds the one device of the run, chooses the path and runs it. True on
// success.
bool run_device_path(platform::Platform& os, const run_options& options, firmware_image image,
                     const std::optional<dfu_suffix>& suffix) {
    const std::optional<usb_device_identity> chosen = choose_device(os, {options.serial, options.location});
    if (!chosen) return false;
    const usb_device_identity& device = *chosen;
    // Held until the run ends: no other flash-tool talks to the device
    // meanwhile, across its restarts and mode changes (it keeps its port).
    const device_lock lock = device_lock_take(os, device);
    if (!lock.taken()) {
        std::fflush(stdout);
        std::fprintf(stderr, "ERROR: The device at %s is in use by another flash-tool (%s).\n",
                     device.location.c_str(), device_lock_holder_text(lock).c_str());
        return false;
    }
    if (!check_image_product(device, suffix)) return false;
    const std::uint16_t product_id = device.product_id;
    if (product_id == BRIDGE_PRODUCT_ID && options.enable_kxp) {
        std::puts("Talking to a bridge, will ignore option --enable_kxp");
    }
    const device_path path =
        choose_path(product_id, options.force_dfu, options.enable_kxp, [&] { return hid_probe(os, device); });
    path_request request{os, options, device, image};
    if (suffix && product_id == DFU_PRODUCT_ID) request.image_product = suffix->product_id;
    switch (path) {
        case device_path::none: return false;
        case device_path::dfu: return path_dfu(request) >= 0;
        case device_path::hid: return path_hid(request) >= 0;
        case device_path::kxp:
            switch (path_kxp(request)) {
                case kxp_path_result::succeeded: return true;
                case kxp_path_result::failed: return false;
                case kxp_path_result::use_hid: return path_hid(request) >= 0;
            }
    }
    return false;
}

}  // namespace

int frontend_main(platform::Platform& os, int argc, char** argv, option_set set) {
    // Error lines are written out at once, so that a log of both streams has
    // them where they happened. The Windows C runtime buffers standard error
    // when it is a file (every error line would end up after the final
    // banner); the C standard asks for it unbuffered everywhere else.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    console_log_restart();
    os.console_clear_quick_edit();
    print_start_banner();
    // The option parser's diagnostics go to standard error: the banner first.
    std::fflush(stdout);

    run_options options;
    switch (parse_options(argc, argv, options, set)) {
        case parse_outcome::run: break;
        case parse_outcome::help:
            print_usage(stdout, argc > 0 ? argv[0] : "flash-tool", set);
            return report_success(&options.non_interactive);
        case parse_outcome::version:
            // -V and -l are questions a script asks: the answer ends without a
            // key wait, on a terminal too. -h keeps it.
            options.non_interactive = true;
            print_version(os);
            return report_success(&options.non_interactive);
        case parse_outcome::bad: return report_failure(&options.non_interactive);
    }
    platform::interrupt_arm();
    if (options.list) {
        // A question, not an operation: it never waits for a key.
        options.non_interactive = true;
        const usb_selection selection{options.serial, options.location};
        const std::vector<usb_device_identity> attached = usb_list_devices(os);
        std::vector<usb_device_identity> shown = usb_select(attached, selection);
        // Those it cannot open too, by location (their serial cannot be read).
        for (usb_device_identity& unopened : usb_list_unopened(os, attached))
            if (!selection.serial && (!selection.location || unopened.location == *selection.location))
                shown.push_back(std::move(unopened));
        std::stable_sort(shown.begin(), shown.end(), [](const usb_device_identity& a, const usb_device_identity& b) {
            return a.location < b.location;
        });
        const bool listed = list_devices(os, shown);
        if (!listed && (selection.serial || selection.location)) print_no_match(selection, attached);
        // Also after a list: a device may be listed through one interface
        // while another of it could not be opened.
        print_inaccessible_device_hint(os);
        platform::interrupt_disarm();
        return listed ? report_success(&options.non_interactive) : report_failure(&options.non_interactive);
    }

    const run_mode mode = select_mode(options);
    bool succeeded = false;
    {
        // The file's buffer lives until the path is done, and no longer than
        // the final report.
        std::vector<std::uint8_t> file_buffer;
        std::optional<dfu_suffix> suffix;
        if (prepare_image(mode, options.image_path, file_buffer, suffix)) {
            succeeded = run_device_path(os, options, image_for(mode, file_buffer), suffix);
        }
    }
    platform::interrupt_disarm();
    return succeeded ? report_success(&options.non_interactive)
                     : report_failure(&options.non_interactive);
}
