// The bridge: a USB device in front of a touch controller that carries the
// native command protocol in bulk packets on interface 0 and has a DFU
// run-time interface 1.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/composite_device.h"
#include "sim/dfu_firmware.h"
#include "sim/native_device.h"

namespace sim {

inline constexpr std::uint16_t BRIDGE_PRODUCT_ID = 0x800E;

struct BridgeConfig {
    std::uint16_t release = 0x0100;
    std::string manufacturer = "Maker";
    std::string product = "USB Bridge";
    std::string serial = "BR0001";
    NativeConfig native;
};

class Bridge : public CompositeDevice {
public:
    Bridge(BridgeConfig config, std::shared_ptr<DfuFirmware> firmware);

    NativeDevice& native() { return *native_; }
    DfuFirmware& firmware() { return *firmware_; }

private:
    static DeviceConfiguration build(const BridgeConfig& config, const std::shared_ptr<NativeDevice>& native,
                                     const std::shared_ptr<DfuFirmware>& firmware);

    std::shared_ptr<NativeDevice> native_;
    std::shared_ptr<DfuFirmware> firmware_;
};

// Makes `device` enumerate in DFU mode from `now_ms` on, as if it had been
// detached into it; DETACH there brings back its current configuration.
void start_in_dfu_mode(CompositeDevice& device, const std::shared_ptr<DfuFirmware>& firmware, std::uint64_t now_ms);

}  // namespace sim
