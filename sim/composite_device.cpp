#include "sim/composite_device.h"

#include <algorithm>
#include <utility>

namespace sim {
namespace {

constexpr std::uint8_t REQUEST_GET_STATUS = 0x00;
constexpr std::uint8_t REQUEST_CLEAR_FEATURE = 0x01;
constexpr std::uint8_t REQUEST_SET_FEATURE = 0x03;
constexpr std::uint8_t REQUEST_GET_DESCRIPTOR = 0x06;
constexpr std::uint8_t REQUEST_GET_CONFIGURATION = 0x08;
constexpr std::uint8_t REQUEST_SET_CONFIGURATION = 0x09;
constexpr std::uint8_t REQUEST_GET_INTERFACE = 0x0A;
constexpr std::uint8_t REQUEST_SET_INTERFACE = 0x0B;

constexpr unsigned RECIPIENT_INTERFACE = 1;

TransferStatus reply(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> data,
                     std::size_t& transferred) {
    transferred = std::min(bytes.size(), data.size());
    std::copy_n(bytes.begin(), transferred, data.begin());
    return TransferStatus::ack;
}

}  // namespace

CompositeDevice::CompositeDevice(DeviceConfiguration configuration)
    : configuration_(std::move(configuration)) {
    attach_functions();
}

void CompositeDevice::configure(DeviceConfiguration configuration) {
    configuration_ = std::move(configuration);
    attach_functions();
}

void CompositeDevice::attach_functions() {
    for (const auto& function : configuration_.functions) function->on_attach(*this);
}

void CompositeDevice::reenumerate(std::uint64_t leave_ms, std::optional<std::uint64_t> back_ms,
                                  DeviceConfiguration next) {
    schedule_ = Schedule{leave_ms, back_ms, std::move(next)};
}

void CompositeDevice::unplug(std::uint64_t at_ms) { schedule_ = Schedule{at_ms, std::nullopt, std::nullopt}; }

void CompositeDevice::advance(std::uint64_t now_ms) {
    if (!schedule_ || now_ms < schedule_->leave_ms) return;
    on_bus_ = false;
    if (!schedule_->back_ms || now_ms < *schedule_->back_ms) return;
    std::optional<DeviceConfiguration> next = std::move(schedule_->next);
    schedule_.reset();
    if (next) {
        configuration_ = std::move(*next);
        attach_functions();
    }
    on_bus_ = true;
    ++connection_;
}

bool CompositeDevice::present(std::uint64_t now_ms) {
    advance(now_ms);
    return on_bus_;
}

std::vector<std::uint8_t> CompositeDevice::device_descriptor() {
    return make_device_descriptor(configuration_.identity);
}

std::vector<std::uint8_t> CompositeDevice::configuration_descriptor() {
    std::vector<std::uint8_t> body;
    const auto& functions = configuration_.functions;
    for (std::size_t i = 0; i < functions.size(); ++i)
        functions[i]->append_descriptors(static_cast<std::uint8_t>(i), body);
    return make_configuration_descriptor(body, static_cast<std::uint8_t>(functions.size()));
}

std::optional<std::vector<std::uint8_t>> CompositeDevice::string_descriptor(std::uint8_t index,
                                                                            std::uint16_t language) {
    const auto& identity = configuration_.identity;
    if (index == 0) return make_language_descriptor();
    if (language != LANGUAGE_EN_US) return std::nullopt;
    const std::string* text = nullptr;
    if (index == STRING_MANUFACTURER) text = &identity.manufacturer;
    if (index == STRING_PRODUCT) text = &identity.product;
    if (index == STRING_SERIAL) text = &identity.serial;
    if (text == nullptr || text->empty()) return std::nullopt;
    return make_string_descriptor(*text);
}

std::vector<std::uint8_t> CompositeDevice::hid_report_descriptor(std::uint8_t interface_number) {
    const auto& functions = configuration_.functions;
    if (interface_number >= functions.size()) return {};
    return functions[interface_number]->hid_report_descriptor();
}

TransferStatus CompositeDevice::refuse(std::uint64_t now_ms, const SetupPacket& setup,
                                       std::size_t& transferred) {
    transferred = 0;
    refused_.push_back({now_ms, setup});
    return TransferStatus::stall;
}

TransferStatus CompositeDevice::standard_request(const SetupPacket& setup, std::span<std::uint8_t> data,
                                                 std::size_t& transferred) {
    transferred = 0;
    static constexpr std::uint8_t zero_status[2] = {0, 0};
    static constexpr std::uint8_t configuration_value[1] = {1};
    static constexpr std::uint8_t alternate_zero[1] = {0};
    switch (setup.request) {
        case REQUEST_GET_STATUS: return reply(zero_status, data, transferred);
        case REQUEST_CLEAR_FEATURE:
        case REQUEST_SET_FEATURE: return TransferStatus::ack;
        case REQUEST_GET_CONFIGURATION: return reply(configuration_value, data, transferred);
        case REQUEST_SET_CONFIGURATION:
            return setup.value <= 1 ? TransferStatus::ack : TransferStatus::stall;
        case REQUEST_GET_INTERFACE: return reply(alternate_zero, data, transferred);
        case REQUEST_SET_INTERFACE:
            return setup.value == 0 ? TransferStatus::ack : TransferStatus::stall;
        case REQUEST_GET_DESCRIPTOR: {
            const std::uint8_t type = static_cast<std::uint8_t>(setup.value >> 8);
            const std::uint8_t index = static_cast<std::uint8_t>(setup.value);
            std::optional<std::vector<std::uint8_t>> bytes;
            if (setup.recipient() == RECIPIENT_INTERFACE) {
                if (type == DESC_HID_REPORT) bytes = hid_report_descriptor(static_cast<std::uint8_t>(setup.index));
                if (bytes && bytes->empty()) bytes.reset();
            } else if (type == DESC_DEVICE) {
                bytes = device_descriptor();
            } else if (type == DESC_CONFIGURATION && index == 0) {
                bytes = configuration_descriptor();
            } else if (type == DESC_STRING) {
                bytes = string_descriptor(index, setup.index);
            }
            if (!bytes) return TransferStatus::stall;
            return reply(*bytes, data, transferred);
        }
        default: return TransferStatus::stall;
    }
}

TransferStatus CompositeDevice::control(std::uint64_t now_ms, const SetupPacket& setup,
                                        std::span<std::uint8_t> data, std::size_t& transferred) {
    advance(now_ms);
    transferred = 0;
    if (!on_bus_) return TransferStatus::gone;
    TransferStatus status = TransferStatus::stall;
    if (setup.type() == 0) {
        status = standard_request(setup, data, transferred);
    } else if (setup.recipient() == RECIPIENT_INTERFACE) {
        const std::size_t interface_number = setup.index & 0xFF;
        if (interface_number < configuration_.functions.size())
            status = configuration_.functions[interface_number]->control(now_ms, setup, data, transferred);
    }
    if (status == TransferStatus::stall) return refuse(now_ms, setup, transferred);
    transferred = std::min(transferred, data.size());
    return status;
}

TransferStatus CompositeDevice::bulk(std::uint64_t now_ms, std::uint8_t endpoint,
                                     std::span<std::uint8_t> data, std::size_t& transferred) {
    advance(now_ms);
    transferred = 0;
    if (!on_bus_) return TransferStatus::gone;
    for (const auto& function : configuration_.functions) {
        if (!function->has_endpoint(endpoint)) continue;
        const TransferStatus status = function->transfer(now_ms, endpoint, data, transferred);
        transferred = std::min(transferred, data.size());
        return status;
    }
    return TransferStatus::stall;
}

}  // namespace sim
