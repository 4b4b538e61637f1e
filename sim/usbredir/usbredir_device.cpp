#include "sim/usbredir/usbredir_device.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <usbredirparser.h>

#include "platform/platform.h"
#include "sim/usbredir/usbredir_tables.h"
#include "usb/le.h"

namespace sim {
namespace {

constexpr const char* VERSION = "flash-tool-usbredir";
constexpr std::uint8_t HID_SET_REPORT = 0x09;
constexpr std::uint8_t DFU_DNLOAD = 0x01;
constexpr std::size_t DEVICE_DESCRIPTOR_SIZE = 18;

std::uint8_t redir_status(TransferStatus status) {
    switch (status) {
        case TransferStatus::ack: return usb_redir_success;
        case TransferStatus::stall: return usb_redir_stall;
        case TransferStatus::gone: break;
    }
    return usb_redir_ioerror;
}

std::uint8_t redir_speed(std::uint8_t speed) {
    switch (speed) {
        case platform::USB_SPEED_LOW: return usb_redir_speed_low;
        case platform::USB_SPEED_HIGH: return usb_redir_speed_high;
        default: return usb_redir_speed_full;
    }
}

}  // namespace

// The parser's C callbacks, each forwarding to the device behind `priv`.
struct UsbredirCallbacks {
    static UsbredirDevice& self(void* priv) { return *static_cast<UsbredirDevice*>(priv); }

    static void log(void* priv, int level, const char* message) {
        auto& device = self(priv);
        if (device.io_.log && level <= usbredirparser_warning) device.io_.log(message);
    }

    static int read(void* priv, std::uint8_t* data, int count) {
        auto& device = self(priv);
        const int result = device.io_.read(std::span(data, static_cast<std::size_t>(count)));
        if (result < 0) device.peer_gone_ = true;
        return result;
    }

    static int write(void* priv, std::uint8_t* data, int count) {
        auto& device = self(priv);
        const int result = device.io_.write(std::span<const std::uint8_t>(data, static_cast<std::size_t>(count)));
        if (result < 0) device.peer_gone_ = true;
        return result;
    }

    static void hello(void* priv, usb_redir_hello_header*) { self(priv).hello_ = true; }

    static void reset(void* priv) { ++self(priv).counts_.resets; }

    static void disconnect_ack(void* priv) { self(priv).awaiting_ack_ = false; }

    static void set_configuration(void* priv, std::uint64_t id, usb_redir_set_configuration_header* header) {
        auto& device = self(priv);
        usb_redir_configuration_status_header status{};
        status.status = header->configuration <= 1 ? usb_redir_success : usb_redir_stall;
        status.configuration = header->configuration;
        usbredirparser_send_configuration_status(device.parser_, id, &status);
    }

    static void get_configuration(void* priv, std::uint64_t id) {
        auto& device = self(priv);
        usb_redir_configuration_status_header status{};
        status.status = usb_redir_success;
        status.configuration = 1;
        usbredirparser_send_configuration_status(device.parser_, id, &status);
    }

    static void set_alt_setting(void* priv, std::uint64_t id, usb_redir_set_alt_setting_header* header) {
        auto& device = self(priv);
        usb_redir_alt_setting_status_header status{};
        status.status = header->alt == 0 ? usb_redir_success : usb_redir_stall;
        status.interface = header->interface;
        status.alt = header->alt;
        usbredirparser_send_alt_setting_status(device.parser_, id, &status);
    }

    static void get_alt_setting(void* priv, std::uint64_t id, usb_redir_get_alt_setting_header* header) {
        auto& device = self(priv);
        usb_redir_alt_setting_status_header status{};
        status.status = usb_redir_success;
        status.interface = header->interface;
        status.alt = 0;
        usbredirparser_send_alt_setting_status(device.parser_, id, &status);
    }

