// The run on one chosen device: its lock, the image's product check, the
// path and the operation. A run on several devices makes one per device, on
// the device's own thread.
#pragma once

#include <optional>

#include "frontend/image.h"
#include "frontend/image_check.h"
#include "frontend/options.h"
#include "platform/platform.h"
#include "report/reporter.h"
#include "usb/usb_device_identity.h"

// What every device of the run gets: the options and the image (with the
// file's DFU suffix when it has one that fits).
struct device_job {
    const run_options& options;
    firmware_image image;
    const std::optional<dfu_suffix>& suffix;
};

outcome run_on_device(platform::Platform& os, reporter& report, const usb_device_identity& device,
                      const device_job& job);
