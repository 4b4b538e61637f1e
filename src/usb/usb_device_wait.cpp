#include "usb/usb_device_wait.h"

#include <algorithm>
#include <vector>

#include "platform/platform.h"

namespace {

// The run's device among the attached ones, or null.
const usb_device_identity* find_device(const usb_wait_request& request,
                                       const std::vector<usb_device_identity>& attached) {
    const usb_device_identity* device = request.device;
    if (device == nullptr) {
        for (const usb_device_identity& candidate : attached)
            if (!request.serial || candidate.serial == *request.serial) return &candidate;
        return nullptr;
    }
    // Nothing tells such a device apart: it counts while it is alone.
    if (usb_identity_is_weak(*device)) return attached.size() == 1 ? &attached.front() : nullptr;
    const auto found = std::find_if(attached.begin(), attached.end(), [&](const usb_device_identity& candidate) {
        return usb_same_device(*device, candidate);
    });
    return found == attached.end() ? nullptr : &*found;
}

// One lookup: notes in the request whether the device has left, and returns
// it if it is there.
const usb_device_identity* observe(platform::Platform& os, usb_wait_request& request,
                                   const std::vector<usb_device_identity>& attached) {
    const usb_device_identity* found = find_device(request, attached);
    const usb_device_identity* device = request.device;
    if (request.watch != 0 && os.departed(request.watch)) request.left = true;
    if (found == nullptr) {
        request.left = true;
    } else if (device != nullptr) {
        if (device->enumeration && found->enumeration && *found->enumeration != *device->enumeration)
            request.left = true;
        if (usb_changed_mode(device->product_id, found->product_id)) request.left = true;
    }
    return found;
}

}  // namespace

void usb_wait_pause(platform::Platform& os, usb_wait_request& request, std::uint32_t milliseconds) {
    if (!request.restarted || request.device == nullptr || request.device->enumeration) {
        os.sleep_ms(milliseconds);
        return;
    }
    while (milliseconds > 0) {
        observe(os, request, usb_list_devices(os));
        const std::uint32_t step = std::min(milliseconds, USB_WAIT_INTERVAL_MS);
        os.sleep_ms(step);
        milliseconds -= step;
    }
}

usb_wait_result usb_wait_for_device(platform::Platform& os, usb_wait_request& request) {
    if (!request.restarted || request.device == nullptr) request.left = true;
    for (int attempt = 0; attempt < USB_WAIT_ATTEMPTS; ++attempt) {
        const std::vector<usb_device_identity> attached = usb_list_devices(os);
        const usb_device_identity* found = observe(os, request, attached);
        if (found != nullptr && request.left && (!request.take || request.take(*found))) {
            request.found = *found;
            return usb_wait_result::back;
        }
        if (request.missed) request.missed();
        os.sleep_ms(USB_WAIT_INTERVAL_MS);
    }
    return request.left ? usb_wait_result::not_back : usb_wait_result::did_not_restart;
}
