// Test doubles of the Configuration Manager: a device tree built from the
// names the doubles list. A HID collection's parent is its USB interface, an
// interface's parent the composite USB device, and that device's parent a
// root hub. The simulator numbers a device's names by its slot (the composite
// interfaces "7&<slot * 0x3A1D>", the HID collections "8&<slot * 0x1F3B>"),
// which ties a device's HID collections and interfaces to one device node;
// a slot's port is "1-<slot>", as the simulator gives it.
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "fake_internal.h"
#include "fake_win32.h"
#include "platform/windows/departure_watches.h"
#include "platform/windows/device_node.h"
#include "platform/windows/wide_text.h"

namespace fake_win32 {
namespace {

using internal::violation;
using platform::windows::contains_nocase;
using platform::windows::starts_with_nocase;
using platform::windows::utf8_to_wide;
using platform::windows::wide_to_utf8;

constexpr wchar_t ROOT_HUB[] = L"USB\\ROOT_HUB30\\4&1&0";

std::vector<std::wstring> nodes;

struct Notification {
    std::wstring instance_id;
    PVOID context = nullptr;
    PCM_NOTIFY_CALLBACK callback = nullptr;
};
// By the handle given out: its index + 1.
std::map<std::uintptr_t, Notification> notifications;
std::uintptr_t next_notification = 1;

bool same_id(const std::wstring& a, const std::wstring& b) { return a.size() == b.size() && starts_with_nocase(a, b); }

std::wstring id_of_name(const std::string& name) { return platform::windows::device_instance_id(utf8_to_wide(name)); }

DEVINST node_for(const std::wstring& id) {
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (same_id(nodes[i], id)) return static_cast<DEVINST>(i + 1);
    nodes.push_back(id);
    return static_cast<DEVINST>(nodes.size());
}

const std::wstring* id_of(DEVINST node) { return node >= 1 && node <= nodes.size() ? &nodes[node - 1] : nullptr; }

// The slot number after `marker` ("\7&" or "\8&"), its hex value divided by
// `factor`.
std::optional<unsigned> slot_after(const std::wstring& id, const wchar_t* marker, unsigned factor) {
    const std::size_t at = platform::windows::find_nocase(id, marker);
    if (at == std::wstring::npos) return std::nullopt;
    const unsigned long value = std::wcstoul(id.c_str() + at + std::wcslen(marker), nullptr, 16);
    if (value == 0 || value % factor != 0) return std::nullopt;
    return static_cast<unsigned>(value / factor);
}

// "VID_2F5A&PID_0001" from "USB\VID_2F5A&PID_0001&MI_01\..." or
// "HID\VID_2F5A&PID_0001&MI_00&COL01\...".
std::wstring vid_pid(const std::wstring& id) {
    const std::size_t start = id.find(L'\\') + 1;
    return id.substr(start, 17);
}

std::wstring device_node_id(const std::wstring& id, unsigned slot) {
    return L"USB\\" + vid_pid(id) + L"\\5&" + std::to_wstring(slot) + L"&0&1";
}

std::optional<std::wstring> parent_of(const std::wstring& id) {
    if (starts_with_nocase(id, L"HID\\")) {
        const auto slot = slot_after(id, L"\\8&", 0x1F3B);
        if (!slot) return std::nullopt;
        const std::size_t mi = platform::windows::find_nocase(id, L"&MI_");
        if (mi == std::wstring::npos) return device_node_id(id, *slot);
        return L"USB\\" + vid_pid(id) + id.substr(mi, 6) + L"\\HIDIF&" + std::to_wstring(*slot);
    }
    if (!starts_with_nocase(id, L"USB\\")) return std::nullopt;
    if (!contains_nocase(id, L"&MI_")) return std::wstring(ROOT_HUB);
    auto slot = slot_after(id, L"\\7&", 0x3A1D);
    if (!slot) slot = slot_after(id, L"\\HIDIF&", 1);
    if (!slot) return std::nullopt;
    return device_node_id(id, *slot);
}

// The port of a USB device node; empty for hubs and unknown nodes.
std::string port_of(const std::wstring& id) {
    if (!platform::windows::is_usb_device_id(id) || starts_with_nocase(id, L"USB\\ROOT_HUB")) return "";
    if (const auto slot = slot_after(id, L"\\5&", 1)) return "1-" + std::to_string(*slot);
    for (const std::string& name : internal::dos_names())
        if (same_id(id_of_name(name), id)) return internal::simulated_location(name);
    return "";
}

bool listed(const std::wstring& id) {
    for (const std::string& name : internal::dos_names())
        if (same_id(id_of_name(name), id)) return true;
    for (const std::string& path : internal::hid_paths())
        if (same_id(id_of_name(path), id)) return true;
    return false;
}

// A property value as the Configuration Manager returns it: the size in
// bytes, CR_BUFFER_SMALL when it does not fit.
CONFIGRET put_text(const std::wstring& text, ULONG type, PULONG out_type, PVOID buffer, PULONG length) {
    const ULONG bytes = static_cast<ULONG>((text.size() + 1) * sizeof(wchar_t));
    if (*length < bytes) {
        *length = bytes;
        return CR_BUFFER_SMALL;
    }
    std::memcpy(buffer, text.c_str(), bytes);
    *length = bytes;
    *out_type = type;
    return CR_SUCCESS;
}

CONFIGRET WINAPI fake_CM_Register_Notification(PCM_NOTIFY_FILTER filter, PVOID context, PCM_NOTIFY_CALLBACK callback,
                                               PHCMNOTIFICATION notification) {
    if (filter == nullptr || filter->cbSize != sizeof *filter ||
        filter->FilterType != CM_NOTIFY_FILTER_TYPE_DEVICEINSTANCE || callback == nullptr || notification == nullptr)
        return CR_INVALID_DATA;
    const std::wstring id(filter->u.DeviceInstance.InstanceId,
                          wcsnlen(filter->u.DeviceInstance.InstanceId, MAX_DEVICE_ID_LEN));
    if (!platform::windows::is_usb_device_id(id)) violation("removal watched on a node that is no USB device");
    const std::uintptr_t handle = next_notification++;
    notifications[handle] = {id, context, callback};
    *notification = reinterpret_cast<HCMNOTIFICATION>(handle);
    return CR_SUCCESS;
}

CONFIGRET WINAPI fake_CM_Unregister_Notification(HCMNOTIFICATION notification) {
    return notifications.erase(reinterpret_cast<std::uintptr_t>(notification)) == 1 ? CR_SUCCESS : CR_INVALID_DATA;
}

CONFIGRET WINAPI fake_CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W id, ULONG flags) {
    if (flags != CM_LOCATE_DEVNODE_NORMAL) violation("CM_Locate_DevNodeW for a node that is not present");
    if (id == nullptr || !listed(id)) return CR_NO_SUCH_DEVNODE;
    *node = node_for(id);
    return CR_SUCCESS;
}

CONFIGRET WINAPI fake_CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG) {
    const std::wstring* id = id_of(node);
    if (id == nullptr) return CR_INVALID_DEVNODE;
    const auto above = parent_of(*id);
    if (!above) return CR_NO_SUCH_DEVNODE;
    *parent = node_for(*above);
    return CR_SUCCESS;
}

