#include "sim/native_hid_function.h"

#include <algorithm>
#include <array>

#include "sim/usb_descriptors.h"
#include "usb/le.h"

namespace sim {
namespace {

constexpr std::uint8_t HID_GET_REPORT = 0x01;
constexpr std::uint8_t HID_SET_REPORT = 0x09;
constexpr std::uint8_t HID_GET_IDLE = 0x02;
constexpr std::uint8_t HID_SET_IDLE = 0x0A;
constexpr std::uint8_t HID_REPORT_TYPE_FEATURE = 3;

constexpr std::uint16_t FEATURE_VALUE = (HID_REPORT_TYPE_FEATURE << 8) | NATIVE_REPORT_ID;

// Native report layout: set = id, length16, payload; get = id, status,
// length16, data (offsets after the report ID byte).
constexpr std::size_t SET_PAYLOAD_OFFSET = 4;
constexpr std::size_t GET_DATA_OFFSET = 5;

}  // namespace

std::vector<std::uint8_t> native_hid_report_descriptor() {
    return {
        0x06, 0x01, 0xFF,        // Usage Page (0xFF01, vendor defined)
        0x09, 0xF1,              // Usage (0xF1)
        0xA1, 0x01,              // Collection (Application)
        0x85, NATIVE_REPORT_ID,  //   Report ID (0xFF)
        0x15, 0x00,              //   Logical Minimum (0)
        0x26, 0xFF, 0x00,        //   Logical Maximum (255)
        0x75, 0x08,              //   Report Size (8)
        0x96, 0x00, 0x01,        //   Report Count (256)
        0x09, 0x01,              //   Usage (0x01)
        0xB1, 0x02,              //   Feature (Data, Variable, Absolute)
        0xC0,                    // End Collection
    };
}

NativeHidFunction::NativeHidFunction(std::shared_ptr<NativeDevice> device, std::shared_ptr<LinkPeer> link)
    : device_(std::move(device)), link_(std::move(link)) {}

void NativeHidFunction::append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const {
    append_interface_descriptor(out, interface_number, 1, 0x03, 0x00, 0x00);
    append_hid_descriptor(out, static_cast<std::uint16_t>(native_hid_report_descriptor().size()));
    append_endpoint_descriptor(out, HID_INTERRUPT_IN_ENDPOINT, ENDPOINT_INTERRUPT, 64, 10);
}

std::vector<std::uint8_t> NativeHidFunction::hid_report_descriptor() const { return native_hid_report_descriptor(); }

TransferStatus NativeHidFunction::set_report(std::uint64_t now_ms, const SetupPacket& setup,
                                             std::span<std::uint8_t> data) {
    if (setup.value != FEATURE_VALUE || data.size() != NATIVE_REPORT_LENGTH || data[0] != NATIVE_REPORT_ID) {
        device_->refuse("malformed SET_REPORT");
        return TransferStatus::stall;
    }
    const std::uint8_t command = data[1];
    if (command == LINK_MARKER) {
        if (!link_) {
            device_->refuse("link frame without a link peer");
            return TransferStatus::stall;
        }
        if (!link_->receive_frame(now_ms, data.subspan(2, LINK_FRAME_SIZE))) return TransferStatus::stall;
        link_mode_ = true;
        return TransferStatus::ack;
    }
    const std::size_t length = le16(data, 2);
    if (length > NATIVE_REPORT_LENGTH - SET_PAYLOAD_OFFSET) {
        device_->refuse("set payload length beyond the report");
        return TransferStatus::stall;
    }
    link_mode_ = false;
    const bool accepted = device_->set(now_ms, command, data.subspan(SET_PAYLOAD_OFFSET, length));
    return accepted ? TransferStatus::ack : TransferStatus::stall;
}

TransferStatus NativeHidFunction::get_report(std::uint64_t now_ms, const SetupPacket& setup,
                                             std::span<std::uint8_t> data, std::size_t& transferred) {
    if (setup.value != FEATURE_VALUE) {
        device_->refuse("GET_REPORT of another report");
        return TransferStatus::stall;
    }
    std::array<std::uint8_t, NATIVE_REPORT_LENGTH> report{};
    report[0] = NATIVE_REPORT_ID;
    if (link_mode_) {
        if (!link_ || !link_->next_report(now_ms, std::span(report).subspan(1))) return TransferStatus::stall;
    } else {
        NativeReply reply;
        if (!device_->get(now_ms, reply)) return TransferStatus::stall;
        const std::size_t length = std::min(reply.data.size(), report.size() - GET_DATA_OFFSET);
        report[1] = reply.command;
        report[2] = reply.status;
        put_le16(report, 3, reply.length_field());
        std::copy_n(reply.data.begin(), length, report.begin() + GET_DATA_OFFSET);
    }
    transferred = std::min(data.size(), report.size());
    std::copy_n(report.begin(), transferred, data.begin());
    return TransferStatus::ack;
}

TransferStatus NativeHidFunction::control(std::uint64_t now_ms, const SetupPacket& setup,
                                          std::span<std::uint8_t> data, std::size_t& transferred) {
    transferred = 0;
    if (setup.type() != 1) return TransferStatus::stall;
    switch (setup.request) {
        case HID_SET_REPORT:
            if (setup.device_to_host()) return TransferStatus::stall;
            if (set_report(now_ms, setup, data) != TransferStatus::ack) return TransferStatus::stall;
            transferred = data.size();
            return TransferStatus::ack;
        case HID_GET_REPORT:
            if (!setup.device_to_host()) return TransferStatus::stall;
            return get_report(now_ms, setup, data, transferred);
        case HID_SET_IDLE: return TransferStatus::ack;
        case HID_GET_IDLE:
            if (data.empty()) return TransferStatus::ack;
            data[0] = 0;
            transferred = 1;
            return TransferStatus::ack;
        default: return TransferStatus::stall;
    }
}

}  // namespace sim
