#include "usb/usb_device.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "usb/le.h"
#include "usb/usb_name_match.h"

namespace {

constexpr std::uint8_t DESCRIPTOR_DEVICE = 1;
constexpr std::size_t DESCRIPTOR_BUFFER_SIZE = 256;
constexpr std::size_t DEVICE_DESCRIPTOR_SIZE = 18;

bool serial_matches(platform::Platform& os, platform::UsbHandle handle, serial_number serial) {
    if (!serial) return true;
    std::string actual;
    return os.usb_serial_number(handle, actual) && actual == *serial;
}

using device_descriptor_bytes = std::array<std::uint8_t, DESCRIPTOR_BUFFER_SIZE>;

// Opens `name` and reads its device descriptor; an empty owner when either
// fails or the descriptor is short.
platform::UsbHandleOwner open_with_descriptor(platform::Platform& os, const std::string& name,
                                              device_descriptor_bytes& descriptor) {
    if (!usb_name_fits_path(name)) return {};
    platform::UsbHandleOwner handle(os, os.usb_open(name));
    if (!handle) return {};
    std::size_t got = 0;
    if (!os.usb_get_descriptor(handle.get(), DESCRIPTOR_DEVICE, 0, 0, descriptor, got) ||
        got < DEVICE_DESCRIPTOR_SIZE)
        return {};
    return handle;
}

// One pass over the platform's device names; true when `device` now holds an
// open device. With `same_as`, only that physical device is taken.
bool usb_device_search(platform::Platform& os, usb_device& device, bool with_interface, serial_number serial,
                       const usb_device_identity* same_as) {
    std::vector<std::string> names;
    if (!os.usb_device_names(names) || names.empty()) return false;
    const usb_name_patterns patterns =
        usb_name_patterns_make(device.vendor_id, device.product_id,
                               with_interface ? std::optional<int>(device.interface_number) : std::nullopt);
    for (const std::string& name : names) {
        if (!usb_name_matches(patterns, name)) continue;
        device_descriptor_bytes descriptor{};
        platform::UsbHandleOwner handle = open_with_descriptor(os, name, descriptor);
        if (!handle) continue;
        const std::uint16_t vendor = le16(descriptor, 8);
        const std::uint16_t product = le16(descriptor, 10);
        if ((device.vendor_id != ANY_ID && vendor != device.vendor_id) ||
            (device.product_id != ANY_ID && product != device.product_id))
            continue;
        if (!serial_matches(os, handle.get(), serial)) continue;
        if (same_as != nullptr && !usb_identity_is_weak(*same_as) &&
            !usb_same_device(*same_as, usb_device_identity_read(os, handle.get(), name, product)))
            continue;
        device.os = &os;
        device.handle = std::move(handle);
        device.vendor_id = vendor;
        device.product_id = product;
        device.release = le16(descriptor, 12);
        return true;
    }
    return false;
}

void fill_setup(std::uint8_t (&setup)[8], std::uint8_t request_type, std::uint8_t request,
                std::uint16_t value, std::uint16_t index, std::uint16_t length) {
    setup[0] = request_type;
    setup[1] = request;
    std::span<std::uint8_t> bytes(setup);
    put_le16(bytes, 2, value);
    put_le16(bytes, 4, index);
    put_le16(bytes, 6, length);
}

}  // namespace

namespace {

usb_device_ptr open_device(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                           int interface_number, serial_number serial, const usb_device_identity* same_as) {
    auto device = std::make_unique<usb_device>();
    device->vendor_id = vendor_id;
    device->product_id = product_id;
    device->interface_number = interface_number;
    if (usb_device_search(os, *device, true, serial, same_as) || usb_device_search(os, *device, false, serial, same_as))
        return device;
    return nullptr;
}

}  // namespace

usb_device_ptr usb_device_open(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                               int interface_number, serial_number serial) {
    return open_device(os, vendor_id, product_id, interface_number, serial, nullptr);
}

usb_device_ptr usb_device_open_same(platform::Platform& os, std::uint16_t vendor_id, std::uint16_t product_id,
                                    int interface_number, const usb_device_identity& device) {
    return open_device(os, vendor_id, product_id, interface_number, std::nullopt, &device);
}

