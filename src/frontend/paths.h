// The three device paths as the entry point runs them. Each prints its own
// interface line and progress.
#pragma once

#include <cstdint>

#include "frontend/image.h"
#include "frontend/options.h"
#include "platform/platform.h"
#include "usb/usb_device_identity.h"

struct path_request {
    platform::Platform& os;  // what the run reaches the system through
    const run_options& options;
    const usb_device_identity& device;  // the one device the run acts on
    firmware_image image;  // none in reset-only and information modes
    // The product ID the image's DFU suffix names, where the device did not
    // show its own (in DFU mode): checked once the device is back. ANY_ID:
    // nothing left to check.
    std::uint16_t image_product = ANY_ID;
};

// 0 or more on success, negative on failure.
int path_hid(const path_request& request);
int path_dfu(const path_request& request);

enum class kxp_path_result {
    succeeded,
    failed,
    use_hid,  // the link session could not be established: run the HID path instead
};

kxp_path_result path_kxp(const path_request& request);
