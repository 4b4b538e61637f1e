// Why listed devices could not be opened: CreateFile's error kept per name,
// and the names WinUSB refused although the device was there. The one line
// the front end prints when no device could be used comes from here.
// Safe from several threads: a lock guards the record while it is read or
// changed, and the recording calls keep the thread's last Win32 error as it
// was (a contended lock may change it), so last_os_error still names the
// call that failed.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace platform::windows {

class OpenFailures {
public:
    // A new listing of the names begins: earlier failures are forgotten. The
    // HID class driver's own names among `names` mark the interfaces it
    // drives, which never take WinUSB and are not named for it.
    void new_listing(const std::vector<std::string>& names);
    void record_create_error(const std::string& name, DWORD error) { record(name, error); }
    // WinUsb_Initialize refused a device that CreateFile opened.
    void record_not_winusb(const std::string& name) { record(name, NOT_WINUSB); }
    void forget(const std::string& name);

    // One line naming a device and why it could not be used; "" when no
    // failure of that kind was seen.
    // A device held by another program (access denied, sharing violation).
    std::string in_use_hint() const;
    // A USB interface that exists but has not the WinUSB driver.
    std::string not_winusb_hint() const;
    // The devices behind the failures above, with the reason ("in use by
    // another program", "no driver bound"); no location.
    std::vector<UnopenedDevice> unopened() const;

private:
    // Not a Win32 error code (those stay below 0x10000): WinUSB refused.
    static constexpr DWORD NOT_WINUSB = 0xFFFFFFFF;

    void record(const std::string& name, DWORD error);

    mutable std::mutex mutex_;  // guards the two below
    std::map<std::string, DWORD> failures_;
    // "VID_2F5A&PID_0001&MI_00" of each interface a HID name was listed for.
    std::set<std::string> hid_driven_;
};

// "USB\VID_2F5A&PID_0001&MI_01" for a name or path of that interface: the
// hardware part of its instance ID.
std::string device_hardware_id(const std::string& name);

}  // namespace platform::windows
