#include "frontend/path_choice.h"

#include "usb/usb_ids.h"

device_path choose_path(std::uint16_t product_id, bool force_dfu, bool enable_kxp,
                        const std::function<int()>& probe) {
    if (product_id == 0) return device_path::none;
    if (product_id == BRIDGE_PRODUCT_ID || force_dfu) return device_path::dfu;
    if (probe() != 0) return device_path::dfu;
    return enable_kxp ? device_path::kxp : device_path::hid;
}
