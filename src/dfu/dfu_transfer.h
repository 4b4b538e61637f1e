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

// The request a transfer failed at: the code of its failure::communication
// outcome, and the number its console message shows.
inline constexpr int DFU_FAILED_GETSTATUS = 1;
inline constexpr int DFU_FAILED_CLRSTATUS = 2;
inline constexpr int DFU_FAILED_ABORT = 3;
inline constexpr int DFU_FAILED_DNLOAD = 4;
inline constexpr int DFU_FAILED_MANIFEST_POLL = 5;
inline constexpr int DFU_FAILED_MANIFEST_TIMEOUT = 6;  // still in manifestation after the last poll

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
// or upload. Success, or the request that failed (also left in the device).
outcome dfu_make_idle(dfu_device& device);

// The detach sequence; in DFU mode the interface is first brought to
// dfuIDLE as dfu_make_idle does.
outcome dfu_leave_mode(dfu_device& device, const char* mode_name, const dfu_event_fn& callback);

// With an image: download, manifestation wait and status text; without one
// (nullopt): the status text only. Success; failure::communication with the
// DFU_FAILED_* request; or failure::device_status with the bStatus the
// device ended the download in dfuERROR with. The device keeps the same in
// its `failure`.
outcome dfu_transfer(dfu_device& device, std::optional<std::span<const std::uint8_t>> image,
                 const dfu_event_fn& callback);
