#include "sim/dfu_runtime_function.h"

#include "sim/usb_descriptors.h"

namespace sim {

void DfuRuntimeFunction::append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const {
    append_interface_descriptor(out, interface_number, 0, 0xFE, 0x01, 0x01);
    append_dfu_functional_descriptor(out, DFU_ATTRIBUTES, DFU_DETACH_TIMEOUT_MS, DFU_TRANSFER_SIZE);
}

TransferStatus DfuRuntimeFunction::control(std::uint64_t, const SetupPacket&, std::span<std::uint8_t>,
                                           std::size_t& transferred) {
    transferred = 0;
    return TransferStatus::stall;
}

}  // namespace sim