    // The models' interrupt IN endpoints never have data: receiving starts
    // and stops, and nothing arrives.
    static void start_interrupt(void* priv, std::uint64_t id, usb_redir_start_interrupt_receiving_header* header) {
        auto& device = self(priv);
        usb_redir_interrupt_receiving_status_header status{};
        status.status = device.connected_ ? usb_redir_success : usb_redir_ioerror;
        status.endpoint = header->endpoint;
        usbredirparser_send_interrupt_receiving_status(device.parser_, id, &status);
    }

    static void stop_interrupt(void* priv, std::uint64_t id, usb_redir_stop_interrupt_receiving_header* header) {
        auto& device = self(priv);
        usb_redir_interrupt_receiving_status_header status{};
        status.status = usb_redir_success;
        status.endpoint = header->endpoint;
        usbredirparser_send_interrupt_receiving_status(device.parser_, id, &status);
    }

    // No model has isochronous endpoints or bulk streams, and the peer was
    // not offered buffered bulk input: each request is refused.
    static void start_iso(void* priv, std::uint64_t id, usb_redir_start_iso_stream_header* header) {
        usb_redir_iso_stream_status_header status{};
        status.status = usb_redir_stall;
        status.endpoint = header->endpoint;
        usbredirparser_send_iso_stream_status(self(priv).parser_, id, &status);
    }

    static void stop_iso(void* priv, std::uint64_t id, usb_redir_stop_iso_stream_header* header) {
        usb_redir_iso_stream_status_header status{};
        status.status = usb_redir_success;
        status.endpoint = header->endpoint;
        usbredirparser_send_iso_stream_status(self(priv).parser_, id, &status);
    }

    static void alloc_streams(void* priv, std::uint64_t id, usb_redir_alloc_bulk_streams_header* header) {
        usb_redir_bulk_streams_status_header status{};
        status.endpoints = header->endpoints;
        status.status = usb_redir_stall;
        usbredirparser_send_bulk_streams_status(self(priv).parser_, id, &status);
    }

    static void free_streams(void* priv, std::uint64_t id, usb_redir_free_bulk_streams_header* header) {
        usb_redir_bulk_streams_status_header status{};
        status.endpoints = header->endpoints;
        status.status = usb_redir_success;
        usbredirparser_send_bulk_streams_status(self(priv).parser_, id, &status);
    }

    static void start_bulk_receiving(void* priv, std::uint64_t id, usb_redir_start_bulk_receiving_header* header) {
        usb_redir_bulk_receiving_status_header status{};
        status.stream_id = header->stream_id;
        status.endpoint = header->endpoint;
        status.status = usb_redir_stall;
        usbredirparser_send_bulk_receiving_status(self(priv).parser_, id, &status);
    }

    static void stop_bulk_receiving(void* priv, std::uint64_t id, usb_redir_stop_bulk_receiving_header* header) {
        usb_redir_bulk_receiving_status_header status{};
        status.stream_id = header->stream_id;
        status.endpoint = header->endpoint;
        status.status = usb_redir_success;
        usbredirparser_send_bulk_receiving_status(self(priv).parser_, id, &status);
    }

    static void iso_packet(void* priv, std::uint64_t, usb_redir_iso_packet_header*, std::uint8_t* data, int) {
        usbredirparser_free_packet_data(self(priv).parser_, data);
    }

    // Every request is answered before the next is read: there is never
    // anything left to cancel.
    static void cancel(void*, std::uint64_t) {}
    static void filter_reject(void*) {}
    static void filter_filter(void*, usbredirfilter_rule* rules, int) { std::free(rules); }

    static void interrupt_out(void* priv, std::uint64_t id, usb_redir_interrupt_packet_header* header,
                              std::uint8_t* data, int) {
        auto& device = self(priv);
        usbredirparser_free_packet_data(device.parser_, data);
        if (device.awaiting_ack_) return;
        usb_redir_interrupt_packet_header reply = *header;
        reply.status = usb_redir_stall;
        reply.length = 0;
        usbredirparser_send_interrupt_packet(device.parser_, id, &reply, nullptr, 0);
    }

