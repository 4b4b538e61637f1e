// The DFU run-time interface of a device in its normal mode (class 0xFE,
// subclass 1, protocol 1). DETACH makes the device leave the bus and
// enumerate again in DFU mode (product ID 0x0004, one DFU interface 0)
// after a device time; GETSTATUS and GETSTATE report appIDLE or appDETACH.
#pragma once

#include <memory>

#include "sim/composite_device.h"
#include "sim/dfu_firmware.h"

namespace sim {

inline constexpr std::uint16_t DFU_MODE_PRODUCT_ID = 0x0004;

class DfuRunTimeFunction : public UsbFunction {
public:
    explicit DfuRunTimeFunction(std::shared_ptr<DfuFirmware> firmware) : firmware_(std::move(firmware)) {}

    void on_attach(CompositeDevice& device) override;
    void append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const override;
    TransferStatus control(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                           std::size_t& transferred) override;

private:
    TransferStatus handle(std::uint64_t now_ms, const SetupPacket& setup, std::span<std::uint8_t> data,
                          std::size_t& transferred, bool& illegal);
    void detach(std::uint64_t now_ms);

    std::shared_ptr<DfuFirmware> firmware_;
    CompositeDevice* device_ = nullptr;
    std::uint8_t state_ = dfu::APP_IDLE;
};

// The configuration of `run_time`'s device in DFU mode: same vendor and
// strings, product ID 0x0004, the DFU-mode interface alone. DETACH there
// brings back `run_time`.
DeviceConfiguration dfu_mode_configuration(const std::shared_ptr<DfuFirmware>& firmware,
                                           const DeviceConfiguration& run_time);

}  // namespace sim
