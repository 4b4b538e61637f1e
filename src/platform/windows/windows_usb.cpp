// WinUSB role: the DOS device namespace as the list of device names, each
// name opened as "\\?\<name>" and driven through WinUSB.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/usb_string.h"
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

}  // namespace

std::string device_path_for(const std::string& name) {
    const std::size_t prefix = std::strlen(DEVICE_PATH_PREFIX);
    if (prefix + name.size() + 1 > DEVICE_PATH_BUFFER_SIZE) return {};
    return DEVICE_PATH_PREFIX + name;
}

std::vector<std::string> split_dos_names(const std::vector<char>& buffer, std::size_t stored) {
    std::vector<std::string> names;
    const std::size_t end = std::min(stored, buffer.size());
    std::size_t position = 0;
    while (position < end) {
        const char* start = buffer.data() + position;
        const void* nul = std::memchr(start, '\0', end - position);
        const std::size_t length =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : end - position;
        if (length > 0) names.emplace_back(start, length);
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
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_FILE_NOT_FOUND:
        return UsbError::device_gone;
    default:
        return UsbError::other;
    }
}

bool WindowsPlatform::usb_device_names(std::vector<std::string>& names) {
    std::vector<char> buffer(DOS_NAME_BUFFER_SIZE);
    const DWORD stored = QueryDosDeviceA(nullptr, buffer.data(), DOS_NAME_BUFFER_SIZE);
    if (stored == 0) return false;
    names = split_dos_names(buffer, stored);
    return true;
}

UsbHandle WindowsPlatform::usb_open(const std::string& name) {
    const std::string path = device_path_for(name);
    if (path.empty()) return 0;
    UsbOpen open;
    open.device.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!open.device.valid()) return 0;
    if (!WinUsb_Initialize(open.device.get(), open.winusb.put()) || !open.winusb.valid()) {
        open.winusb.reset();
        return 0;
    }
    open.name = name;
    const UsbHandle handle = next_handle_++;
    usb_opens_.emplace(handle, std::move(open));
    return handle;
}

void WindowsPlatform::usb_close(UsbHandle handle) { usb_opens_.erase(handle); }

WINUSB_INTERFACE_HANDLE WindowsPlatform::winusb_of(UsbHandle handle) const {
    const auto found = usb_opens_.find(handle);
    return found != usb_opens_.end() ? found->second.winusb.get() : nullptr;
}

bool WindowsPlatform::usb_get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index,
                                         std::uint16_t language, std::span<std::uint8_t> buffer,
                                         std::size_t& transferred) {
    transferred = 0;
    const WINUSB_INTERFACE_HANDLE winusb = winusb_of(handle);
    if (winusb == nullptr) return false;
    ULONG received = 0;
    if (!WinUsb_GetDescriptor(winusb, type, index, language, buffer.data(), clamp_length(buffer.size()),
                              &received))
        return false;
    transferred = std::min<std::size_t>(received, buffer.size());
    return true;
}

bool WindowsPlatform::usb_device_speed(UsbHandle handle, std::uint8_t& speed) {
    const WINUSB_INTERFACE_HANDLE winusb = winusb_of(handle);
    if (winusb == nullptr) return false;
    ULONG length = 1;
    UCHAR code = 0;
    if (!WinUsb_QueryDeviceInformation(winusb, DEVICE_SPEED, &length, &code)) return false;
    speed = code;
    return true;
}

UsbError WindowsPlatform::usb_control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8],
                                               std::span<std::uint8_t> buffer, std::size_t& transferred) {
    transferred = 0;
    const WINUSB_INTERFACE_HANDLE winusb = winusb_of(handle);
    if (winusb == nullptr) return UsbError::other;
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
    const WINUSB_INTERFACE_HANDLE winusb = winusb_of(handle);
    if (winusb == nullptr) return UsbError::other;
    ULONG moved = 0;
    if (!WinUsb_ReadPipe(winusb, pipe_id, buffer.data(), clamp_length(buffer.size()), &moved, nullptr))
        return usb_error_from(GetLastError());
    transferred = std::min<std::size_t>(moved, buffer.size());
    return UsbError::none;
}

UsbError WindowsPlatform::usb_write_pipe(UsbHandle handle, std::uint8_t pipe_id,
                                         std::span<const std::uint8_t> buffer, std::size_t& transferred) {
    transferred = 0;
    const WINUSB_INTERFACE_HANDLE winusb = winusb_of(handle);
    if (winusb == nullptr) return UsbError::other;
    ULONG moved = 0;
    // WinUsb_WritePipe takes a non-const buffer but only reads from it.
    auto* data = const_cast<std::uint8_t*>(buffer.data());
    if (!WinUsb_WritePipe(winusb, pipe_id, data, clamp_length(buffer.size()), &moved, nullptr))
        return usb_error_from(GetLastError());
    transferred = std::min<std::size_t>(moved, buffer.size());
    return UsbError::none;
}

bool WindowsPlatform::usb_interface_settings(UsbHandle handle, std::uint8_t alternate, UsbInterfaceInfo& info) {
    const WINUSB_INTERFACE_HANDLE winusb = winusb_of(handle);
    if (winusb == nullptr) return false;
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
    const WINUSB_INTERFACE_HANDLE winusb = winusb_of(handle);
    if (winusb == nullptr) return false;
    WINUSB_PIPE_INFORMATION pipe{};
    if (!WinUsb_QueryPipe(winusb, alternate, pipe_index, &pipe)) return false;
    info.pipe_type = static_cast<std::uint8_t>(pipe.PipeType);
    info.pipe_id = pipe.PipeId;
    info.max_packet_size = pipe.MaximumPacketSize;
    info.interval = pipe.Interval;
    return true;
}

std::string device_instance_id(const std::string& name) {
    std::string id = name.substr(0, name.rfind("#{"));
    std::replace(id.begin(), id.end(), '#', '\\');
    return id;
}

bool WindowsPlatform::usb_placement(UsbHandle handle, UsbPlacement& placement) {
    const auto found = usb_opens_.find(handle);
    if (found == usb_opens_.end()) return false;
    const std::string& name = found->second.name;
    std::string id = device_instance_id(name);
    DEVINST node = 0;
    if (CM_Locate_DevNodeA(&node, id.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) return false;
    // An interface of a composite device sits below the device on the port.
    if (name.find("&MI_") != std::string::npos) {
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) return false;
        node = parent;
    }
    std::array<char, DESCRIPTOR_BUFFER_SIZE> text{};
    ULONG size = static_cast<ULONG>(text.size());
    ULONG type = 0;
    if (CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_LOCATION_INFORMATION, &type, text.data(), &size, 0) !=
            CR_SUCCESS ||
        type != REG_SZ)
        return false;
    placement.location.assign(text.data(), strnlen(text.data(), std::min<std::size_t>(size, text.size())));
    placement.enumeration.reset();
    return !placement.location.empty();
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