CONFIGRET WINAPI fake_CM_Get_Device_IDW(DEVINST node, PWSTR buffer, ULONG length, ULONG) {
    const std::wstring* id = id_of(node);
    if (id == nullptr) return CR_INVALID_DEVNODE;
    if (length <= id->size()) return CR_BUFFER_SMALL;
    std::memcpy(buffer, id->c_str(), (id->size() + 1) * sizeof(wchar_t));
    return CR_SUCCESS;
}

// Location properties exist on USB device nodes only, as on a real tree:
// never on an interface or a HID collection.
CONFIGRET WINAPI fake_CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, PULONG type, PVOID buffer,
                                                        PULONG length, ULONG) {
    const std::wstring* id = id_of(node);
    if (id == nullptr) return CR_INVALID_DEVNODE;
    const std::wstring port = utf8_to_wide(port_of(*id));
    if (port.empty()) return CR_NO_SUCH_VALUE;
    if (property == CM_DRP_LOCATION_PATHS) {
        if (!state().location_paths) return CR_NO_SUCH_VALUE;
        std::wstring paths = L"PCIROOT(0)#PCI(1400)#USB(" + port + L")";
        paths += L'\0';
        paths += L"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS" + port + L")";
        paths += L'\0';
        return put_text(paths, REG_MULTI_SZ, type, buffer, length);
    }
    if (property == CM_DRP_LOCATION_INFORMATION)
        return put_text(state().location_information ? L"Port_#" + port + L".Hub_#0001" : L"", REG_SZ, type,
                        buffer, length);
    return CR_INVALID_PROPERTY;
}

}  // namespace

std::size_t notify_removal(const std::wstring& instance_id) {
    std::size_t told = 0;
    for (const auto& [handle, watch] : notifications) {
        if (!same_id(watch.instance_id, instance_id)) continue;
        watch.callback(reinterpret_cast<HCMNOTIFICATION>(handle), watch.context,
                       CM_NOTIFY_ACTION_DEVICEINSTANCEREMOVED, nullptr, 0);
        ++told;
    }
    return told;
}

std::size_t registered_notifications() { return notifications.size(); }

namespace internal {
void reset_device_nodes() {
    nodes.clear();
    notifications.clear();
}
}  // namespace internal

}  // namespace fake_win32

#define FAKE_IMPORT(name) \
    extern "C" {                                                                                    \
    decltype(&::name) fake_slot_##name __asm__("__imp_" #name) = &fake_win32::fake_##name; \
    }

FAKE_IMPORT(CM_Locate_DevNodeW)
FAKE_IMPORT(CM_Get_Parent)
FAKE_IMPORT(CM_Get_Device_IDW)
FAKE_IMPORT(CM_Get_DevNode_Registry_PropertyW)
FAKE_IMPORT(CM_Register_Notification)
FAKE_IMPORT(CM_Unregister_Notification)
