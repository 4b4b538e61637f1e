#include "native/cmd_channel.h"

#include <algorithm>
#include <array>
#include <vector>

#include "usb/le.h"

namespace {

// The command set sizes its buffers for a payload capacity of at most 256
// bytes and needs more than 8 bytes of it for a non-empty image chunk.
constexpr int MAX_CAPACITY = 256;
constexpr int MIN_CAPACITY = 9;

constexpr std::array<std::uint8_t, 4> SET_TAG = {'K', 'X', 'P', 'S'};
constexpr std::array<std::uint8_t, 4> GET_TAG = {'K', 'X', 'P', 'G'};

// Copies the reply data of a get to the destination when it fits both the
// carriage and the destination. A reply that does not fit is reported by its
// length but copied nowhere.
void copy_reply(std::span<const std::uint8_t> packet, std::size_t data_offset, std::size_t length,
                std::span<std::uint8_t> destination) {
    if (data_offset + length > packet.size() || length > destination.size()) return;
    std::copy_n(packet.begin() + static_cast<std::ptrdiff_t>(data_offset), length, destination.begin());
}

int hid_set(usbhid_device& device, std::uint8_t id, std::span<const std::uint8_t> payload) {
    const int length = usbhid_device_feature_length(&device);
    const auto n = static_cast<int>(payload.size());
    if (length <= 0 || n + 3 >= length) return -1;
    std::vector<std::uint8_t> report(static_cast<std::size_t>(length), 0);
    report[0] = CMD_REPORT_ID;
    report[1] = id;
    put_le16(report, 2, static_cast<std::uint16_t>(n));
    std::copy(payload.begin(), payload.end(), report.begin() + 4);
    return usbhid_device_set_feature(&device, report) < 0 ? -1 : n;
}

int hid_get(usbhid_device& device, std::uint8_t id, std::span<std::uint8_t> destination) {
    const int length = usbhid_device_feature_length(&device);
    if (length <= 4) return -1;
    std::vector<std::uint8_t> report(static_cast<std::size_t>(length), 0);
    report[0] = CMD_REPORT_ID;
    if (usbhid_device_get_feature(&device, report) < 0) return -1;
    if (report[1] != id || report[2] != 0) return -1;
    const std::uint16_t n = le16(report, 3);
    if (n + 4 < length) copy_reply(report, 5, n, destination);
    return n;
}

}  // namespace

int usb_bulk_channel_set(usb_bulk_channel& channel, std::uint8_t id, std::span<const std::uint8_t> payload) {
    const int p = channel.packet_size;
    const auto n = static_cast<int>(payload.size());
    if (p <= 0 || n + 3 >= p || !channel.device) return -1;
    std::vector<std::uint8_t> packet(static_cast<std::size_t>(p) + 4, 0);
    std::copy(SET_TAG.begin(), SET_TAG.end(), packet.begin());
    packet[4] = id;
    put_le16(packet, 5, static_cast<std::uint16_t>(n));
    std::copy(payload.begin(), payload.end(), packet.begin() + 7);
    return usb_device_transfer(*channel.device, channel.out_pipe, packet) < 0 ? -1 : n;
}

int usb_bulk_channel_get(usb_bulk_channel& channel, std::uint8_t id, std::span<std::uint8_t> destination) {
    const int p = channel.packet_size;
    if (p <= 4 || !channel.device) return -1;
    std::array<std::uint8_t, 4> request = GET_TAG;
    if (usb_device_transfer(*channel.device, channel.out_pipe, request) < 0) return -1;
    std::vector<std::uint8_t> packet(static_cast<std::size_t>(p) + 4, 0);
    if (usb_device_transfer(*channel.device, channel.in_pipe, packet) < 0) return -1;
    if (packet[4] != id || packet[5] != 0) return -1;
    const std::uint16_t n = le16(packet, 6);
    if (n + 4 < p) copy_reply(packet, 8, n, destination);
    return n;
}