std::uint16_t usb_device_vendor_id(const usb_device& device) { return device.vendor_id; }
std::uint16_t usb_device_product_id(const usb_device& device) { return device.product_id; }
std::uint16_t usb_device_release(const usb_device& device) { return device.release; }

std::vector<usb_device_identity> usb_list_winusb_devices(platform::Platform& os) {
    std::vector<usb_device_identity> devices;
    std::vector<std::string> names;
    if (!os.usb_device_names(names)) return devices;
    const usb_name_patterns patterns = usb_name_patterns_make(DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    for (const std::string& name : names) {
        if (!usb_name_matches(patterns, name)) continue;
        device_descriptor_bytes descriptor{};
        platform::UsbHandleOwner handle = open_with_descriptor(os, name, descriptor);
        if (!handle || le16(descriptor, 8) != DEVICE_VENDOR_ID) continue;
        devices.push_back(usb_device_identity_read(os, handle.get(), name, le16(descriptor, 10)));
    }
    return devices;
}

namespace {

int control(usb_device& device, std::uint8_t request_type, std::uint8_t request, std::uint16_t value,
            std::span<std::uint8_t> buffer, std::uint16_t length, int& transferred) {
    transferred = 0;
    if (buffer.size() < length) {
        device.last_error = platform::UsbError::other;
        return -1;
    }
    std::uint8_t setup[8];
    fill_setup(setup, request_type, request, value, static_cast<std::uint16_t>(device.interface_number),
               length);
    std::size_t moved = 0;
    const platform::UsbError error =
        device.os->usb_control_transfer(device.handle.get(), setup, buffer.first(length), moved);
    device.last_error = error;
    if (error != platform::UsbError::none) return -1;
    transferred = static_cast<int>(moved > length ? length : moved);
    return 0;
}

}  // namespace

int usb_device_control_in(usb_device& device, std::uint8_t request, std::uint16_t value,
                          std::span<std::uint8_t> buffer, std::uint16_t length, int& transferred) {
    return control(device, 0xA1, request, value, buffer, length, transferred);
}

int usb_device_control_out(usb_device& device, std::uint8_t request, std::uint16_t value,
                           std::span<const std::uint8_t> buffer, std::uint16_t length, int& transferred) {
    // The seam takes one mutable span for both directions; an OUT transfer
    // only reads from it.
    std::span<std::uint8_t> writable(const_cast<std::uint8_t*>(buffer.data()), buffer.size());
    return control(device, 0x21, request, value, writable, length, transferred);
}

int usb_device_transfer(usb_device& device, std::uint8_t pipe_id, std::span<std::uint8_t> buffer) {
    platform::Platform& os = *device.os;
    std::size_t moved = 0;
    const platform::UsbError error = (pipe_id & 0x80) != 0
                                         ? os.usb_read_pipe(device.handle.get(), pipe_id, buffer, moved)
                                         : os.usb_write_pipe(device.handle.get(), pipe_id, buffer, moved);
    if (error != platform::UsbError::none) return -1;
    return static_cast<int>(moved > buffer.size() ? buffer.size() : moved);
}

int usb_device_find_pipes(usb_device& device, std::uint8_t& in_pipe, std::uint8_t& out_pipe) {
    platform::Platform& os = *device.os;
    platform::UsbInterfaceInfo info;
    if (!os.usb_interface_settings(device.handle.get(), 0, info)) return -1;
    bool found_in = false;
    bool found_out = false;
    for (std::uint8_t index = 0; index < info.num_endpoints; ++index) {
        platform::UsbPipeInfo pipe;
        if (!os.usb_query_pipe(device.handle.get(), 0, index, pipe)) return -1;
        if (pipe.pipe_type != platform::USB_PIPE_BULK) continue;
        if ((pipe.pipe_id & 0x80) != 0) {
            if (found_in) continue;
            found_in = true;
            in_pipe = pipe.pipe_id;
        } else {
            if (found_out) continue;
            found_out = true;
            out_pipe = pipe.pipe_id;
        }
    }
    return found_in && found_out ? 1 : 0;
}
