#include "sim/device_registry.h"

#include "sim/dfu_run_time_function.h"

namespace sim {
namespace {

std::shared_ptr<TouchController> make_touch(const SimConfig& config, bool in_dfu_mode) {
    TouchParts parts;
    parts.firmware = std::make_shared<DfuFirmware>(config.dfu);
    parts.dfu_runtime = std::make_shared<DfuRunTimeFunction>(parts.firmware);
    auto touch = std::make_shared<TouchController>(config.touch, parts);
    if (in_dfu_mode) start_in_dfu_mode(*touch, parts.firmware, 0);
    return touch;
}

std::vector<DeviceKind> make_kinds() {
    return {
        {"touch", "touch controller in run-time mode (HID native protocol, DFU run-time)",
         [](const SimConfig& config) -> std::vector<std::shared_ptr<UsbDeviceModel>> { return {make_touch(config, false)}; }},
        {"bridge", "USB bridge (native protocol in bulk packets, DFU run-time)",
         [](const SimConfig& config) -> std::vector<std::shared_ptr<UsbDeviceModel>> {
             return {std::make_shared<Bridge>(config.bridge, std::make_shared<DfuFirmware>(config.dfu))};
         }},
        {"dfu", "touch controller in DFU mode (product ID 0x0004)",
         [](const SimConfig& config) -> std::vector<std::shared_ptr<UsbDeviceModel>> { return {make_touch(config, true)}; }},
        {"none", "nothing attached",
         [](const SimConfig&) -> std::vector<std::shared_ptr<UsbDeviceModel>> { return {}; }},
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