    static void control(void* priv, std::uint64_t id, usb_redir_control_packet_header* header, std::uint8_t* data,
                        int data_length) {
        auto& device = self(priv);
        const SetupPacket setup{header->requesttype, header->request, header->value, header->index, header->length};
        std::vector<std::uint8_t> buffer;
        if (setup.device_to_host())
            buffer.resize(setup.length);
        else if (data != nullptr && data_length > 0)
            buffer.assign(data, data + std::min<int>(data_length, setup.length));
        usbredirparser_free_packet_data(device.parser_, data);
        if (device.awaiting_ack_) return;

        usb_redir_control_packet_header reply = *header;
        std::size_t transferred = 0;
        TransferStatus status = TransferStatus::gone;
        if (device.connected_) {
            device.count_control(setup);
            status = device.model_.control(device.clock_.now(), setup, buffer, transferred);
            transferred = std::min(transferred, buffer.size());
        }
        reply.status = redir_status(status);
        reply.length = static_cast<std::uint16_t>(transferred);
        const bool with_data = setup.device_to_host() && transferred > 0;
        usbredirparser_send_control_packet(device.parser_, id, &reply, with_data ? buffer.data() : nullptr,
                                           with_data ? static_cast<int>(transferred) : 0);
    }

    static void bulk(void* priv, std::uint64_t id, usb_redir_bulk_packet_header* header, std::uint8_t* data,
                     int data_length) {
        auto& device = self(priv);
        const bool in = (header->endpoint & 0x80) != 0;
        const std::size_t requested = header->length | (static_cast<std::size_t>(header->length_high) << 16);
        std::vector<std::uint8_t> buffer;
        if (in)
            buffer.resize(requested);
        else if (data != nullptr && data_length > 0)
            buffer.assign(data, data + data_length);
        usbredirparser_free_packet_data(device.parser_, data);
        if (device.awaiting_ack_) return;

        usb_redir_bulk_packet_header reply = *header;
        std::size_t transferred = 0;
        TransferStatus status = TransferStatus::gone;
        if (device.connected_) {
            ++device.counts_.bulk_transfers;
            status = device.model_.bulk(device.clock_.now(), header->endpoint, buffer, transferred);
            transferred = std::min(transferred, buffer.size());
        }
        reply.status = redir_status(status);
        reply.length = static_cast<std::uint16_t>(transferred);
        reply.length_high = static_cast<std::uint16_t>(transferred >> 16);
        const bool with_data = in && transferred > 0;
        usbredirparser_send_bulk_packet(device.parser_, id, &reply, with_data ? buffer.data() : nullptr,
                                        with_data ? static_cast<int>(transferred) : 0);
    }
};

UsbredirDevice::UsbredirDevice(UsbDeviceModel& model, Clock& clock, UsbredirIo io)
    : model_(model), clock_(clock), io_(std::move(io)), parser_(usbredirparser_create()) {
    parser_->priv = this;
    parser_->log_func = UsbredirCallbacks::log;
    parser_->read_func = UsbredirCallbacks::read;
    parser_->write_func = UsbredirCallbacks::write;
    parser_->hello_func = UsbredirCallbacks::hello;
    parser_->reset_func = UsbredirCallbacks::reset;
    parser_->device_disconnect_ack_func = UsbredirCallbacks::disconnect_ack;
    parser_->set_configuration_func = UsbredirCallbacks::set_configuration;
    parser_->get_configuration_func = UsbredirCallbacks::get_configuration;
    parser_->set_alt_setting_func = UsbredirCallbacks::set_alt_setting;
    parser_->get_alt_setting_func = UsbredirCallbacks::get_alt_setting;
    parser_->start_interrupt_receiving_func = UsbredirCallbacks::start_interrupt;
    parser_->stop_interrupt_receiving_func = UsbredirCallbacks::stop_interrupt;
    parser_->interrupt_packet_func = UsbredirCallbacks::interrupt_out;
    parser_->control_packet_func = UsbredirCallbacks::control;
    parser_->bulk_packet_func = UsbredirCallbacks::bulk;
    parser_->start_iso_stream_func = UsbredirCallbacks::start_iso;
    parser_->stop_iso_stream_func = UsbredirCallbacks::stop_iso;
    parser_->alloc_bulk_streams_func = UsbredirCallbacks::alloc_streams;
    parser_->free_bulk_streams_func = UsbredirCallbacks::free_streams;
    parser_->start_bulk_receiving_func = UsbredirCallbacks::start_bulk_receiving;
    parser_->stop_bulk_receiving_func = UsbredirCallbacks::stop_bulk_receiving;
    parser_->iso_packet_func = UsbredirCallbacks::iso_packet;
    parser_->cancel_data_packet_func = UsbredirCallbacks::cancel;
    parser_->filter_reject_func = UsbredirCallbacks::filter_reject;
    parser_->filter_filter_func = UsbredirCallbacks::filter_filter;

    std::uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
    for (int cap : {usb_redir_cap_connect_device_version, usb_redir_cap_device_disconnect_ack,
                    usb_redir_cap_ep_info_max_packet_size, usb_redir_cap_64bits_ids,
                    usb_redir_cap_32bits_bulk_length})
        usbredirparser_caps_set_cap(caps, cap);
    usbredirparser_init(parser_, VERSION, caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
}

UsbredirDevice::~UsbredirDevice() { usbredirparser_destroy(parser_); }

bool UsbredirDevice::wants_write() const { return usbredirparser_has_data_to_write(parser_) > 0; }

bool UsbredirDevice::pump(std::uint64_t now_ms) {
    if (now_ms > clock_.now()) clock_.advance(now_ms - clock_.now());
    if (!peer_gone_ && usbredirparser_do_read(parser_) == usbredirparser_read_io_error) peer_gone_ = true;
    if (!peer_gone_) follow_bus();
    if (!peer_gone_ && wants_write() && usbredirparser_do_write(parser_) == usbredirparser_write_io_error)
        peer_gone_ = true;
    return !peer_gone_;
}

void UsbredirDevice::follow_bus() {
    const std::uint64_t now = clock_.now();
    const bool present = model_.present(now);
    if (connected_ && (!present || model_.connection() != connection_)) disconnect();
    if (awaiting_ack_ && off_bus_since_ && now - *off_bus_since_ >= USBREDIR_DISCONNECT_ACK_MS)
        awaiting_ack_ = false;
    const bool rested = !off_bus_since_ || now - *off_bus_since_ >= USBREDIR_MIN_OFF_BUS_MS;
    if (!connected_ && present && hello_ && !awaiting_ack_ && rested) connect();
}

void UsbredirDevice::connect() {
    const std::vector<std::uint8_t> device = model_.device_descriptor();
    if (device.size() < DEVICE_DESCRIPTOR_SIZE) return;
    const std::span<const std::uint8_t> bytes(device);
    UsbredirTables tables = usbredir_tables(model_.configuration_descriptor(), bytes[7]);
    usbredirparser_send_interface_info(parser_, &tables.interfaces);
    usbredirparser_send_ep_info(parser_, &tables.endpoints);

    usb_redir_device_connect_header header{};
    header.speed = redir_speed(model_.speed());
    header.device_class = bytes[4];
    header.device_subclass = bytes[5];
    header.device_protocol = bytes[6];
    header.vendor_id = le16(bytes, 8);
    header.product_id = le16(bytes, 10);
    header.device_version_bcd = le16(bytes, 12);
    usbredirparser_send_device_connect(parser_, &header);
    connected_ = true;
    connection_ = model_.connection();
    ++counts_.connections;
}

void UsbredirDevice::disconnect() {
    usbredirparser_send_device_disconnect(parser_);
    connected_ = false;
    awaiting_ack_ = usbredirparser_peer_has_cap(parser_, usb_redir_cap_device_disconnect_ack) != 0;
    off_bus_since_ = clock_.now();
}

void UsbredirDevice::count_control(const SetupPacket& setup) {
    ++counts_.control_requests;
    if (setup.type() != 1 || setup.device_to_host()) return;
    if (setup.request == HID_SET_REPORT) ++counts_.set_reports;
    if (setup.request == DFU_DNLOAD) ++counts_.dfu_downloads;
}

}  // namespace sim
