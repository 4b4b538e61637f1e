// WinUSB role: the DOS device namespace as the list of device names, each
// name opened as "\\?\<name>" and driven through WinUSB.
#include <algorithm>
#include <array>
#include <cwchar>

#include "platform/usb_string.h"
#include "platform/windows/device_node.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_platform.h"

namespace platform::windows {
namespace {

constexpr std::uint8_t DESCRIPTOR_DEVICE = 1;
constexpr std::uint8_t DESCRIPTOR_STRING = 3;
constexpr std::size_t DESCRIPTOR_BUFFER_SIZE = 256;
constexpr std::size_t SERIAL_INDEX_OFFSET = 16;

ULONG clamp_length(std::size_t size) {
    return static_cast<ULONG>(std::min<std::size_t>(size, 0xFFFFFFFFu));
}

// Bulk and interrupt pipes wait for ever by default (only the control pipe
// has a default timeout): each pipe of the interface gets one.
bool bound_pipe_transfers(WINUSB_INTERFACE_HANDLE winusb) {
    USB_INTERFACE_DESCRIPTOR descriptor{};
    if (!WinUsb_QueryInterfaceSettings(winusb, 0, &descriptor)) return false;
    for (UCHAR index = 0; index < descriptor.bNumEndpoints; ++index) {
        WINUSB_PIPE_INFORMATION pipe{};
        if (!WinUsb_QueryPipe(winusb, 0, index, &pipe)) return false;
        ULONG timeout = PIPE_TRANSFER_TIMEOUT_MS;
        if (!WinUsb_SetPipePolicy(winusb, pipe.PipeId, PIPE_TRANSFER_TIMEOUT, sizeof(timeout), &timeout))
            return false;
    }
    return true;
}

}  // namespace

std::wstring device_path_for(const std::string& name) {
    const std::wstring wide = utf8_to_wide(name);
    if (wide.empty() || wide.size() + std::wcslen(DEVICE_PATH_PREFIX) > DEVICE_PATH_MAX_UNITS) return {};
    return DEVICE_PATH_PREFIX + wide;
}

std::vector<std::string> split_dos_names(const std::vector<wchar_t>& buffer, std::size_t stored) {
    std::vector<std::string> names;
    const std::size_t end = std::min(stored, buffer.size());
    std::size_t position = 0;
    while (position < end) {
        const wchar_t* start = buffer.data() + position;
        const std::size_t length = wcsnlen(start, end - position);
        if (length > 0) names.push_back(wide_to_utf8(std::wstring_view(start, length)));
        position += length + 1;
    }
    return names;
}

UsbError usb_error_from(DWORD error) {
    switch (error) {
    case ERROR_GEN_FAILURE:
        return UsbError::general_failure;
    case ERROR_SEM_TIMEOUT:
        return UsbError::timeout;
    case ERROR_NO_SUCH_DEVICE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_FILE_NOT_FOUND:
        return UsbError::device_gone;
    default:
        return UsbError::other;
    }
}

bool WindowsPlatform::usb_device_names(std::vector<std::string>& names) {
    std::vector<wchar_t> buffer(DOS_NAME_BUFFER_SIZE);
    const DWORD stored = QueryDosDeviceW(nullptr, buffer.data(), DOS_NAME_BUFFER_SIZE);
    if (stored == 0) return false;
    names = split_dos_names(buffer, stored);
    usb_failures_.new_listing(names);
    return true;
}

UsbHandle WindowsPlatform::usb_open(const std::string& name) {
    const std::wstring path = device_path_for(name);
    if (path.empty()) return 0;
    auto open = std::make_shared<UsbOpen>();
    // Sharing both ways: WinUSB itself lets one program at a time in, and a
    // narrower share only turns a second open into a less clear error.
    open->device.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!open->device.valid()) {
        usb_failures_.record_create_error(name, GetLastError());
        return 0;
    }
    if (!WinUsb_Initialize(open->device.get(), open->winusb.put()) || !open->winusb.valid()) {
        open->winusb.reset();
        usb_failures_.record_not_winusb(name);
        return 0;
    }
    if (!bound_pipe_transfers(open->winusb.get())) return 0;
    usb_failures_.forget(name);
    open->name = name;
    return usb_opens_.add(std::move(open));
}

void WindowsPlatform::usb_close(UsbHandle handle) { usb_opens_.erase(handle); }

bool WindowsPlatform::usb_get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index,
                                         std::uint16_t language, std::span<std::uint8_t> buffer,
                                         std::size_t& transferred) {
    transferred = 0;
    const std::shared_ptr<const UsbOpen> open = usb_of(handle);
    if (!open) return false;
    const WINUSB_INTERFACE_HANDLE winusb = open->winusb.get();
    ULONG received = 0;
    if (!WinUsb_GetDescriptor(winusb, type, index, language, buffer.data(), clamp_length(buffer.size()),
                              &received))
        return false;
    transferred = std::min<std::size_t>(received, buffer.size());
    return true;
}

