// Waiting for a device to come back after a restart or a detach, or to be
// found again between the phases of a run. One rule for every path: only the
// device that was opened counts (usb_same_device; a device known by neither
// location nor serial number only while it is the one device attached), and
// a device told to restart counts as back only after it has left: seen
// absent at least once, found under a new enumeration, or found in another
// mode (run-time <-> DFU mode). Prints nothing; the caller's `missed` does.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"
#include "usb/usb_device_identity.h"

inline constexpr int USB_WAIT_ATTEMPTS = 601;
inline constexpr std::uint32_t USB_WAIT_INTERVAL_MS = 100;

enum class usb_wait_result {
    back,             // found, and taken
    not_back,         // not found (or not taken) within the attempts
    did_not_restart,  // told to restart, yet present under the same enumeration throughout
};

struct usb_wait_request {
    // The device the run opened; null before any was: then the first device
    // found (with `serial`, if given) counts.
    const usb_device_identity* device = nullptr;
    serial_number serial;
    bool restarted = false;  // it was told to restart or detach
    // Takes the device once it is back; false keeps waiting (e.g. it cannot be
    // opened yet). Null: being back is enough.
    std::function<bool(const usb_device_identity& found)> take;
    // After every attempt that did not end the wait, before its pause.
    std::function<void()> missed;
    // Filled when the wait ends in `back`: the device as found again.
    usb_device_identity found;
    // Set once the device was seen to leave (also during usb_wait_pause).
    bool left = false;
    // The system's watch on the device, set before it was told to restart
    // (0: none): its word that the device went counts as having seen it.
    platform::DepartureWatch watch = 0;
};

// The pause between a restart or detach and the wait. Where the system gives
// no enumeration token, a device that is back within the pause would look as
// if it never left: the pause is then spent in lookups USB_WAIT_INTERVAL_MS
// apart, each an observation for the wait that follows.
void usb_wait_pause(platform::Platform& os, usb_wait_request& request, std::uint32_t milliseconds);

// Up to USB_WAIT_ATTEMPTS lookups, USB_WAIT_INTERVAL_MS apart (a pause also
// follows the last one).
usb_wait_result usb_wait_for_device(platform::Platform& os, usb_wait_request& request);

// The line a path prints after a failed wait that ended in did_not_restart.
inline constexpr const char* USB_WAIT_DID_NOT_RESTART_TEXT =
    "ERROR: The device did not restart: it stayed on the bus for the whole wait.\n";
// The line a path prints when a device expected back in run-time mode came
// back in DFU mode.
inline constexpr const char* USB_WAIT_BACK_IN_DFU_MODE_TEXT =
    "ERROR: The device came back in DFU mode: the new firmware did not start.\n";
// The line a path prints after a failed wait that ended in not_back.
inline constexpr const char* USB_WAIT_NOT_BACK_TEXT = "ERROR: The device did not come back.\n";
