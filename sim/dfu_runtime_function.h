// A DFU 1.1 run-time interface (class 0xFE, subclass 1, protocol 1) with its
// DFU functional descriptor. This one only describes itself and refuses
// every request; models that answer DFU requests replace it.
#pragma once

#include "sim/usb_function.h"

namespace sim {

// bmAttributes of the functional descriptor: bitCanDnload | bitCanUpload |
// bitManifestationTolerant | bitWillDetach.
inline constexpr std::uint8_t DFU_ATTRIBUTES = 0x0F;
inline constexpr std::uint16_t DFU_DETACH_TIMEOUT_MS = 1000;
inline constexpr std::uint16_t DFU_TRANSFER_SIZE = 64;

class DfuRuntimeFunction : public UsbFunction {
public:
    void append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const override;
    TransferStatus control(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                           std::size_t& transferred) override;
};

}  // namespace sim
