// Watches for a USB device's departure: a Configuration Manager notification
// on its device node (CM_Register_Notification), set before the device is
// told to restart or detach. Windows has no enumeration token, and a device
// that is back within one lookup would otherwise look as if it never left.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/windows/win32.h"

// Windows 8 and later; mingw-w64's cfgmgr32.h has the types but not these.
extern "C" {
CMAPI CONFIGRET WINAPI CM_Register_Notification(PCM_NOTIFY_FILTER filter, PVOID context, PCM_NOTIFY_CALLBACK callback,
                                                PHCMNOTIFICATION notification);
CMAPI CONFIGRET WINAPI CM_Unregister_Notification(HCMNOTIFICATION notification);
}

namespace platform::windows {

class DepartureWatches {
public:
    DepartureWatches() = default;
    ~DepartureWatches();
    DepartureWatches(const DepartureWatches&) = delete;
    DepartureWatches& operator=(const DepartureWatches&) = delete;

    // Watches the USB device node of the device instance `instance_id` (a
    // HID collection's, an interface's or the device's own); 0 when it
    // cannot be watched.
    DepartureWatch watch(const std::wstring& instance_id);
    bool departed(DepartureWatch watch) const;
    void unwatch(DepartureWatch watch);

private:
    struct Watch {
        HCMNOTIFICATION notification = nullptr;
        // Set from the Configuration Manager's thread.
        std::unique_ptr<std::atomic<bool>> gone = std::make_unique<std::atomic<bool>>(false);
    };
    std::map<DepartureWatch, Watch> watches_;
    DepartureWatch next_ = 1;
};

}  // namespace platform::windows
