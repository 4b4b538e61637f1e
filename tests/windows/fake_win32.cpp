#include "fake_win32.h"

#include "fake_internal.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_platform.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>

namespace fake_win32 {
namespace {

using platform::windows::utf8_to_wide;
using platform::windows::wide_to_utf8;

constexpr GUID HID_CLASS = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr char PATH_PREFIX[] = "\\\\?\\";

struct FakeFile {
    bool hid = false;
    std::string name;  // the DOS name (WinUSB role) or the interface path (HID role)
    platform::HidHandle sim_hid = 0;
    ULONG feature_length = 0;  // of the HID interface, as it was when opened
    DWORD access = 0;
    bool overlapped = false;
};

// An overlapped feature report IOCTL the backend has not collected the end
// of with GetOverlappedResult.
struct PendingIo {
    HANDLE file = nullptr;
    bool done = false;
    BOOL result = FALSE;
    DWORD error = 0;
    DWORD moved = 0;
};

struct Objects {
    std::uintptr_t next = 0x10000000;
    std::map<HANDLE, FakeFile> files;
    std::map<WINUSB_INTERFACE_HANDLE, platform::UsbHandle> winusb;
    std::map<HDEVINFO, std::vector<std::string>> sets;
    std::map<PHIDP_PREPARSED_DATA, platform::HidCaps> preparsed;
    std::map<LPOVERLAPPED, PendingIo> pending;
    // PIPE_TRANSFER_TIMEOUT of each pipe of each open WinUSB interface.
    std::map<std::pair<WINUSB_INTERFACE_HANDLE, UCHAR>, ULONG> pipe_timeouts;
    DWORD next_enum_index = 0;

