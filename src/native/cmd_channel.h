// Get/set exchanges of the native command protocol, carried in HID feature
// report 0xFF or in "KXPS"/"KXPG" bulk packets.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "usb/usb_bulk_channel.h"
#include "usb/usbhid_device.h"

inline constexpr std::uint8_t CMD_REPORT_ID = 0xFF;
inline constexpr int CARRIAGE_HID = 1;
inline constexpr int CARRIAGE_BULK = 2;

struct cmd_channel {
    platform::Platform* os = nullptr;  // the platform that opened it, which every call on it goes through
    int carriage = 0;
    usbhid_device_ptr hid;          // CARRIAGE_HID
    usb_bulk_channel_ptr bulk;      // CARRIAGE_BULK
};

using cmd_channel_ptr = std::unique_ptr<cmd_channel>;

cmd_channel_ptr cmd_channel_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                 serial_number serial);
cmd_channel_ptr cmd_channel_open_carriage(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                          int carriage, serial_number serial);
// The channel to the physical device `device`: its vendor HID interface, or
// for the bridge its bulk pipes; never another device with the same IDs.
cmd_channel_ptr cmd_channel_open_same(platform::Platform& os, const usb_device_identity& device);

// The system's watch on the channel's device for its departure (see
// Platform::usb_watch_departure); 0 when none.
platform::DepartureWatch cmd_channel_watch_departure(const cmd_channel& channel);

// Payload capacity: feature report length - 1 (HID), 256 (bulk); -1 otherwise.
int cmd_channel_capacity(const cmd_channel& channel);

// Longest reply a get can deliver to its destination: feature report length
// - 5 (HID), packet size - 5 (bulk); -1 otherwise.
int cmd_channel_max_reply(const cmd_channel& channel);

// Sends command `id` with `payload`. The payload length on success, -1 on failure.
int cmd_channel_set(cmd_channel& channel, std::uint8_t id, std::span<const std::uint8_t> payload);
// Fetches the device's reply to `id`. The reply length N on success (the
// bytes that fit are copied to `destination`), -1 on failure.
int cmd_channel_get(cmd_channel& channel, std::uint8_t id, std::span<std::uint8_t> destination);

int usb_bulk_channel_set(usb_bulk_channel& channel, std::uint8_t id,
                         std::span<const std::uint8_t> payload);
int usb_bulk_channel_get(usb_bulk_channel& channel, std::uint8_t id,
                         std::span<std::uint8_t> destination);
