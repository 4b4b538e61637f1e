// The devices flash-tool-sim can attach at start (--sim-device=NAME), each
// built from the run's SimConfig.
#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "sim/clock.h"
#include "sim/sim_config.h"
#include "sim/usb_model.h"

namespace sim {

struct DeviceKind {
    std::string_view name;
    std::string_view help;
    // Models whose link traffic takes bus time advance `clock`.
    std::function<std::vector<std::shared_ptr<UsbDeviceModel>>(const SimConfig&, Clock&)> make;
};

const std::vector<DeviceKind>& device_kinds();
// The kind called `name`, or null.
const DeviceKind* find_device_kind(std::string_view name);

}  // namespace sim
