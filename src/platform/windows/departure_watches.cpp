#include "platform/windows/departure_watches.h"

#include <cwchar>

#include "platform/windows/device_node.h"

namespace platform::windows {
namespace {

DWORD CALLBACK on_notification(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action, PCM_NOTIFY_EVENT_DATA, DWORD) {
    if (action == CM_NOTIFY_ACTION_DEVICEINSTANCEREMOVED) static_cast<std::atomic<bool>*>(context)->store(true);
    return ERROR_SUCCESS;
}

}  // namespace

DepartureWatches::~DepartureWatches() {
    while (!watches_.empty()) unwatch(watches_.begin()->first);
}

DepartureWatch DepartureWatches::watch(const std::wstring& instance_id) {
    std::wstring device_id;
    if (!usb_device_instance_id(instance_id, device_id) || device_id.size() >= MAX_DEVICE_ID_LEN) return 0;
    CM_NOTIFY_FILTER filter{};
    filter.cbSize = sizeof filter;
    filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINSTANCE;
    std::wmemcpy(filter.u.DeviceInstance.InstanceId, device_id.c_str(), device_id.size() + 1);
    Watch watch;
    if (CM_Register_Notification(&filter, watch.gone.get(), on_notification, &watch.notification) != CR_SUCCESS)
        return 0;
    watches_.emplace(next_, std::move(watch));
    return next_++;
}

bool DepartureWatches::departed(DepartureWatch watch) const {
    const auto it = watches_.find(watch);
    return it != watches_.end() && it->second.gone->load();
}

void DepartureWatches::unwatch(DepartureWatch watch) {
    const auto it = watches_.find(watch);
    if (it == watches_.end()) return;
    // Waits for a callback under way to end: its context is freed next.
    CM_Unregister_Notification(it->second.notification);
    watches_.erase(it);
}

}  // namespace platform::windows