namespace {

cmd_channel_ptr over_hid(platform::Platform& os, usbhid_device_ptr hid) {
    if (!hid) return nullptr;
    auto channel = std::make_unique<cmd_channel>();
    channel->os = &os;
    channel->carriage = CARRIAGE_HID;
    channel->hid = std::move(hid);
    const int capacity = cmd_channel_capacity(*channel);
    if (capacity > MAX_CAPACITY || capacity < MIN_CAPACITY) return nullptr;
    return channel;
}

cmd_channel_ptr over_bulk(platform::Platform& os, usb_bulk_channel_ptr bulk) {
    if (!bulk) return nullptr;
    auto channel = std::make_unique<cmd_channel>();
    channel->os = &os;
    channel->carriage = CARRIAGE_BULK;
    channel->bulk = std::move(bulk);
    return channel;
}

}  // namespace

cmd_channel_ptr cmd_channel_open_carriage(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                          int carriage, serial_number serial) {
    if (carriage == CARRIAGE_HID) return over_hid(os, usbhid_device_open(os, vendor_id, product_id, serial));
    if (carriage == CARRIAGE_BULK) return over_bulk(os, usb_bulk_channel_open(os, vendor_id, product_id, 0, serial));
    return nullptr;
}

cmd_channel_ptr cmd_channel_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                 serial_number serial) {
    const int carriage =
        vendor_id == DEVICE_VENDOR_ID && product_id == BRIDGE_PRODUCT_ID ? CARRIAGE_BULK : CARRIAGE_HID;
    return cmd_channel_open_carriage(os, vendor_id, product_id, carriage, serial);
}

cmd_channel_ptr cmd_channel_open_same(platform::Platform& os, const usb_device_identity& device) {
    if (device.product_id == BRIDGE_PRODUCT_ID) return over_bulk(os, usb_bulk_channel_open_same(os, 0, device));
    return over_hid(os, usbhid_device_open_same(os, device));
}

platform::DepartureWatch cmd_channel_watch_departure(const cmd_channel& channel) {
    platform::Platform& os = *channel.os;
    if (channel.carriage == CARRIAGE_HID && channel.hid) return os.hid_watch_departure(channel.hid->handle.get());
    if (channel.carriage == CARRIAGE_BULK && channel.bulk && channel.bulk->device)
        return os.usb_watch_departure(channel.bulk->device->handle.get());
    return 0;
}

int cmd_channel_capacity(const cmd_channel& channel) {
    if (channel.carriage == CARRIAGE_HID && channel.hid)
        return usbhid_device_feature_length(channel.hid.get()) - 1;
    if (channel.carriage == CARRIAGE_BULK && channel.bulk) return channel.bulk->packet_size;
    return -1;
}

int cmd_channel_max_reply(const cmd_channel& channel) {
    if (channel.carriage == CARRIAGE_HID && channel.hid)
        return usbhid_device_feature_length(channel.hid.get()) - 5;
    if (channel.carriage == CARRIAGE_BULK && channel.bulk) return channel.bulk->packet_size - 5;
    return -1;
}

int cmd_channel_set(cmd_channel& channel, std::uint8_t id, std::span<const std::uint8_t> payload) {
    if (channel.carriage == CARRIAGE_HID && channel.hid) return hid_set(*channel.hid, id, payload);
    if (channel.carriage == CARRIAGE_BULK && channel.bulk) return usb_bulk_channel_set(*channel.bulk, id, payload);
    return -1;
}

int cmd_channel_get(cmd_channel& channel, std::uint8_t id, std::span<std::uint8_t> destination) {
    if (channel.carriage == CARRIAGE_HID && channel.hid) return hid_get(*channel.hid, id, destination);
    if (channel.carriage == CARRIAGE_BULK && channel.bulk) return usb_bulk_channel_get(*channel.bulk, id, destination);
    return -1;
}
