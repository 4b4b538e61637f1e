#include "fake_win32.h"

#include "platform/windows/windows_platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>

namespace fake_win32 {
namespace {

constexpr GUID HID_CLASS = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr char PATH_PREFIX[] = "\\\\?\\";
constexpr std::size_t PATH_BUFFER = 272;

struct FakeFile {
    bool hid = false;
    std::string name;  // the DOS name (WinUSB role) or the interface path (HID role)
    platform::HidHandle sim_hid = 0;
    ULONG feature_length = 0;  // of the HID interface, as it was when opened
};

struct Objects {
    std::uintptr_t next = 0x10000000;
    std::map<HANDLE, FakeFile> files;
    std::map<WINUSB_INTERFACE_HANDLE, platform::UsbHandle> winusb;
    std::map<HDEVINFO, std::vector<std::string>> sets;
    std::map<PHIDP_PREPARSED_DATA, platform::HidCaps> preparsed;
    // Device nodes: the DOS name each stands for, and whether it is that
    // name's parent (the composite device above an interface).
    std::vector<std::pair<std::string, bool>> nodes;
    DWORD next_enum_index = 0;

    void* make() {
        next += 16;
        return reinterpret_cast<void*>(next);
    }
};

State the_state;
Objects objects;

void violation(std::string text) { the_state.violations.push_back(std::move(text)); }

// The real kernel32 entry points, for handles and paths that are not the
// doubles' own (the test framework's and the C runtime's).
template <typename F>
F real(const char* name) {
    const FARPROC proc = GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
    F function = nullptr;
    static_assert(sizeof(function) == sizeof(proc));
    std::memcpy(&function, &proc, sizeof(function));
    return function;
}

DWORD win32_error(platform::UsbError error) {
    switch (error) {
    case platform::UsbError::general_failure:
        return ERROR_GEN_FAILURE;
    case platform::UsbError::device_gone:
        return ERROR_DEVICE_NOT_CONNECTED;
    case platform::UsbError::timeout:
        return ERROR_SEM_TIMEOUT;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::vector<std::string> dos_names() {
    std::vector<std::string> names = the_state.extra_dos_names;
    std::vector<std::string> simulated;
    if (the_state.backing != nullptr && the_state.backing->usb_device_names(simulated))
        names.insert(names.end(), simulated.begin(), simulated.end());
    return names;
}

std::vector<std::string> hid_paths() {
    std::vector<std::string> paths;
    if (the_state.backing != nullptr) the_state.backing->hid_paths(paths);
    return paths;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

FakeFile* file_of(HANDLE handle) {
    const auto found = objects.files.find(handle);
    return found != objects.files.end() ? &found->second : nullptr;
}

platform::UsbHandle sim_usb(WINUSB_INTERFACE_HANDLE handle) {
    const auto found = objects.winusb.find(handle);
    if (found == objects.winusb.end()) {
        violation("WinUSB call on an interface handle that is not open");
        return 0;
    }
    return found->second;
}

platform::HidHandle sim_hid(HANDLE handle) {
    FakeFile* file = file_of(handle);
    if (file == nullptr || !file->hid) {
        violation("HID call on a handle that is not an open HID interface");
        return 0;
    }
    return file->sim_hid;
}

// ---- kernel32 -------------------------------------------------------------

DWORD WINAPI fake_QueryDosDeviceA(LPCSTR device, LPSTR buffer, DWORD size) {
    ++the_state.query_dos_calls;
    if (device != nullptr) violation("QueryDosDeviceA asked for one device instead of all names");
    if (size != 1024 * 1024) violation("QueryDosDeviceA buffer is not 1 MiB: " + std::to_string(size));
    std::string list;
    for (const std::string& name : dos_names()) {
        list += name;
        list += '\0';
    }
    list += '\0';
    if (list.size() > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, list.data(), list.size());
    return static_cast<DWORD>(list.size());
}

HANDLE WINAPI fake_CreateFileA(LPCSTR path_text, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD creation, DWORD flags, HANDLE template_file) {
    const std::string path = path_text;
    FakeFile file;
    if (contains(hid_paths(), path)) {
        file.hid = true;
    } else if (path.rfind(PATH_PREFIX, 0) == 0 && contains(dos_names(), path.substr(4))) {
        file.name = path.substr(4);
    } else if (path.rfind(PATH_PREFIX, 0) == 0 && path.size() + 1 >= PATH_BUFFER) {
        violation("CreateFileA with a truncated device path: " + path);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    } else {
        return real<decltype(&fake_CreateFileA)>("CreateFileA")(path_text, access, share, security, creation,
                                                                 flags, template_file);
    }
    the_state.created_paths.push_back(path);
    if (path.size() + 1 > PATH_BUFFER) violation("device path longer than the path buffer: " + path);
    if (access != (GENERIC_READ | GENERIC_WRITE)) violation("CreateFileA access is not read and write");
    const DWORD wanted_share = file.hid ? (FILE_SHARE_READ | FILE_SHARE_WRITE) : FILE_SHARE_READ;
    if (share != wanted_share) violation("CreateFileA share mode " + std::to_string(share) + " on " + path);
    if (security != nullptr || template_file != nullptr) violation("CreateFileA with security or template");
    if (creation != OPEN_EXISTING) violation("CreateFileA not OPEN_EXISTING");
    if (flags != FILE_FLAG_OVERLAPPED) violation("CreateFileA flags are not FILE_FLAG_OVERLAPPED");
    if (file.hid) {
        file.name = path;
        file.sim_hid = the_state.backing->hid_open(path);
        if (file.sim_hid == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        platform::HidCaps caps;
        if (the_state.backing->hid_caps(file.sim_hid, caps)) file.feature_length = caps.feature_report_length;
    }
    HANDLE handle = objects.make();
    objects.files.emplace(handle, std::move(file));
    return handle;
}

BOOL WINAPI fake_CloseHandle(HANDLE handle) {
    const auto found = objects.files.find(handle);
    if (found == objects.files.end()) return real<decltype(&fake_CloseHandle)>("CloseHandle")(handle);
    if (found->second.sim_hid != 0) the_state.backing->hid_close(found->second.sim_hid);
    objects.files.erase(found);
    return TRUE;
}

VOID WINAPI fake_Sleep(DWORD milliseconds) {
    if (the_state.backing != nullptr) the_state.backing->sleep_ms(milliseconds);
}

ULONGLONG WINAPI fake_GetTickCount64() {
    return the_state.backing != nullptr ? the_state.backing->now_ms() : 0;
}

BOOL WINAPI fake_GetConsoleMode(HANDLE console, LPDWORD mode) {
    if (console != GetStdHandle(STD_INPUT_HANDLE)) violation("GetConsoleMode on another handle than input");
    if (!the_state.console_mode) return fail(ERROR_INVALID_HANDLE);
    *mode = *the_state.console_mode;
    return TRUE;
}

BOOL WINAPI fake_SetConsoleMode(HANDLE console, DWORD mode) {
    if (console != GetStdHandle(STD_INPUT_HANDLE)) violation("SetConsoleMode on another handle than input");
    the_state.console_modes_set.push_back(mode);
    return TRUE;
}

// ---- SetupAPI -------------------------------------------------------------

HDEVINFO WINAPI fake_SetupDiGetClassDevsA(const GUID* guid, PCSTR enumerator, HWND parent, DWORD flags) {
    if (guid == nullptr || !IsEqualGUID(*guid, HID_CLASS)) violation("SetupDiGetClassDevsA: not the HID class");
    if (enumerator != nullptr || parent != nullptr) violation("SetupDiGetClassDevsA: enumerator or window given");
    if (flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) violation("SetupDiGetClassDevsA flags");
    HDEVINFO set = objects.make();
    objects.sets.emplace(set, hid_paths());
    objects.next_enum_index = 0;
    return set;
}

BOOL WINAPI fake_SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* guid, DWORD index,
                                             PSP_DEVICE_INTERFACE_DATA data) {
    ++the_state.enum_calls;
    const auto found = objects.sets.find(set);
    if (found == objects.sets.end()) {
        violation("SetupDiEnumDeviceInterfaces on a set that is not open");
        return fail(ERROR_INVALID_HANDLE);
    }
    if (device != nullptr) violation("SetupDiEnumDeviceInterfaces with a device filter");
    if (guid == nullptr || !IsEqualGUID(*guid, HID_CLASS)) violation("SetupDiEnumDeviceInterfaces: not the HID class");
    if (index != objects.next_enum_index) violation("SetupDiEnumDeviceInterfaces index out of order");
    objects.next_enum_index = index + 1;
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Flags != 0 ||
        data->Reserved != 0 || !IsEqualGUID(data->InterfaceClassGuid, GUID{}))
        violation("SetupDiEnumDeviceInterfaces: interface data record not prepared");
    if (the_state.enum_failure && the_state.enum_failure->first == index)
        return fail(the_state.enum_failure->second);
    if (index >= found->second.size()) return fail(ERROR_NO_MORE_ITEMS);
    data->InterfaceClassGuid = HID_CLASS;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

BOOL WINAPI fake_SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                                  PDWORD required, PSP_DEVINFO_DATA device) {
    const auto found = objects.sets.find(set);
    if (found == objects.sets.end() || data == nullptr || data->Reserved == 0 ||
        data->Reserved > found->second.size()) {
        violation("SetupDiGetDeviceInterfaceDetailA on an interface that was not enumerated");
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (device != nullptr) violation("SetupDiGetDeviceInterfaceDetailA asked for device data");
    const std::string& path = found->second[data->Reserved - 1];
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    const DWORD reported = the_state.detail_size.value_or(needed);
    if (detail == nullptr) {
        if (size != 0) violation("SetupDiGetDeviceInterfaceDetailA size query with a size");
        if (required == nullptr) violation("SetupDiGetDeviceInterfaceDetailA size query without output");
        else *required = reported;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        violation("detail record size field is " + std::to_string(detail->cbSize));
    if (size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL WINAPI fake_SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (objects.sets.erase(set) == 0) violation("SetupDiDestroyDeviceInfoList on a set that is not open");
    return TRUE;
}

// ---- Configuration Manager -------------------------------------------------

bool same_text(std::string a, std::string b) {
    auto lower = [](std::string& text) {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    };
    lower(a);
    lower(b);
    return a == b;
}

CONFIGRET WINAPI fake_CM_Locate_DevNodeA(PDEVINST node, DEVINSTID_A id, ULONG flags) {
    if (flags != CM_LOCATE_DEVNODE_NORMAL) violation("CM_Locate_DevNodeA for a node that is not present");
    for (const std::string& name : dos_names()) {
        if (!same_text(platform::windows::device_instance_id(name), id)) continue;
        objects.nodes.emplace_back(name, false);
        *node = static_cast<DEVINST>(objects.nodes.size());
        return CR_SUCCESS;
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI fake_CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG) {
    if (node == 0 || node > objects.nodes.size()) return CR_INVALID_DEVNODE;
    objects.nodes.emplace_back(objects.nodes[node - 1].first, true);
    *parent = static_cast<DEVINST>(objects.nodes.size());
    return CR_SUCCESS;
}

// The location is the simulated device's port; an interface node of a
// composite device has none of its own.
CONFIGRET WINAPI fake_CM_Get_DevNode_Registry_PropertyA(DEVINST node, ULONG property, PULONG type, PVOID buffer,
                                                         PULONG length, ULONG) {
    if (property != CM_DRP_LOCATION_INFORMATION) return CR_INVALID_PROPERTY;
    if (node == 0 || node > objects.nodes.size()) return CR_INVALID_DEVNODE;
    const auto& [name, parent] = objects.nodes[node - 1];
    if (name.find("&MI_") != std::string::npos && !parent) return CR_NO_SUCH_VALUE;
    platform::UsbPlacement placement;
    const platform::UsbHandle handle = the_state.backing->usb_open(name);
    const bool placed = handle != 0 && the_state.backing->usb_placement(handle, placement);
    if (handle != 0) the_state.backing->usb_close(handle);
    if (!placed) return CR_NO_SUCH_VALUE;
    const std::string text = "Port_#" + placement.location;
    if (*length < text.size() + 1) return CR_BUFFER_SMALL;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<ULONG>(text.size() + 1);
    *type = REG_SZ;
    return CR_SUCCESS;
}

}  // namespace

State& state() { return the_state; }

void reset(platform::Platform* backing) {
    the_state = State{};
    the_state.backing = backing;
    objects = Objects{};
}

std::size_t open_objects() {
    return objects.files.size() + objects.winusb.size() + objects.sets.size() + objects.preparsed.size();
}

}  // namespace fake_win32

using namespace fake_win32;

// The backend's calls of these dllimport functions go through their import
// address slots (__imp_<name>); defining the slots here links the doubles in
// place of the system's import libraries.
#define FAKE_IMPORT(name) \
    extern "C" {                                                                                    \
    decltype(&::name) fake_slot_##name __asm__("__imp_" #name) = &fake_win32::fake_##name; \
    }

FAKE_IMPORT(CM_Locate_DevNodeA)
FAKE_IMPORT(CM_Get_Parent)
FAKE_IMPORT(CM_Get_DevNode_Registry_PropertyA)
FAKE_IMPORT(QueryDosDeviceA)
FAKE_IMPORT(CreateFileA)
FAKE_IMPORT(CloseHandle)
FAKE_IMPORT(Sleep)
FAKE_IMPORT(GetTickCount64)
FAKE_IMPORT(GetConsoleMode)
FAKE_IMPORT(SetConsoleMode)
FAKE_IMPORT(SetupDiGetClassDevsA)
FAKE_IMPORT(SetupDiEnumDeviceInterfaces)
FAKE_IMPORT(SetupDiGetDeviceInterfaceDetailA)
FAKE_IMPORT(SetupDiDestroyDeviceInfoList)

// ---- WinUSB (declared without dllimport: plain definitions) ----------------

extern "C" {

WINBOOL WINAPI WinUsb_Initialize(HANDLE device, PWINUSB_INTERFACE_HANDLE interface) {
    FakeFile* file = file_of(device);
    if (file == nullptr) {
        violation("WinUsb_Initialize on a handle that is not open");
        return fail(ERROR_INVALID_HANDLE);
    }
    const platform::UsbHandle sim = file->hid ? 0 : the_state.backing->usb_open(file->name);
    if (sim == 0) return fail(ERROR_NOT_SUPPORTED);
    the_state.winusb_accepted.push_back(file->name);
    *interface = objects.make();
    objects.winusb.emplace(*interface, sim);
    return TRUE;
}

WINBOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE interface) {
    const auto found = objects.winusb.find(interface);
    if (found == objects.winusb.end()) {
        violation("WinUsb_Free on an interface that is not open");
        return FALSE;
    }
    the_state.backing->usb_close(found->second);
    objects.winusb.erase(found);
    return TRUE;
}

WINBOOL WINAPI WinUsb_GetDescriptor(WINUSB_INTERFACE_HANDLE interface, UCHAR type, UCHAR index, USHORT language,
                                    PUCHAR buffer, ULONG length, PULONG transferred) {
    const platform::UsbHandle sim = sim_usb(interface);
    if (length != 256) violation("WinUsb_GetDescriptor buffer is not 256 bytes: " + std::to_string(length));
    std::size_t got = 0;
    if (sim == 0 || !the_state.backing->usb_get_descriptor(sim, type, index, language, {buffer, length}, got))
        return fail(ERROR_GEN_FAILURE);
    *transferred = static_cast<ULONG>(got);
    return TRUE;
}

WINBOOL WINAPI WinUsb_QueryDeviceInformation(WINUSB_INTERFACE_HANDLE interface, ULONG type, PULONG length,
                                             PVOID value) {
    const platform::UsbHandle sim = sim_usb(interface);
    if (type != DEVICE_SPEED || length == nullptr || *length != 1)
        violation("WinUsb_QueryDeviceInformation is not a one-byte DEVICE_SPEED query");
    std::uint8_t speed = 0;
    if (sim == 0 || !the_state.backing->usb_device_speed(sim, speed)) return fail(ERROR_GEN_FAILURE);
    *static_cast<UCHAR*>(value) = speed;
    return TRUE;
}

WINBOOL WINAPI WinUsb_ControlTransfer(WINUSB_INTERFACE_HANDLE interface, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                                      ULONG length, PULONG transferred, LPOVERLAPPED overlapped) {
    const platform::UsbHandle sim = sim_usb(interface);
    the_state.control_buffer_lengths.push_back(length);
    const bool device_to_host = (setup.RequestType & 0x80) != 0;
    if (overlapped != nullptr) violation("control transfer with an overlapped structure");
    if (device_to_host && length != 64) violation("control-in buffer length " + std::to_string(length));
    if (!device_to_host && length != setup.Length) violation("control-out buffer length differs from wLength");
    *transferred = 0;
    if (the_state.control_failure) return fail(*the_state.control_failure);
    if (device_to_host && the_state.control_in_overrun) {
        std::fill_n(buffer, length, 0xEE);
        *transferred = length;
        return TRUE;
    }
    const std::uint8_t bytes[8] = {setup.RequestType,
                                   setup.Request,
                                   static_cast<std::uint8_t>(setup.Value),
                                   static_cast<std::uint8_t>(setup.Value >> 8),
                                   static_cast<std::uint8_t>(setup.Index),
                                   static_cast<std::uint8_t>(setup.Index >> 8),
                                   static_cast<std::uint8_t>(setup.Length),
                                   static_cast<std::uint8_t>(setup.Length >> 8)};
    std::size_t moved = 0;
    const std::span<std::uint8_t> data = buffer != nullptr ? std::span<std::uint8_t>(buffer, length)
                                                           : std::span<std::uint8_t>();
    const platform::UsbError error =
        sim == 0 ? platform::UsbError::other : the_state.backing->usb_control_transfer(sim, bytes, data, moved);
    if (error != platform::UsbError::none) return fail(win32_error(error));
    *transferred = static_cast<ULONG>(moved);
    return TRUE;
}

WINBOOL WINAPI WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE interface, UCHAR pipe, PUCHAR buffer, ULONG length,
                               PULONG transferred, LPOVERLAPPED overlapped) {
    const platform::UsbHandle sim = sim_usb(interface);
    if (overlapped != nullptr) violation("pipe read with an overlapped structure");
    if ((pipe & 0x80) == 0) violation("pipe read on an OUT pipe");
    std::size_t moved = 0;
    const platform::UsbError error =
        sim == 0 ? platform::UsbError::other : the_state.backing->usb_read_pipe(sim, pipe, {buffer, length}, moved);
    *transferred = static_cast<ULONG>(moved);
    return error == platform::UsbError::none ? TRUE : fail(win32_error(error));
}

WINBOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE interface, UCHAR pipe, PUCHAR buffer, ULONG length,
                                PULONG transferred, LPOVERLAPPED overlapped) {
    const platform::UsbHandle sim = sim_usb(interface);
    if (overlapped != nullptr) violation("pipe write with an overlapped structure");
    if ((pipe & 0x80) != 0) violation("pipe write on an IN pipe");
    std::size_t moved = 0;
    const platform::UsbError error =
        sim == 0 ? platform::UsbError::other : the_state.backing->usb_write_pipe(sim, pipe, {buffer, length}, moved);
    *transferred = static_cast<ULONG>(moved);
    return error == platform::UsbError::none ? TRUE : fail(win32_error(error));
}

WINBOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE interface, UCHAR alternate,
                                             PUSB_INTERFACE_DESCRIPTOR descriptor) {
    const platform::UsbHandle sim = sim_usb(interface);
    if (alternate != 0) violation("interface settings of an alternate setting other than 0");
    platform::UsbInterfaceInfo info;
    if (sim == 0 || !the_state.backing->usb_interface_settings(sim, alternate, info)) return fail(ERROR_GEN_FAILURE);
    *descriptor = USB_INTERFACE_DESCRIPTOR{};
    descriptor->bLength = sizeof(USB_INTERFACE_DESCRIPTOR);
    descriptor->bDescriptorType = 4;
    descriptor->bInterfaceNumber = info.interface_number;
    descriptor->bAlternateSetting = info.alternate_setting;
    descriptor->bNumEndpoints = info.num_endpoints;
    descriptor->bInterfaceClass = info.interface_class;
    descriptor->bInterfaceSubClass = info.interface_subclass;
    descriptor->bInterfaceProtocol = info.interface_protocol;
    return TRUE;
}

WINBOOL WINAPI WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE interface, UCHAR alternate, UCHAR index,
                                PWINUSB_PIPE_INFORMATION pipe) {
    const platform::UsbHandle sim = sim_usb(interface);
    if (alternate != 0) violation("pipe query of an alternate setting other than 0");
    platform::UsbPipeInfo info;
    if (sim == 0 || !the_state.backing->usb_query_pipe(sim, alternate, index, info)) return fail(ERROR_NO_MORE_ITEMS);
    pipe->PipeType = static_cast<USBD_PIPE_TYPE>(info.pipe_type);
    pipe->PipeId = info.pipe_id;
    pipe->MaximumPacketSize = info.max_packet_size;
    pipe->Interval = info.interval;
    return TRUE;
}

// ---- HID class driver (declared without dllimport) ------------------------

BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    const platform::HidHandle sim = sim_hid(device);
    if (attributes->Size != 12) violation("HIDD_ATTRIBUTES size field is " + std::to_string(attributes->Size));
    platform::HidAttributes values;
    if (sim == 0 || !the_state.backing->hid_attributes(sim, values)) return FALSE;
    attributes->VendorID = values.vendor_id;
    attributes->ProductID = values.product_id;
    attributes->VersionNumber = values.version;
    return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed) {
    const platform::HidHandle sim = sim_hid(device);
    platform::HidCaps caps;
    if (sim == 0 || !the_state.backing->hid_caps(sim, caps)) return FALSE;
    *preparsed = static_cast<PHIDP_PREPARSED_DATA>(objects.make());
    objects.preparsed.emplace(*preparsed, caps);
    return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
    if (objects.preparsed.erase(preparsed) == 0) violation("HidD_FreePreparsedData on data that is not held");
    return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    const auto found = objects.preparsed.find(preparsed);
    if (found == objects.preparsed.end()) {
        violation("HidP_GetCaps on data that is not held");
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    *caps = HIDP_CAPS{};
    caps->UsagePage = found->second.usage_page;
    caps->Usage = found->second.usage;
    caps->InputReportByteLength = found->second.input_report_length;
    caps->OutputReportByteLength = found->second.output_report_length;
    caps->FeatureReportByteLength = found->second.feature_report_length;
    return HIDP_STATUS_SUCCESS;
}

namespace {
// Every feature transfer moves the interface's whole feature report.
bool feature_length_is_whole(HANDLE device, ULONG length) {
    const FakeFile* file = file_of(device);
    return file != nullptr && file->feature_length == length;
}
}  // namespace

BOOLEAN NTAPI HidD_GetFeature(HANDLE device, PVOID buffer, ULONG length) {
    const platform::HidHandle sim = sim_hid(device);
    if (sim == 0) return FALSE;
    if (!feature_length_is_whole(device, length)) violation("HidD_GetFeature length is not the feature report length");
    return the_state.backing->hid_get_feature(sim, {static_cast<std::uint8_t*>(buffer), length});
}

BOOLEAN NTAPI HidD_SetFeature(HANDLE device, PVOID buffer, ULONG length) {
    const platform::HidHandle sim = sim_hid(device);
    if (sim == 0) return FALSE;
    if (!feature_length_is_whole(device, length)) violation("HidD_SetFeature length is not the feature report length");
    return the_state.backing->hid_set_feature(sim, {static_cast<const std::uint8_t*>(buffer), length});
}

BOOLEAN NTAPI HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length) {
    const platform::HidHandle sim = sim_hid(device);
    std::string serial;
    if (sim == 0 || !the_state.backing->hid_serial_number(sim, serial)) return FALSE;
    // The simulator's serials are ASCII; each becomes one UTF-16 unit.
    if ((serial.size() + 1) * 2 > length) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < serial.size(); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(serial[i]);
        out[2 * i + 1] = 0;
    }
    out[2 * serial.size()] = 0;
    out[2 * serial.size() + 1] = 0;
    return TRUE;
}

}  // extern "C"
