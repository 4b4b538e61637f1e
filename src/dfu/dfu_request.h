// The DFU 1.1 class requests on an opened device's DFU interface, the
// status reply and the display names of the status codes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "usb/usb_device.h"

inline constexpr std::uint8_t DFU_DETACH = 0;
inline constexpr std::uint8_t DFU_DNLOAD = 1;
inline constexpr std::uint8_t DFU_UPLOAD = 2;
inline constexpr std::uint8_t DFU_GETSTATUS = 3;
inline constexpr std::uint8_t DFU_CLRSTATUS = 4;
inline constexpr std::uint8_t DFU_GETSTATE = 5;
inline constexpr std::uint8_t DFU_ABORT = 6;

// bState values.
inline constexpr std::uint8_t DFU_STATE_APP_IDLE = 0;
inline constexpr std::uint8_t DFU_STATE_APP_DETACH = 1;
inline constexpr std::uint8_t DFU_STATE_IDLE = 2;
inline constexpr std::uint8_t DFU_STATE_DNLOAD_SYNC = 3;
inline constexpr std::uint8_t DFU_STATE_DNBUSY = 4;
inline constexpr std::uint8_t DFU_STATE_DNLOAD_IDLE = 5;
inline constexpr std::uint8_t DFU_STATE_MANIFEST_SYNC = 6;
inline constexpr std::uint8_t DFU_STATE_MANIFEST = 7;
inline constexpr std::uint8_t DFU_STATE_MANIFEST_WAIT_RESET = 8;
inline constexpr std::uint8_t DFU_STATE_UPLOAD_IDLE = 9;
inline constexpr std::uint8_t DFU_STATE_ERROR = 10;

// bStatus values used by name in the tool and the simulator.
inline constexpr std::uint8_t DFU_STATUS_OK = 0;
inline constexpr std::uint8_t DFU_STATUS_ERR_FILE = 2;
inline constexpr std::uint8_t DFU_STATUS_ERR_VERIFY = 7;
inline constexpr std::uint8_t DFU_STATUS_ERR_STALLEDPKT = 15;

inline constexpr std::uint16_t DFU_DETACH_TIMEOUT = 1000;  // wDetachTimeOut, ms
inline constexpr std::uint16_t DFU_UPLOAD_SIZE = 64;
inline constexpr std::size_t DFU_STATUS_SIZE = 6;

// The decoded DFU_GETSTATUS reply.
struct dfu_status {
    std::uint8_t bStatus = 0;
    std::uint32_t bwPollTimeout = 0;  // 24 bits on the wire
    std::uint8_t bState = 0;
    std::uint8_t iString = 0;
};

dfu_status dfu_status_decode(std::span<const std::uint8_t, DFU_STATUS_SIZE> reply);
std::array<std::uint8_t, DFU_STATUS_SIZE> dfu_status_encode(const dfu_status& status);

// Display name of a status code; never null. Codes above 15 share one text.
const char* dfu_status_name(unsigned code);

// True for the control-transfer failures that a device may produce while it
// detaches: a stall, or the device leaving the bus mid-request (the wait that
// follows decides whether it came back).
bool dfu_detach_failure_tolerated(platform::UsbError error);

// The requests. Each returns a negative value on failure and prints nothing.
int dfu_detach(usb_device& usb);                       // 0
int dfu_dnload(usb_device& usb, std::span<const std::uint8_t> data,
               std::uint32_t block);                   // bytes moved
int dfu_upload(usb_device& usb, std::span<std::uint8_t, DFU_UPLOAD_SIZE> buffer,
               std::uint32_t block);                   // bytes received, 0..64
int dfu_get_status(usb_device& usb, dfu_status& status);  // 6; `status` untouched on failure
int dfu_clr_status(usb_device& usb);                   // 0
int dfu_abort(usb_device& usb);                        // 0