    void* make() {
        next += 16;
        return reinterpret_cast<void*>(next);
    }
};

State the_state;
Objects objects;

using internal::violation;

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

using internal::dos_names;
using internal::hid_paths;

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool has_any_part(const std::string& text, const std::vector<std::string>& parts) {
    return std::any_of(parts.begin(), parts.end(),
                       [&](const std::string& part) { return text.find(part) != std::string::npos; });
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

DWORD WINAPI fake_QueryDosDeviceW(LPCWSTR device, LPWSTR buffer, DWORD size) {
    ++the_state.query_dos_calls;
    if (device != nullptr) violation("QueryDosDeviceW asked for one device instead of all names");
    std::wstring list;
    for (const std::string& name : dos_names()) {
        list += utf8_to_wide(name);
        list += L'\0';
    }
    list += L'\0';
    if (list.size() > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, list.data(), list.size() * sizeof(wchar_t));
    return static_cast<DWORD>(list.size());
}

// What a real system refuses: an error the test asked for, or a device
// another program holds that this open does not share both ways.
std::optional<DWORD> create_refusal(const std::string& path, DWORD access, DWORD share) {
    for (const State::CreateFailure& failure : the_state.create_failures)
        if (path.find(failure.part) != std::string::npos && (access != 0 || failure.without_access))
            return failure.error;
    const DWORD both = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (the_state.held_by_other_program && access != 0 && (share & both) != both) return ERROR_SHARING_VIOLATION;
    return std::nullopt;
}

HANDLE WINAPI fake_CreateFileW(LPCWSTR path_text, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD creation, DWORD flags, HANDLE template_file) {
    const std::string path = wide_to_utf8(path_text);
    FakeFile file;
    if (contains(hid_paths(), path)) {
        file.hid = true;
    } else if (path.rfind(PATH_PREFIX, 0) == 0 && contains(dos_names(), path.substr(4))) {
        file.name = path.substr(4);
    } else if (path.rfind(PATH_PREFIX, 0) == 0) {
        violation("CreateFileW on a device path that was never listed: " + path);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    } else {
        return real<decltype(&fake_CreateFileW)>("CreateFileW")(path_text, access, share, security, creation,
                                                                 flags, template_file);
    }
    the_state.created_paths.push_back(path);
    the_state.created_access.push_back(access);
    if (security != nullptr || template_file != nullptr) violation("CreateFileW with security or template");
    if (creation != OPEN_EXISTING) violation("CreateFileW not OPEN_EXISTING");
    if (const auto error = create_refusal(path, access, share)) {
        SetLastError(*error);
        return INVALID_HANDLE_VALUE;
    }
    file.access = access;
    file.overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    if (file.hid) {
        file.name = path;
        file.sim_hid = the_state.backing->hid_open(path);
        if (file.sim_hid == 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        platform::HidCaps caps;
        if (the_state.backing->hid_caps(file.sim_hid, caps)) file.feature_length = caps.feature_report_length;
    }
    HANDLE handle = objects.make();
    objects.files.emplace(handle, std::move(file));
    return handle;
}

bool io_outstanding(HANDLE file) {
    return std::any_of(objects.pending.begin(), objects.pending.end(),
                       [&](const auto& entry) { return entry.second.file == file; });
}

BOOL WINAPI fake_CloseHandle(HANDLE handle) {
    const auto found = objects.files.find(handle);
    if (found == objects.files.end()) return real<decltype(&fake_CloseHandle)>("CloseHandle")(handle);
    if (io_outstanding(handle)) violation("handle closed while a request on it may still use its buffer");
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
    if (the_state.console_mode) the_state.console_mode = mode;
    return TRUE;
}

BOOL WINAPI fake_SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    auto& handlers = the_state.control_handlers;
    if (add) {
        handlers.push_back(handler);
        return TRUE;
    }
    const auto found = std::find(handlers.begin(), handlers.end(), handler);
    if (found == handlers.end()) return fail(ERROR_INVALID_PARAMETER);
    handlers.erase(found);
    return TRUE;
}

UINT WINAPI fake_GetConsoleOutputCP() { return the_state.output_code_page.value_or(0); }

BOOL WINAPI fake_SetConsoleOutputCP(UINT code_page) {
    if (!the_state.output_code_page) return fail(ERROR_INVALID_HANDLE);
    the_state.output_code_page = code_page;
    the_state.output_code_pages_set.push_back(code_page);
    return TRUE;
}

// ---- Overlapped feature reports -----------------------------------------------

PendingIo* pending_of(LPOVERLAPPED overlapped) {
    const auto found = objects.pending.find(overlapped);
    return found != objects.pending.end() ? &found->second : nullptr;
}

// Every feature report moves the interface's whole feature report; the
// IOCTL needs a handle opened for reading and writing.
BOOL feature_ioctl(FakeFile& file, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                   PendingIo& io) {
    if ((file.access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE)) {
        io.error = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (in_size != file.feature_length) violation("feature report length is not the interface's");
    if (code == IOCTL_HID_SET_FEATURE) {
        if (out != nullptr || out_size != 0) violation("IOCTL_HID_SET_FEATURE with an output buffer");
        const bool ok = the_state.backing->hid_set_feature(file.sim_hid, {static_cast<std::uint8_t*>(in), in_size});
        io.moved = ok ? in_size : 0;
        io.error = ok ? 0 : ERROR_GEN_FAILURE;
        return ok;
    }
    if (code != IOCTL_HID_GET_FEATURE || out != in || out_size != in_size)
        violation("feature report IOCTL with other codes or buffers");
    const bool ok = the_state.backing->hid_get_feature(file.sim_hid, {static_cast<std::uint8_t*>(out), out_size});
    io.moved = ok ? out_size : 0;
    io.error = ok ? 0 : ERROR_GEN_FAILURE;
    return ok;
}

BOOL WINAPI fake_DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                                 LPDWORD returned, LPOVERLAPPED overlapped) {
    FakeFile* file = file_of(device);
    if (file == nullptr)
        return real<decltype(&fake_DeviceIoControl)>("DeviceIoControl")(device, code, in, in_size, out, out_size,
                                                                         returned, overlapped);
    if (!file->hid) violation("DeviceIoControl on a WinUSB device handle");
    if (overlapped == nullptr || overlapped->hEvent == nullptr || !file->overlapped) {
        violation("feature report IOCTL that is not overlapped with an event: it could wait for ever");
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (io_outstanding(device)) violation("a new request while an earlier one may still use its buffer");
    PendingIo io;
    io.file = device;
    if (!the_state.hid_never_answers) {
        io.done = true;
        io.result = feature_ioctl(*file, code, in, in_size, out, out_size, io);
        if (io.error == ERROR_ACCESS_DENIED) return fail(ERROR_ACCESS_DENIED);
    }
    objects.pending[overlapped] = io;
    return fail(ERROR_IO_PENDING);
}

DWORD WINAPI fake_WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    for (auto& [overlapped, io] : objects.pending) {
        if (overlapped->hEvent != handle) continue;
        the_state.io_waits.push_back(milliseconds);
        if (io.done) return WAIT_OBJECT_0;
        if (milliseconds == INFINITE) {
            violation("wait without an end on a request the device never answers");
            return WAIT_FAILED;
        }
        the_state.backing->sleep_ms(milliseconds);
        return WAIT_TIMEOUT;
    }
    return real<decltype(&fake_WaitForSingleObject)>("WaitForSingleObject")(handle, milliseconds);
}

BOOL WINAPI fake_CancelIoEx(HANDLE device, LPOVERLAPPED overlapped) {
    if (file_of(device) == nullptr) return real<decltype(&fake_CancelIoEx)>("CancelIoEx")(device, overlapped);
    PendingIo* io = pending_of(overlapped);
    if (io == nullptr || io->done) return fail(ERROR_NOT_FOUND);
    ++the_state.cancelled_ios;
    io->done = true;
    io->result = FALSE;
    io->error = ERROR_OPERATION_ABORTED;
    return TRUE;
}

BOOL WINAPI fake_GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD moved, BOOL wait) {
    if (file_of(device) == nullptr)
        return real<decltype(&fake_GetOverlappedResult)>("GetOverlappedResult")(device, overlapped, moved, wait);
    PendingIo* io = pending_of(overlapped);
    if (io == nullptr || io->file != device) {
        violation("GetOverlappedResult for a request that was not made");
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!io->done) {
        if (wait) violation("GetOverlappedResult waits for a request that never ends");
        return fail(ERROR_IO_INCOMPLETE);
    }
    const PendingIo ended = *io;
    objects.pending.erase(overlapped);
    *moved = ended.moved;
    return ended.result ? TRUE : fail(ended.error);
}

// ---- SetupAPI -------------------------------------------------------------

HDEVINFO WINAPI fake_SetupDiGetClassDevsW(const GUID* guid, PCWSTR enumerator, HWND parent, DWORD flags) {
    if (guid == nullptr || !IsEqualGUID(*guid, HID_CLASS)) violation("SetupDiGetClassDevsW: not the HID class");
    if (enumerator != nullptr || parent != nullptr) violation("SetupDiGetClassDevsW: enumerator or window given");
    if ((flags & DIGCF_DEVICEINTERFACE) == 0) violation("SetupDiGetClassDevsW lists device classes, not interfaces");
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

BOOL WINAPI fake_SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size,
                                                  PDWORD required, PSP_DEVINFO_DATA device) {
    const auto found = objects.sets.find(set);
    if (found == objects.sets.end() || data == nullptr || data->Reserved == 0 ||
        data->Reserved > found->second.size()) {
        violation("SetupDiGetDeviceInterfaceDetailW on an interface that was not enumerated");
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (device != nullptr) violation("SetupDiGetDeviceInterfaceDetailW asked for device data");
    const std::wstring path = utf8_to_wide(found->second[data->Reserved - 1]);
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                            (path.size() + 1) * sizeof(wchar_t));
    const DWORD reported = the_state.detail_size.value_or(needed);
    if (detail == nullptr) {
        if (size != 0) violation("SetupDiGetDeviceInterfaceDetailW size query with a size");
        if (required == nullptr) violation("SetupDiGetDeviceInterfaceDetailW size query without output");
        else *required = reported;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        violation("detail record size field is " + std::to_string(detail->cbSize));
    if (size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return TRUE;
}

BOOL WINAPI fake_SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (objects.sets.erase(set) == 0) violation("SetupDiDestroyDeviceInfoList on a set that is not open");
    return TRUE;
}

}  // namespace

namespace internal {

void violation(std::string text) { the_state.violations.push_back(std::move(text)); }

std::vector<std::string> dos_names() {
    std::vector<std::string> names = the_state.extra_dos_names;
    std::vector<std::string> simulated;
    if (the_state.backing != nullptr && the_state.backing->usb_device_names(simulated))
        names.insert(names.end(), simulated.begin(), simulated.end());
    std::erase_if(names, [](const std::string& name) { return has_any_part(name, the_state.unlisted_names); });
    return names;
}

std::vector<std::string> hid_paths() {
    std::vector<std::string> paths;
    if (the_state.backing != nullptr) the_state.backing->hid_paths(paths);
    return paths;
}

std::string simulated_location(const std::string& dos_name) {
    platform::UsbPlacement placement;
    const platform::UsbHandle handle = the_state.backing->usb_open(dos_name);
    const bool placed = handle != 0 && the_state.backing->usb_placement(handle, placement);
    if (handle != 0) the_state.backing->usb_close(handle);
    return placed ? placement.location : "";
}

}  // namespace internal

State& state() { return the_state; }

void reset(platform::Platform* backing) {
    the_state = State{};
    the_state.backing = backing;
    objects = Objects{};
    internal::reset_device_nodes();
}

std::size_t open_objects() {
    return objects.files.size() + objects.winusb.size() + objects.sets.size() + objects.preparsed.size() +
           objects.pending.size();
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

FAKE_IMPORT(QueryDosDeviceW)
FAKE_IMPORT(CreateFileW)
FAKE_IMPORT(CloseHandle)
FAKE_IMPORT(DeviceIoControl)
FAKE_IMPORT(WaitForSingleObject)
FAKE_IMPORT(CancelIoEx)
FAKE_IMPORT(GetOverlappedResult)
FAKE_IMPORT(Sleep)
FAKE_IMPORT(GetTickCount64)
FAKE_IMPORT(GetConsoleMode)
FAKE_IMPORT(SetConsoleMode)
FAKE_IMPORT(SetConsoleCtrlHandler)
FAKE_IMPORT(GetConsoleOutputCP)
FAKE_IMPORT(SetConsoleOutputCP)
FAKE_IMPORT(SetupDiGetClassDevsW)
FAKE_IMPORT(SetupDiEnumDeviceInterfaces)
FAKE_IMPORT(SetupDiGetDeviceInterfaceDetailW)
FAKE_IMPORT(SetupDiDestroyDeviceInfoList)

// ---- WinUSB (declared without dllimport: plain definitions) ----------------

extern "C" {

WINBOOL WINAPI WinUsb_Initialize(HANDLE device, PWINUSB_INTERFACE_HANDLE interface) {
    FakeFile* file = file_of(device);
    if (file == nullptr) {
        violation("WinUsb_Initialize on a handle that is not open");
        return fail(ERROR_INVALID_HANDLE);
    }
    // WinUSB does its transfers overlapped on a handle open for both ways.
    if (!file->overlapped || (file->access & (GENERIC_READ | GENERIC_WRITE)) != (GENERIC_READ | GENERIC_WRITE))
        return fail(ERROR_INVALID_PARAMETER);
    if (has_any_part(file->name, the_state.not_winusb)) return fail(ERROR_NOT_SUPPORTED);
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
    std::erase_if(objects.pipe_timeouts, [&](const auto& entry) { return entry.first.first == interface; });
    return TRUE;
}

WINBOOL WINAPI WinUsb_SetPipePolicy(WINUSB_INTERFACE_HANDLE interface, UCHAR pipe, ULONG policy, ULONG length,
                                    PVOID value) {
    if (sim_usb(interface) == 0) return fail(ERROR_INVALID_HANDLE);
    if (policy != PIPE_TRANSFER_TIMEOUT) return TRUE;
    if (length != sizeof(ULONG) || value == nullptr) return fail(ERROR_INVALID_PARAMETER);
    ULONG timeout = 0;
    std::memcpy(&timeout, value, sizeof(timeout));
    objects.pipe_timeouts[{interface, pipe}] = timeout;
    the_state.pipe_timeouts.push_back(timeout);
    return TRUE;
}

}  // extern "C"

namespace {
std::uint8_t serial_index(platform::UsbHandle sim) {
    std::array<std::uint8_t, 18> device{};
    std::size_t got = 0;
    if (!the_state.backing->usb_get_descriptor(sim, 1, 0, 0, device, got) || got < 17) return 0;
    return device[16];
}

// A transfer on a pipe that never answers ends only by the pipe's timeout;
// without one it would never end.
BOOL pipe_never_answers(WINUSB_INTERFACE_HANDLE interface, UCHAR pipe, PULONG transferred) {
    *transferred = 0;
    const auto timeout = objects.pipe_timeouts.find({interface, pipe});
    if (timeout == objects.pipe_timeouts.end() || timeout->second == 0) {
        violation("pipe transfer without a timeout on a device that never answers");
        return fail(ERROR_SEM_TIMEOUT);
    }
    the_state.backing->sleep_ms(timeout->second);
    return fail(ERROR_SEM_TIMEOUT);
}
}  // namespace

extern "C" {

WINBOOL WINAPI WinUsb_GetDescriptor(WINUSB_INTERFACE_HANDLE interface, UCHAR type, UCHAR index, USHORT language,
                                    PUCHAR buffer, ULONG length, PULONG transferred) {
    const platform::UsbHandle sim = sim_usb(interface);
    std::size_t got = 0;
    if (sim == 0 || !the_state.backing->usb_get_descriptor(sim, type, index, language, {buffer, length}, got))
        return fail(ERROR_GEN_FAILURE);
    if (the_state.serial_units && type == 3 && index != 0 && index == serial_index(sim)) {
        const std::u16string& units = *the_state.serial_units;
        std::vector<std::uint8_t> descriptor{static_cast<std::uint8_t>(2 + 2 * units.size()), 3};
        for (const char16_t unit : units) {
            descriptor.push_back(static_cast<std::uint8_t>(unit));
            descriptor.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        got = std::min<std::size_t>(descriptor.size(), length);
        std::memcpy(buffer, descriptor.data(), got);
    }
    *transferred = static_cast<ULONG>(got);
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
    if (the_state.pipes_never_answer) return pipe_never_answers(interface, pipe, transferred);
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
    if (the_state.pipes_never_answer) return pipe_never_answers(interface, pipe, transferred);
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

BOOLEAN NTAPI HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length) {
    const platform::HidHandle sim = sim_hid(device);
    std::string serial;
    if (sim == 0 || !the_state.backing->hid_serial_number(sim, serial)) return FALSE;
    const std::wstring wide = utf8_to_wide(serial);
    std::u16string units = the_state.serial_units.value_or(std::u16string(wide.begin(), wide.end()));
    if ((units.size() + 1) * 2 > length) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    units.push_back(u'\0');
    std::memcpy(buffer, units.data(), units.size() * 2);
    return TRUE;
}

}  // extern "C"
