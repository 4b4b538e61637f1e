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

DepartureWatches::Watch::~Watch() {
    // Waits for a callback under way to end: its context goes next.
    if (notification != nullptr) CM_Unregister_Notification(notification);
}

DepartureWatch DepartureWatches::watch(const std::wstring& instance_id) {
    std::wstring device_id;
    if (!usb_device_instance_id(instance_id, device_id) || device_id.size() >= MAX_DEVICE_ID_LEN) return 0;
    CM_NOTIFY_FILTER filter{};
    filter.cbSize = sizeof filter;
    filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINSTANCE;
    std::wmemcpy(filter.u.DeviceInstance.InstanceId, device_id.c_str(), device_id.size() + 1);
    auto watch = std::make_shared<Watch>();
    HCMNOTIFICATION notification = nullptr;
    if (CM_Register_Notification(&filter, &watch->gone, on_notification, &notification) != CR_SUCCESS) return 0;
    watch->notification = notification;
    return watches_.add(std::move(watch));
}

bool DepartureWatches::departed(DepartureWatch watch) const {
    const std::shared_ptr<const Watch> found = watches_.find(watch);
    return found && found->gone.load();
}

void DepartureWatches::unwatch(DepartureWatch watch) { watches_.erase(watch); }

}  // namespace platform::windows
