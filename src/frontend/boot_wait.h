// Waiting for the device to enumerate again after a run over the link.
#pragma once

#include "usb/usb_ids.h"

inline constexpr unsigned BOOT_WAIT_FIRST_PAUSE_MS = 500;
inline constexpr unsigned BOOT_WAIT_POLLS = 601;
inline constexpr unsigned BOOT_WAIT_POLL_INTERVAL_MS = 100;

// Pauses, prints "* Wait for boot  ", then looks the device up to 601 times
// 100 ms apart. True with an OK bracket naming the vendor and product ID when
// it is back; false with "[FAIL]" on standard error when it never is.
bool wait_for_boot(serial_number serial);
