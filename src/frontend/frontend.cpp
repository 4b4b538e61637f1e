#include "frontend/frontend.h"

#include <cstdio>
#include <string>
#include <vector>

#include "frontend/build_info.h"
#include "frontend/console.h"
#include "frontend/image.h"
#include "frontend/options.h"
#include "frontend/path_choice.h"
#include "frontend/paths.h"
#include "native/hid_procedures.h"
#include "platform/platform.h"
#include "usb/usb_device.h"

namespace {

void print_start_banner() {
    std::puts("*************************************************");
    std::printf("* Korvix Flash-Tool [Build Info: %s] *\n", build_date());
    std::puts("*************************************************");
    std::puts("");
}

// Prints the mode banner and fills `file_buffer` in file upgrade mode. False
// when the image file cannot be read.
bool prepare_image(run_mode mode, const char* image_path, std::vector<std::uint8_t>& file_buffer) {
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
            if (!read_image_file(image_path, file_buffer)) {
                std::fflush(stdout);
                std::fprintf(stderr, "\nERROR: Could not find file <%s>.\n", image_path);
                return false;
            }
            std::printf(" [%d bytes].\n", static_cast<int>(file_buffer.size()));
            return true;
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
void print_inaccessible_device_hint() {
    const std::string hint = platform::current().inaccessible_device_hint();
    if (hint.empty()) return;
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", hint.c_str());
}

// Finds the device, chooses the path and runs it. True on success.
bool run_device_path(const run_options& options, firmware_image image) {
    const std::uint16_t product_id = usb_find_product_id(options.serial);
    if (product_id == BRIDGE_PRODUCT_ID && options.enable_kxp) {
        std::puts("Talking to a bridge, will ignore option --enable_kxp");
    }
    const device_path path =
        choose_path(product_id, options.force_dfu, options.enable_kxp,
                    [&] { return hid_probe(DEVICE_VENDOR_ID, product_id, options.serial); });
    const path_request request{options, product_id, image};
    switch (path) {
        case device_path::none:
            std::puts("No Korvix device detected\n");
            print_inaccessible_device_hint();
            return false;
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

int frontend_main(int argc, char** argv) {
    platform::current().console_clear_quick_edit();
    print_start_banner();

    run_options options;
    switch (parse_options(argc, argv, options)) {
        case parse_outcome::run: break;
        case parse_outcome::help:
            print_usage(stdout, argc > 0 ? argv[0] : "flash-tool");
            return report_success(&options.non_interactive);
        case parse_outcome::bad: return report_failure(&options.non_interactive);
    }

    const run_mode mode = select_mode(options);
    bool succeeded = false;
    {
        // The file's buffer lives until the path is done, and no longer than
        // the final report.
        std::vector<std::uint8_t> file_buffer;
        if (prepare_image(mode, options.image_path, file_buffer)) {
            succeeded = run_device_path(options, image_for(mode, file_buffer));
        }
    }
    return succeeded ? report_success(&options.non_interactive)
                     : report_failure(&options.non_interactive);
}
