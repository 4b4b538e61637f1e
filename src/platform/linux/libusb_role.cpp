#include "platform/linux/libusb_role.h"

#include <libusb.h>

#include <array>
#include <climits>
#include <cstdio>
#include <optional>

#include "platform/linux/usb_names.h"
#include "platform/usb_string.h"

namespace platform::linux_backend {
namespace {

constexpr std::uint8_t REQUEST_GET_DESCRIPTOR = 0x06;
constexpr std::uint8_t DEVICE_TO_HOST_STANDARD_DEVICE = 0x80;
constexpr std::size_t MAX_PORT_DEPTH = 7;  // USB 2.0 allows at most 7 tiers

struct ContextDeleter {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};
struct DeviceListDeleter {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
struct ConfigDeleter {
    void operator()(libusb_config_descriptor* config) const { libusb_free_config_descriptor(config); }
};
struct HandleDeleter {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
using ContextPtr = std::unique_ptr<libusb_context, ContextDeleter>;
using DeviceListPtr = std::unique_ptr<libusb_device*, DeviceListDeleter>;
using ConfigPtr = std::unique_ptr<libusb_config_descriptor, ConfigDeleter>;
using HandlePtr = std::unique_ptr<libusb_device_handle, HandleDeleter>;

ContextPtr new_context() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return nullptr;
    return ContextPtr(context);
}

// The device list of a context; `count` devices, or none on failure.
DeviceListPtr device_list(libusb_context* context, std::size_t& count) {
    libusb_device** list = nullptr;
    const ssize_t got = libusb_get_device_list(context, &list);
    if (got < 0) {
        count = 0;
        return nullptr;
    }
    count = static_cast<std::size_t>(got);
    return DeviceListPtr(list);
}

// The active configuration, or the first one of an unconfigured device.
ConfigPtr configuration(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) == 0) return ConfigPtr(config);
    if (libusb_get_config_descriptor(device, 0, &config) == 0) return ConfigPtr(config);
    return nullptr;
}

std::string location_of(libusb_device* device) {
    std::array<std::uint8_t, MAX_PORT_DEPTH> ports{};
    const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    const std::size_t used = depth > 0 ? static_cast<std::size_t>(depth) : 0;
    return usb_location(libusb_get_bus_number(device), std::span(ports).first(used));
}

// Index in the configuration of the interface with this number.
std::optional<int> interface_index(const libusb_config_descriptor& config, std::uint8_t number) {
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& interface = config.interface[i];
        if (interface.num_altsetting > 0 && interface.altsetting[0].bInterfaceNumber == number) return i;
    }
    return std::nullopt;
}

const libusb_endpoint_descriptor* find_endpoint(const libusb_interface_descriptor& setting,
                                                std::uint8_t address) {
    for (int i = 0; i < setting.bNumEndpoints; ++i)
        if (setting.endpoint[i].bEndpointAddress == address) return &setting.endpoint[i];
    return nullptr;
}

}  // namespace

UsbError usb_error_from_libusb(int code) {
    switch (code) {
        case LIBUSB_SUCCESS: return UsbError::none;
        case LIBUSB_ERROR_PIPE: return UsbError::general_failure;
        case LIBUSB_ERROR_NO_DEVICE: return UsbError::device_gone;
        case LIBUSB_ERROR_TIMEOUT: return UsbError::timeout;
        default: return UsbError::other;
    }
}

struct LibusbRole::Open {
    // Declared in the order of creation; destroyed in reverse.
    ContextPtr context;
    ConfigPtr config;
    HandlePtr handle;
    int index = 0;  // of the claimed interface in `config`
    std::uint8_t interface_number = 0;
    bool claimed = false;

    ~Open() {
        if (claimed) libusb_release_interface(handle.get(), interface_number);
    }
    const libusb_interface& interface() const { return config->interface[index]; }
};

LibusbRole::LibusbRole() = default;
LibusbRole::~LibusbRole() = default;

thread_local std::string LibusbRole::last_error_;

bool LibusbRole::device_names(std::vector<std::string>& names) {
    names.clear();
    {
        const std::lock_guard lock(listing_mutex_);
        unopened_.clear();
    }
    const ContextPtr context = new_context();
    if (!context) return false;
    std::size_t count = 0;
    const DeviceListPtr list = device_list(context.get(), count);
    if (!list) return false;
    for (std::size_t i = 0; i < count; ++i) {
        libusb_device* device = list.get()[i];
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != 0) continue;
        const ConfigPtr config = configuration(device);
        if (!config) continue;
        UsbNameParts parts{descriptor.idVendor, descriptor.idProduct, std::nullopt, location_of(device)};
        if (config->bNumInterfaces == 1) {
            names.push_back(usb_name_format(parts));
            continue;
        }
        for (int k = 0; k < config->bNumInterfaces; ++k) {
            const libusb_interface& interface = config->interface[k];
            if (interface.num_altsetting <= 0) continue;
            parts.interface_number = interface.altsetting[0].bInterfaceNumber;
            names.push_back(usb_name_format(parts));
        }
    }
    return true;
}

