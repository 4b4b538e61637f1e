// Watches for a USB device's departure: a Configuration Manager notification
// on its device node (CM_Register_Notification), set before the device is
// told to restart or detach. Windows has no enumeration token, and a device
// that is back within one lookup would otherwise look as if it never left.
// Safe from several threads: the table of watches is locked only to enter,
// find or remove one; the unregistration, which waits for a notification
// under way, runs outside that lock.
#pragma once

#include <atomic>
#include <string>

#include "platform/handle_table.h"
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
    DepartureWatches(const DepartureWatches&) = delete;
    DepartureWatches& operator=(const DepartureWatches&) = delete;

    // Watches the USB device node of the device instance `instance_id` (a
    // HID collection's, an interface's or the device's own); 0 when it
    // cannot be watched.
    DepartureWatch watch(const std::wstring& instance_id);
    bool departed(DepartureWatch watch) const;
    void unwatch(DepartureWatch watch);

private:
    // One registration; it ends with the watch, which therefore stays where
    // the notification's context points until then.
    struct Watch {
        HCMNOTIFICATION notification = nullptr;
        std::atomic<bool> gone{false};  // set from the Configuration Manager's thread
        Watch() = default;
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
    };
    HandleTable<Watch> watches_;
};

}  // namespace platform::windows
