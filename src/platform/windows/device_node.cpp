#include "platform/windows/device_node.h"

#include <algorithm>
#include <array>
#include <cwchar>

#include "platform/windows/wide_text.h"
#include "platform/windows/win32.h"

namespace platform::windows {
namespace {

constexpr std::wstring_view PATH_PREFIX = L"\\\\?\\";
// Location values are a few dozen characters; a longer one is not read.
constexpr std::size_t PROPERTY_UNITS = 1024;

bool instance_id_of(DEVINST node, std::wstring& id) {
    std::array<wchar_t, MAX_DEVICE_ID_LEN + 1> text{};
    if (CM_Get_Device_IDW(node, text.data(), MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return false;
    id.assign(text.data(), wcsnlen(text.data(), MAX_DEVICE_ID_LEN));
    return true;
}

// The first string of a text property (a REG_MULTI_SZ gives its first
// entry); empty when the node has no such value or it is empty.
std::string text_property(DEVINST node, ULONG property, ULONG expected_type) {
    std::array<wchar_t, PROPERTY_UNITS> text{};
    ULONG size = static_cast<ULONG>(text.size() * sizeof(wchar_t));
    ULONG type = 0;
    if (CM_Get_DevNode_Registry_PropertyW(node, property, &type, text.data(), &size, 0) != CR_SUCCESS ||
        type != expected_type)
        return {};
    const std::size_t units = std::min<std::size_t>(size / sizeof(wchar_t), text.size());
    return wide_to_utf8(std::wstring_view(text.data(), wcsnlen(text.data(), units)));
}

}  // namespace

std::wstring device_instance_id(std::wstring_view name) {
    if (name.starts_with(PATH_PREFIX)) name.remove_prefix(PATH_PREFIX.size());
    std::wstring id(name.substr(0, name.rfind(L"#{")));
    for (wchar_t& unit : id)
        if (unit == L'#') unit = L'\\';
    return id;
}

bool is_usb_device_id(std::wstring_view instance_id) {
    return starts_with_nocase(instance_id, L"USB\\") && !contains_nocase(instance_id, L"&MI_");
}

namespace {

// The USB device node at or above `instance_id`, which becomes its ID.
bool usb_device_node(std::wstring& instance_id, DEVINST& node) {
    if (CM_Locate_DevNodeW(&node, instance_id.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) return false;
    for (int step = 0; !is_usb_device_id(instance_id); ++step) {
        DEVINST parent = 0;
        if (step == MAX_PARENT_STEPS || CM_Get_Parent(&parent, node, 0) != CR_SUCCESS ||
            !instance_id_of(parent, instance_id))
            return false;
        node = parent;
    }
    return true;
}

}  // namespace

bool usb_device_instance_id(std::wstring instance_id, std::wstring& usb_device_id) {
    DEVINST node = 0;
    if (!usb_device_node(instance_id, node)) return false;
    usb_device_id = std::move(instance_id);
    return true;
}

bool usb_device_location(std::wstring instance_id, std::string& location) {
    DEVINST node = 0;
    if (!usb_device_node(instance_id, node)) return false;
    location = text_property(node, CM_DRP_LOCATION_PATHS, REG_MULTI_SZ);
    if (location.empty()) location = text_property(node, CM_DRP_LOCATION_INFORMATION, REG_SZ);
    return !location.empty();
}

}  // namespace platform::windows
