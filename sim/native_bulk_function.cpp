#include "sim/native_bulk_function.h"

#include <algorithm>
#include <cstring>

#include "sim/usb_descriptors.h"
#include "usb/le.h"

namespace sim {
namespace {

constexpr std::size_t TAG_LENGTH = 4;
constexpr std::size_t SET_PAYLOAD_OFFSET = 7;
constexpr std::size_t REPLY_DATA_OFFSET = 8;

bool has_tag(std::span<const std::uint8_t> data, const char (&tag)[5]) {
    return data.size() >= TAG_LENGTH && std::memcmp(data.data(), tag, TAG_LENGTH) == 0;
}

}  // namespace

NativeBulkFunction::NativeBulkFunction(std::shared_ptr<NativeDevice> device) : device_(std::move(device)) {}

void NativeBulkFunction::append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const {
    append_interface_descriptor(out, interface_number, 2, 0xFF, 0x00, 0x00);
    append_endpoint_descriptor(out, BULK_IN_ENDPOINT, ENDPOINT_BULK, 64, 0);
    append_endpoint_descriptor(out, BULK_OUT_ENDPOINT, ENDPOINT_BULK, 64, 0);
}

TransferStatus NativeBulkFunction::control(std::uint64_t, const SetupPacket&, std::span<std::uint8_t>,
                                           std::size_t& transferred) {
    transferred = 0;
    return TransferStatus::stall;
}

TransferStatus NativeBulkFunction::write(std::uint64_t now_ms, std::span<std::uint8_t> data,
                                         std::size_t& transferred) {
    if (data.size() == BULK_PACKET_LENGTH && has_tag(data, "KXPS")) {
        const std::size_t length = le16(data, 5);
        if (length > BULK_PACKET_LENGTH - SET_PAYLOAD_OFFSET) {
            device_->refuse("set payload length beyond the packet");
            return TransferStatus::stall;
        }
        if (!device_->set(now_ms, data[4], data.subspan(SET_PAYLOAD_OFFSET, length))) return TransferStatus::stall;
        transferred = data.size();
        return TransferStatus::ack;
    }
    if (data.size() == TAG_LENGTH && has_tag(data, "KXPG")) {
        NativeReply reply;
        if (!device_->get(now_ms, reply)) return TransferStatus::stall;
        std::array<std::uint8_t, BULK_PACKET_LENGTH> packet{'K', 'X', 'P', 'R'};
        const std::size_t length = std::min(reply.data.size(), packet.size() - REPLY_DATA_OFFSET);
        packet[4] = reply.command;
        packet[5] = reply.status;
        put_le16(packet, 6, reply.length_field());
        std::copy_n(reply.data.begin(), length, packet.begin() + REPLY_DATA_OFFSET);
        pending_reply_ = packet;
        transferred = data.size();
        return TransferStatus::ack;
    }
    device_->refuse("malformed bulk packet");
    return TransferStatus::stall;
}

TransferStatus NativeBulkFunction::transfer(std::uint64_t now_ms, std::uint8_t endpoint,
                                            std::span<std::uint8_t> data, std::size_t& transferred) {
    transferred = 0;
    if (endpoint == BULK_OUT_ENDPOINT) return write(now_ms, data, transferred);
    if (endpoint != BULK_IN_ENDPOINT || !pending_reply_) {
        device_->refuse("bulk read without a get request");
        return TransferStatus::stall;
    }
    transferred = std::min(data.size(), pending_reply_->size());
    std::copy_n(pending_reply_->begin(), transferred, data.begin());
    pending_reply_.reset();
    return TransferStatus::ack;
}

}  // namespace sim
