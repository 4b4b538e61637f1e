#include "sim/touch_controller.h"

#include <utility>

#include "sim/dfu_run_time_function.h"
#include "usb/usb_ids.h"

namespace sim {

DeviceConfiguration TouchController::build(const TouchConfig& config, const std::shared_ptr<NativeHidFunction>& hid,
                                           std::shared_ptr<UsbFunction> dfu_runtime) {
    DeviceConfiguration result;
    result.identity.vendor_id = DEVICE_VENDOR_ID;
    result.identity.product_id = config.product_id;
    result.identity.release = config.release;
    result.identity.speed = config.speed;
    result.identity.manufacturer = config.manufacturer;
    result.identity.product = config.product;
    result.identity.serial = config.serial;
    result.functions.push_back(hid);
    result.functions.push_back(std::move(dfu_runtime));
    return result;
}

TouchController::TouchController(TouchConfig config, TouchParts parts)
    : config_(std::move(config)),
      firmware_(parts.firmware ? parts.firmware : std::make_shared<DfuFirmware>()),
      native_(std::make_shared<NativeDevice>(config_.native)),
      hid_(std::make_shared<NativeHidFunction>(native_, parts.link)),
      run_time_(build(config_, hid_,
                      parts.dfu_runtime ? parts.dfu_runtime : std::make_shared<DfuRunTimeFunction>(firmware_))) {
    // The native device belongs to this controller and is reached only
    // through its functions, so the handler never outlives it.
    native_->on_restart([this](std::uint64_t now_ms) { restart(now_ms); });
    configure(run_time_);
}

void TouchController::restart(std::uint64_t now_ms) {
    std::optional<std::uint64_t> back;
    if (config_.restart_back_ms) back = now_ms + *config_.restart_back_ms;
    reenumerate(now_ms + config_.restart_leave_ms, back,
                config_.restart_to_dfu ? dfu_mode_configuration(firmware_, run_time_) : run_time_);
}

}  // namespace sim
