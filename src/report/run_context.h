// One run: the platform it reaches the system through, the reporter it
// speaks through, the one physical device it acts on, and what it was asked
// to do. Passed explicitly to each path's entry point, so that several runs
// can live in one process.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/platform.h"
#include "report/reporter.h"
#include "usb/usb_device_identity.h"
#include "usb/usb_ids.h"

struct run_context {
    platform::Platform& os;  // what the run reaches the system through
    reporter& report;
    const usb_device_identity& device;
};

struct run_job {
    bool reset = false;      // restart the device, nothing else
    bool read_info = false;  // read the device's information instead of upgrading
    // The image to send; none in reset-only and information modes.
    std::optional<std::span<const std::uint8_t>> image;
    bool restart_after = true;  // restart the device after the upgrade
    // The product ID the image's DFU suffix names where the device did not
    // show its own (it was in DFU mode): checked once it is back. ANY_ID:
    // nothing left to check.
    std::uint16_t image_product = ANY_ID;
    serial_number serial;  // -S, as the link's address needs it
};
