// Waiting for the device to enumerate again after a run over the link.
#pragma once

#include "platform/platform.h"
#include "usb/usb_device_identity.h"
#include "usb/usb_ids.h"

inline constexpr unsigned BOOT_WAIT_FIRST_PAUSE_MS = 500;

// Pauses, prints "* Wait for boot  ", then looks for `device` up to 601
// times 100 ms apart; after a restart (`restarted`) it must have left the bus
// first, and come back in run-time mode. True with an OK bracket naming the
// vendor and product ID when it is back; false with "[FAIL]" on standard
// error when it never is, or with an error line when it is back in DFU mode.
// `watch`: the system's watch on the device, set before its restart (0: none).
bool wait_for_boot(platform::Platform& os, const usb_device_identity& device, bool restarted,
                   platform::DepartureWatch watch = 0);
