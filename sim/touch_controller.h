// The touch controller in run-time mode: interface 0 the vendor HID
// interface with the native command protocol (and the link frames, when a
// link peer is attached), interface 1 the DFU run-time interface. The native
// restart command makes it leave the bus and enumerate again, or never.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sim/composite_device.h"
#include "sim/dfu_firmware.h"
#include "sim/link_peer.h"
#include "sim/native_device.h"
#include "sim/native_hid_function.h"

namespace sim {

inline constexpr std::uint16_t TOUCH_PRODUCT_ID = 0x0001;

struct TouchConfig {
    std::uint16_t product_id = TOUCH_PRODUCT_ID;
    std::uint16_t release = 0x0100;
    std::uint8_t speed = 2;  // full speed
    std::string manufacturer = "Maker";
    std::string product = "Touch Controller";
    std::string serial = "TC0001";
    // After an accepted restart: off the bus after `restart_leave_ms`, back
    // `restart_back_ms` after the restart command (never when empty).
    std::uint64_t restart_leave_ms = 0;
    std::optional<std::uint64_t> restart_back_ms = 1500;
    // After the restart command it comes back in DFU mode (its firmware did
    // not start).
    bool restart_to_dfu = false;
    NativeConfig native;
};

// Parts other models provide. Without `dfu_runtime`, interface 1 is a DFU
// run-time function over `firmware` (a fresh one when that is empty too);
// without `link`, link frames stall.
struct TouchParts {
    std::shared_ptr<UsbFunction> dfu_runtime;
    std::shared_ptr<LinkPeer> link;
    std::shared_ptr<DfuFirmware> firmware;
};

class TouchController : public CompositeDevice {
public:
    explicit TouchController(TouchConfig config, TouchParts parts = {});

    // The run-time configuration, for models that return to it (from DFU mode).
    DeviceConfiguration run_time_configuration() const { return run_time_; }
    const TouchConfig& config() const { return config_; }
    // Leaves the bus and comes back as the restart knobs say (the native
    // restart command and the link's restart both end here).
    void restart(std::uint64_t now_ms);
    NativeDevice& native() { return *native_; }
    NativeHidFunction& hid() { return *hid_; }

private:
    static DeviceConfiguration build(const TouchConfig& config, const std::shared_ptr<NativeHidFunction>& hid,
                                     std::shared_ptr<UsbFunction> dfu_runtime);

    TouchConfig config_;
    std::shared_ptr<DfuFirmware> firmware_;
    std::shared_ptr<NativeDevice> native_;
    std::shared_ptr<NativeHidFunction> hid_;
    DeviceConfiguration run_time_;
};

}  // namespace sim
