#include "usb/usb_device_wait.h"

#include <algorithm>

#include "platform/platform.h"
#include "usb/usb_device.h"

usb_wait_result usb_wait_for_device(usb_wait_request& request) {
    const usb_device_identity* device = request.device;
    bool left = !request.restarted || device == nullptr;
    for (int attempt = 0; attempt < USB_WAIT_ATTEMPTS; ++attempt) {
        const std::vector<usb_device_identity> attached = usb_list_devices(request.serial);
        const auto found = std::find_if(attached.begin(), attached.end(), [&](const usb_device_identity& candidate) {
            return device == nullptr || usb_same_device(*device, candidate);
        });
        if (found == attached.end()) {
            left = true;
        } else if (device != nullptr && device->enumeration && found->enumeration && *found->enumeration != *device->enumeration) {
            left = true;
        }
        if (found != attached.end() && left && (!request.take || request.take(*found))) {
            request.found = *found;
            return usb_wait_result::back;
        }
        if (request.missed) request.missed();
        platform::current().sleep_ms(USB_WAIT_INTERVAL_MS);
    }
    return left ? usb_wait_result::not_back : usb_wait_result::did_not_restart;
}