UsbError WindowsPlatform::usb_control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8],
                                               std::span<std::uint8_t> buffer, std::size_t& transferred) {
    transferred = 0;
    const std::shared_ptr<const UsbOpen> open = usb_of(handle);
    if (!open) return UsbError::other;
    const WINUSB_INTERFACE_HANDLE winusb = open->winusb.get();
    WINUSB_SETUP_PACKET packet{};
    packet.RequestType = setup[0];
    packet.Request = setup[1];
    packet.Value = static_cast<USHORT>(setup[2] | (setup[3] << 8));
    packet.Index = static_cast<USHORT>(setup[4] | (setup[5] << 8));
    packet.Length = static_cast<USHORT>(setup[6] | (setup[7] << 8));
    ULONG moved = 0;
    BOOL ok = FALSE;
    const bool device_to_host = (setup[0] & 0x80) != 0;
    if (device_to_host && buffer.size() <= CONTROL_IN_BUFFER_LENGTH) {
        // WinUSB is told of a 64-byte buffer whatever wLength says; the data
        // lands in a buffer of that size first, so a device that sends more
        // than asked cannot write past the caller's buffer.
        std::array<std::uint8_t, CONTROL_IN_BUFFER_LENGTH> bounce{};
        ok = WinUsb_ControlTransfer(winusb, packet, bounce.data(), CONTROL_IN_BUFFER_LENGTH, &moved, nullptr);
        moved = std::min<ULONG>(moved, static_cast<ULONG>(buffer.size()));
        if (ok) std::copy_n(bounce.begin(), moved, buffer.begin());
    } else {
        ok = WinUsb_ControlTransfer(winusb, packet, buffer.empty() ? nullptr : buffer.data(),
                                    clamp_length(buffer.size()), &moved, nullptr);
        moved = std::min<ULONG>(moved, clamp_length(buffer.size()));
    }
    if (!ok) return usb_error_from(GetLastError());
    transferred = moved;
    return UsbError::none;
}

UsbError WindowsPlatform::usb_read_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<std::uint8_t> buffer,
                                        std::size_t& transferred) {
    transferred = 0;
    const std::shared_ptr<const UsbOpen> open = usb_of(handle);
    if (!open) return UsbError::other;
    const WINUSB_INTERFACE_HANDLE winusb = open->winusb.get();
    ULONG moved = 0;
    if (!WinUsb_ReadPipe(winusb, pipe_id, buffer.data(), clamp_length(buffer.size()), &moved, nullptr))
        return usb_error_from(GetLastError());
    transferred = std::min<std::size_t>(moved, buffer.size());
    return UsbError::none;
}

UsbError WindowsPlatform::usb_write_pipe(UsbHandle handle, std::uint8_t pipe_id,
                                         std::span<const std::uint8_t> buffer, std::size_t& transferred) {
    transferred = 0;
    const std::shared_ptr<const UsbOpen> open = usb_of(handle);
    if (!open) return UsbError::other;
    const WINUSB_INTERFACE_HANDLE winusb = open->winusb.get();
    ULONG moved = 0;
    // WinUsb_WritePipe takes a non-const buffer but only reads from it.
    auto* data = const_cast<std::uint8_t*>(buffer.data());
    if (!WinUsb_WritePipe(winusb, pipe_id, data, clamp_length(buffer.size()), &moved, nullptr))
        return usb_error_from(GetLastError());
    transferred = std::min<std::size_t>(moved, buffer.size());
    return UsbError::none;
}

bool WindowsPlatform::usb_interface_settings(UsbHandle handle, std::uint8_t alternate, UsbInterfaceInfo& info) {
    const std::shared_ptr<const UsbOpen> open = usb_of(handle);
    if (!open) return false;
    const WINUSB_INTERFACE_HANDLE winusb = open->winusb.get();
    USB_INTERFACE_DESCRIPTOR descriptor{};
    if (!WinUsb_QueryInterfaceSettings(winusb, alternate, &descriptor)) return false;
    info.interface_number = descriptor.bInterfaceNumber;
    info.alternate_setting = descriptor.bAlternateSetting;
    info.num_endpoints = descriptor.bNumEndpoints;
    info.interface_class = descriptor.bInterfaceClass;
    info.interface_subclass = descriptor.bInterfaceSubClass;
    info.interface_protocol = descriptor.bInterfaceProtocol;
    return true;
}

bool WindowsPlatform::usb_query_pipe(UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                                     UsbPipeInfo& info) {
    const std::shared_ptr<const UsbOpen> open = usb_of(handle);
    if (!open) return false;
    const WINUSB_INTERFACE_HANDLE winusb = open->winusb.get();
    WINUSB_PIPE_INFORMATION pipe{};
    if (!WinUsb_QueryPipe(winusb, alternate, pipe_index, &pipe)) return false;
    info.pipe_type = static_cast<std::uint8_t>(pipe.PipeType);
    info.pipe_id = pipe.PipeId;
    info.max_packet_size = pipe.MaximumPacketSize;
    info.interval = pipe.Interval;
    return true;
}

bool WindowsPlatform::usb_placement(UsbHandle handle, UsbPlacement& placement) {
    const std::shared_ptr<const UsbOpen> open = usb_of(handle);
    if (!open) return false;
    placement.enumeration.reset();
    return usb_device_location(device_instance_id(utf8_to_wide(open->name)), placement.location);
}

bool WindowsPlatform::usb_serial_number(UsbHandle handle, std::string& serial) {
    std::array<std::uint8_t, DESCRIPTOR_BUFFER_SIZE> buffer{};
    std::size_t got = 0;
    if (!usb_get_descriptor(handle, DESCRIPTOR_DEVICE, 0, 0, buffer, got) || got <= SERIAL_INDEX_OFFSET)
        return false;
    const std::uint8_t serial_index = buffer[SERIAL_INDEX_OFFSET];
    if (serial_index == 0) return false;
    buffer.fill(0);
    if (!usb_get_descriptor(handle, DESCRIPTOR_STRING, 0, 0, buffer, got) || got < 4) return false;
    const auto language = static_cast<std::uint16_t>(buffer[2] | (buffer[3] << 8));
    buffer.fill(0);
    if (!usb_get_descriptor(handle, DESCRIPTOR_STRING, serial_index, language, buffer, got)) return false;
    const auto text = usb_string_descriptor_text(std::span(buffer).first(got));
    if (!text) return false;
    serial = *text;
    return true;
}

}  // namespace platform::windows
