// The native command protocol on a vendor interface with bulk pipes: a
// 260-byte OUT packet "KXPS" + id + length16 + payload is a set, a 4-byte OUT
// packet "KXPG" asks for the reply, which the next IN read returns as 260
// bytes: 4 bytes tag, id, status, length16, data.
#pragma once

#include <array>
#include <memory>
#include <optional>

#include "sim/native_device.h"
#include "sim/usb_function.h"

namespace sim {

inline constexpr std::uint8_t BULK_IN_ENDPOINT = 0x81;
inline constexpr std::uint8_t BULK_OUT_ENDPOINT = 0x01;
inline constexpr std::size_t BULK_PACKET_LENGTH = 260;

class NativeBulkFunction : public UsbFunction {
public:
    explicit NativeBulkFunction(std::shared_ptr<NativeDevice> device);

    void append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const override;
    TransferStatus control(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                           std::size_t& transferred) override;
    bool has_endpoint(std::uint8_t address) const override {
        return address == BULK_IN_ENDPOINT || address == BULK_OUT_ENDPOINT;
    }
    TransferStatus transfer(std::uint64_t now_ms, std::uint8_t endpoint, std::span<std::uint8_t> data,
                            std::size_t& transferred) override;

private:
    TransferStatus write(std::uint64_t now_ms, std::span<std::uint8_t> data, std::size_t& transferred);

    std::shared_ptr<NativeDevice> device_;
    std::optional<std::array<std::uint8_t, BULK_PACKET_LENGTH>> pending_reply_;
};

}  // namespace sim
