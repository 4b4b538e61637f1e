// Moving an image into the device over its DFU interface, reading back the
// device's status text, bringing the interface to dfuIDLE, and the detach
// that makes the device leave its current mode. Progress is reported as
// events to a callback; nothing here prints.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "dfu/dfu_device.h"

inline constexpr std::size_t DFU_BLOCK_SIZE = 4096;
inline constexpr std::uint32_t DFU_MANIFEST_POLL_MS = 100;
// About five minutes of polling before a device stuck in manifestation is
// given up on.
inline constexpr int DFU_MANIFEST_MAX_POLLS = 3000;

// Arrays rather than pointers to literals: each text is then one object with
// one address in every translation unit, on every linker (callers compare
// the pending message by address).
inline constexpr char DFU_MSG_GETSTATUS_FAILED[] = "\n[ERROR: Communication error (1)]\n";
inline constexpr char DFU_MSG_CLRSTATUS_FAILED[] = "\n[ERROR: Communication error (2)]\n";
inline constexpr char DFU_MSG_ABORT_FAILED[] = "\n[ERROR: Communication error (3)]\n";
inline constexpr char DFU_MSG_DNLOAD_FAILED[] = "\n[ERROR: Communication error (4)]\n";
inline constexpr char DFU_MSG_MANIFEST_POLL_FAILED[] = "\n[ERROR: Communication error (5)]\n";
inline constexpr char DFU_MSG_MANIFEST_TIMEOUT[] =
    "\n[ERROR: Communication error (6): device still flashing after 3000 status polls]\n";

enum dfu_event : int {
    DFU_EVENT_PROGRESS = 1,        // value: bytes of the image sent (images stay below 2 GiB)
    DFU_EVENT_TRANSFER_BEGIN = 2,
    DFU_EVENT_MANIFEST_BEGIN = 3,
    DFU_EVENT_MANIFEST_POLL = 4,
    DFU_EVENT_TRANSFER_END = 6,    // 1 dfuIDLE, -1 dfuERROR, 0 communication failure
    DFU_EVENT_TEXT_BEGIN = 7,
    // Text after a download: 2, or 0 when the upload failed. Without a
    // download: 1, or -1 when the upload failed or gave an empty text.
    DFU_EVENT_TEXT = 8,
    DFU_EVENT_DETACH_BEGIN = 9,    // text: the name of the mode being left
    DFU_EVENT_DETACH_END = 10,     // 1 done, 0 failed
};

// `text` is the mode name for DFU_EVENT_DETACH_BEGIN and null otherwise.
using dfu_event_fn = std::function<void(dfu_device& device, dfu_event event, int value, const char* text)>;

// Brings the interface to dfuIDLE: clears dfuERROR, aborts an idle download
// or upload. 0, or -1 with a pending message.
int dfu_make_idle(dfu_device& device);

// The detach sequence; in DFU mode the interface is first brought to
// dfuIDLE as dfu_make_idle does. 0 or -1.
int dfu_leave_mode(dfu_device& device, const char* mode_name, const dfu_event_fn& callback);

// With an image: download, manifestation wait and status text; without one
// (nullopt): the status text only. 0 on success; -1 on a communication
// failure (pending message set); -2 when the device ended the download in
// dfuERROR with a non-zero status (pending message is the status name, the
// status code is kept in the device).
int dfu_transfer(dfu_device& device, std::optional<std::span<const std::uint8_t>> image,
                 const dfu_event_fn& callback);
