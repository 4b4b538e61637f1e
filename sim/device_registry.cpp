#include "sim/device_registry.h"

#include "sim/dfu_run_time_function.h"
#include "sim/kxp_touch.h"

namespace sim {
namespace {

using Models = std::vector<std::shared_ptr<UsbDeviceModel>>;

// The touch controller speaks the native protocol, DFU and the link.
Models make_touch(const SimConfig& config, Clock& clock, bool in_dfu_mode) {
    TouchParts parts;
    parts.firmware = std::make_shared<DfuFirmware>(config.dfu);
    parts.dfu_runtime = std::make_shared<DfuRunTimeFunction>(parts.firmware);
    auto touch = make_kxp_touch(clock, config.touch, config.kxp, parts).touch;
    if (in_dfu_mode) start_in_dfu_mode(*touch, parts.firmware, 0);
    return {touch};
}

std::vector<DeviceKind> make_kinds() {
    return {
        {"touch", "touch controller in run-time mode (HID native protocol, DFU run-time)",
         [](const SimConfig& config, Clock& clock) { return make_touch(config, clock, false); }},
        {"bridge", "USB bridge (native protocol in bulk packets, DFU run-time)",
         [](const SimConfig& config, Clock&) -> Models {
             return {std::make_shared<Bridge>(config.bridge, std::make_shared<DfuFirmware>(config.dfu))};
         }},
        {"dfu", "touch controller in DFU mode (product ID 0x0004)",
         [](const SimConfig& config, Clock& clock) { return make_touch(config, clock, true); }},
        {"none", "nothing attached",
         [](const SimConfig&, Clock&) { return Models{}; }},
    };
}

}  // namespace

const std::vector<DeviceKind>& device_kinds() {
    static const std::vector<DeviceKind> kinds = make_kinds();
    return kinds;
}

const DeviceKind* find_device_kind(std::string_view name) {
    for (const auto& kind : device_kinds())
        if (kind.name == name) return &kind;
    return nullptr;
}

}  // namespace sim