int LibusbRole::note(int result) {
    last_error_ = result < 0 ? libusb_error_name(result) : "";
    return result;
}

void LibusbRole::note_unopened(const UnopenedDevice& device) {
    const std::lock_guard lock(listing_mutex_);
    unopened_.push_back(device);
    if (device.reason != "permission denied" || !denied_.empty()) return;
    char ids[16];
    std::snprintf(ids, sizeof ids, "%.4X:%.4X", static_cast<unsigned>(device.vendor_id),
                  static_cast<unsigned>(device.product_id));
    denied_ = std::string(ids) + " at USB " + device.location;
}

std::string LibusbRole::denied_device() const {
    const std::lock_guard lock(listing_mutex_);
    return denied_;
}

std::vector<UnopenedDevice> LibusbRole::unopened() const {
    const std::lock_guard lock(listing_mutex_);
    return unopened_;
}

UsbHandle LibusbRole::open(const std::string& name) {
    const std::optional<UsbNameParts> parts = usb_name_parse(name);
    if (!parts) return 0;
    auto record = std::make_shared<Open>();
    record->context = new_context();
    if (!record->context) return 0;
    std::size_t count = 0;
    const DeviceListPtr list = device_list(record->context.get(), count);
    if (!list) return 0;
    for (std::size_t i = 0; i < count; ++i) {
        libusb_device* device = list.get()[i];
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != 0 || descriptor.idVendor != parts->vendor_id ||
            descriptor.idProduct != parts->product_id || location_of(device) != parts->location)
            continue;
        record->config = configuration(device);
        if (!record->config) return 0;
        std::optional<int> index;
        if (parts->interface_number) index = interface_index(*record->config, *parts->interface_number);
        else if (record->config->bNumInterfaces == 1 && record->config->interface[0].num_altsetting > 0) index = 0;
        if (!index) return 0;
        record->index = *index;
        record->interface_number = record->interface().altsetting[0].bInterfaceNumber;

        libusb_device_handle* handle = nullptr;
        const int opened = note(libusb_open(device, &handle));
        if (opened != 0) {
            if (opened == LIBUSB_ERROR_ACCESS)
                note_unopened({parts->vendor_id, parts->product_id, parts->location, "permission denied"});
            return 0;
        }
        record->handle.reset(handle);
        // A kernel driver on the interface means it is not ours to take.
        if (libusb_kernel_driver_active(handle, record->interface_number) == 1) return 0;
        if (const int claimed = note(libusb_claim_interface(handle, record->interface_number)); claimed != 0) {
            // Another program (another flash-tool among them) has it.
            if (claimed == LIBUSB_ERROR_BUSY)
                note_unopened({parts->vendor_id, parts->product_id, parts->location, "busy"});
            return 0;
        }
        record->claimed = true;
        return open_.add(std::move(record));
    }
    return 0;
}

void LibusbRole::close(UsbHandle handle) { open_.erase(handle); }

std::shared_ptr<LibusbRole::Open> LibusbRole::find(UsbHandle handle) const { return open_.find(handle); }

bool LibusbRole::get_descriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index,
                                std::uint16_t language, std::span<std::uint8_t> buffer,
                                std::size_t& transferred) {
    transferred = 0;
    const std::shared_ptr<Open> open = find(handle);
    if (open == nullptr) return false;
    const auto length = static_cast<std::uint16_t>(buffer.size() > 0xFFFF ? 0xFFFF : buffer.size());
    const int got = note(libusb_control_transfer(open->handle.get(), DEVICE_TO_HOST_STANDARD_DEVICE,
                                            REQUEST_GET_DESCRIPTOR,
                                            static_cast<std::uint16_t>((type << 8) | index), language,
                                            buffer.data(), length, CONTROL_TIMEOUT_MS));
    if (got < 0) return false;
    transferred = static_cast<std::size_t>(got);
    return true;
}

UsbError LibusbRole::control_transfer(UsbHandle handle, const std::uint8_t (&setup)[8],
                                      std::span<std::uint8_t> buffer, std::size_t& transferred) {
    transferred = 0;
    const std::shared_ptr<Open> open = find(handle);
    if (open == nullptr) return UsbError::other;
    const auto value = static_cast<std::uint16_t>(setup[2] | (setup[3] << 8));
    const auto index = static_cast<std::uint16_t>(setup[4] | (setup[5] << 8));
    const auto length = static_cast<std::uint16_t>(setup[6] | (setup[7] << 8));
    // The data stage never reaches past the caller's buffer.
    if (length > buffer.size()) return UsbError::other;
    const int result = note(libusb_control_transfer(open->handle.get(), setup[0], setup[1], value, index,
                                                    length != 0 ? buffer.data() : nullptr, length,
                                                    CONTROL_TIMEOUT_MS));
    if (result < 0) return usb_error_from_libusb(result);
    transferred = static_cast<std::size_t>(result);
    return UsbError::none;
}

