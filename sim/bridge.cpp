#include "sim/bridge.h"

#include <utility>

#include "sim/dfu_run_time_function.h"
#include "sim/native_bulk_function.h"
#include "usb/usb_ids.h"

namespace sim {

DeviceConfiguration Bridge::build(const BridgeConfig& config, const std::shared_ptr<NativeDevice>& native,
                                  const std::shared_ptr<DfuFirmware>& firmware) {
    DeviceConfiguration result;
    result.identity.vendor_id = DEVICE_VENDOR_ID;
    result.identity.product_id = BRIDGE_PRODUCT_ID;
    result.identity.release = config.release;
    result.identity.manufacturer = config.manufacturer;
    result.identity.product = config.product;
    result.identity.serial = config.serial;
    result.functions.push_back(std::make_shared<NativeBulkFunction>(native));
    result.functions.push_back(std::make_shared<DfuRunTimeFunction>(firmware));
    return result;
}

Bridge::Bridge(BridgeConfig config, std::shared_ptr<DfuFirmware> firmware)
    : native_(std::make_shared<NativeDevice>(config.native)), firmware_(std::move(firmware)) {
    configure(build(config, native_, firmware_));
}

void start_in_dfu_mode(CompositeDevice& device, const std::shared_ptr<DfuFirmware>& firmware, std::uint64_t now_ms) {
    device.reenumerate(now_ms, now_ms, dfu_mode_configuration(firmware, device.configuration()));
}

}  // namespace sim
