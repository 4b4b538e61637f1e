// The link's byte carrier on USB: one link frame per HID feature report 0xFF
// on the device's vendor-defined HID interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "usb/usb_ids.h"
#include "usb/usbhid_device.h"

inline constexpr std::uint32_t KX_FRAME_SIZE = 255;
// Report ID, link marker, frame.
inline constexpr std::size_t LINK_REPORT_LENGTH = KX_FRAME_SIZE + 2;
inline constexpr std::uint8_t LINK_REPORT_ID = 0xFF;
inline constexpr std::uint8_t LINK_FRAME_MARK = 0x80;
inline constexpr std::uint8_t LINK_ERROR_MARK = 0xEE;

// Frame operations of a carrier. `device` is the carrier's own argument.
// Each is true when done. send: the frame was written. receive: `frame` is
// set (empty when nothing is pending); on failure it is untouched. The frame
// stays valid until the next transfer.
using link_send_op = bool (*)(void* device, std::span<const std::uint8_t> frame);
using link_receive_op = bool (*)(void* device, std::span<const std::uint8_t>& frame);

// How a carrier hands itself to the transport (named apart from POSIX link()).
struct kxp_link {
    link_send_op send_frame = nullptr;
    link_receive_op receive_frame = nullptr;
    std::uint32_t kx_frame_size = 0;
    void* device = nullptr;
};

// The open device of the link and the one report buffer that sending and
// receiving share. Owned by the session; `device` is null while closed.
struct usb_link_holder {
    usbhid_device_ptr device;
    std::array<std::uint8_t, LINK_REPORT_LENGTH> report{};
};

// True when the device's vendor HID interface is open in `holder`; false when
// no device is present, the interface cannot be opened, or its feature report
// is not the link's 257 bytes (a shorter or longer report cannot carry the
// 255-byte frames, so such a device is refused rather than half used).
bool usb_link_open(platform::Platform& os, usb_link_holder& holder, const usb_device_identity& device);
void usb_link_close(usb_link_holder& holder);
void usb_link_bind(usb_link_holder& holder, kxp_link& record);

bool usb_link_send_frame(void* holder, std::span<const std::uint8_t> frame);
bool usb_link_receive_frame(void* holder, std::span<const std::uint8_t>& frame);