UsbError LibusbRole::pipe_transfer(Open& open, std::uint8_t pipe_id, std::uint8_t* data, std::size_t length,
                                   std::size_t& transferred) {
    transferred = 0;
    const libusb_endpoint_descriptor* endpoint = find_endpoint(open.interface().altsetting[0], pipe_id);
    if (endpoint == nullptr || length > static_cast<std::size_t>(INT_MAX)) return UsbError::other;
    int moved = 0;
    int result = LIBUSB_ERROR_NOT_SUPPORTED;
    switch (endpoint->bmAttributes & 3) {
        case LIBUSB_TRANSFER_TYPE_BULK:
            result = libusb_bulk_transfer(open.handle.get(), pipe_id, data, static_cast<int>(length), &moved,
                                          PIPE_TIMEOUT_MS);
            break;
        case LIBUSB_TRANSFER_TYPE_INTERRUPT:
            result = libusb_interrupt_transfer(open.handle.get(), pipe_id, data, static_cast<int>(length),
                                               &moved, PIPE_TIMEOUT_MS);
            break;
        default: break;
    }
    note(result);
    // A time-out may still have moved part of the data.
    if (moved > 0) transferred = static_cast<std::size_t>(moved) > length ? length : static_cast<std::size_t>(moved);
    return usb_error_from_libusb(result);
}

UsbError LibusbRole::read_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<std::uint8_t> buffer,
                               std::size_t& transferred) {
    transferred = 0;
    const std::shared_ptr<Open> open = find(handle);
    if (open == nullptr || (pipe_id & LIBUSB_ENDPOINT_IN) == 0) return UsbError::other;
    return pipe_transfer(*open, pipe_id, buffer.data(), buffer.size(), transferred);
}

UsbError LibusbRole::write_pipe(UsbHandle handle, std::uint8_t pipe_id, std::span<const std::uint8_t> buffer,
                                std::size_t& transferred) {
    transferred = 0;
    const std::shared_ptr<Open> open = find(handle);
    if (open == nullptr || (pipe_id & LIBUSB_ENDPOINT_IN) != 0) return UsbError::other;
    // libusb takes a non-const pointer for both directions; an OUT transfer
    // only reads it.
    std::vector<std::uint8_t> copy(buffer.begin(), buffer.end());
    return pipe_transfer(*open, pipe_id, copy.data(), copy.size(), transferred);
}

bool LibusbRole::interface_settings(UsbHandle handle, std::uint8_t alternate, UsbInterfaceInfo& info) {
    const std::shared_ptr<Open> open = find(handle);
    if (open == nullptr || alternate >= open->interface().num_altsetting) return false;
    const libusb_interface_descriptor& setting = open->interface().altsetting[alternate];
    info.interface_number = setting.bInterfaceNumber;
    info.alternate_setting = setting.bAlternateSetting;
    info.num_endpoints = setting.bNumEndpoints;
    info.interface_class = setting.bInterfaceClass;
    info.interface_subclass = setting.bInterfaceSubClass;
    info.interface_protocol = setting.bInterfaceProtocol;
    return true;
}

bool LibusbRole::query_pipe(UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                            UsbPipeInfo& info) {
    const std::shared_ptr<Open> open = find(handle);
    if (open == nullptr || alternate >= open->interface().num_altsetting) return false;
    const libusb_interface_descriptor& setting = open->interface().altsetting[alternate];
    if (pipe_index >= setting.bNumEndpoints) return false;
    const libusb_endpoint_descriptor& endpoint = setting.endpoint[pipe_index];
    info.pipe_type = static_cast<std::uint8_t>(endpoint.bmAttributes & 3);
    info.pipe_id = endpoint.bEndpointAddress;
    info.max_packet_size = static_cast<std::uint16_t>(endpoint.wMaxPacketSize & 0x7FF);
    info.interval = endpoint.bInterval;
    return true;
}

bool LibusbRole::placement(UsbHandle handle, UsbPlacement& placement) {
    const std::shared_ptr<Open> open = find(handle);
    if (open == nullptr) return false;
    libusb_device* device = libusb_get_device(open->handle.get());
    placement.location = location_of(device);
    placement.enumeration = libusb_get_device_address(device);
    return true;
}

bool LibusbRole::serial_number(UsbHandle handle, std::string& serial) {
    const std::shared_ptr<Open> open = find(handle);
    if (open == nullptr) return false;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(libusb_get_device(open->handle.get()), &descriptor) != 0 ||
        descriptor.iSerialNumber == 0)
        return false;
    // The first language the device offers, then the string in it.
    std::array<unsigned char, 255> bytes{};
    const int languages = libusb_get_string_descriptor(open->handle.get(), 0, 0, bytes.data(),
                                                       static_cast<int>(bytes.size()));
    if (languages < 4) return false;
    const auto language = static_cast<std::uint16_t>(bytes[2] | (bytes[3] << 8));
    const int got = libusb_get_string_descriptor(open->handle.get(), descriptor.iSerialNumber, language,
                                                 bytes.data(), static_cast<int>(bytes.size()));
    if (got < 0) return false;
    const std::optional<std::string> text =
        usb_string_descriptor_text(std::span<const std::uint8_t>(bytes.data(), static_cast<std::size_t>(got)));
    if (!text) return false;
    serial = *text;
    return true;
}

}  // namespace platform::linux_backend
