// The usbredir device server against an in-process usbredir peer playing the
// virtual machine's side: what the peer learns of the device, how requests
// are answered, and how the device's leaving and returning reach the peer.
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <usbredirparser.h>

#include "sim/composite_device.h"
#include "sim/device_registry.h"
#include "sim/usb_descriptors.h"
#include "sim/usbredir/usbredir_device.h"
#include "sim/usbredir/usbredir_tables.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct ControlReply {
    std::uint8_t status = 0xEE;
    Bytes data;
};

// The machine's side of the link, with byte queues for both directions.
class Peer {
public:
    Peer() : parser_(usbredirparser_create()) {
        parser_->priv = this;
        parser_->log_func = [](void*, int, const char*) {};
        parser_->hello_func = [](void*, usb_redir_hello_header*) {};
        parser_->read_func = [](void* priv, std::uint8_t* data, int count) {
            auto& self = *static_cast<Peer*>(priv);
            int n = 0;
            while (n < count && !self.to_peer.empty()) {
                data[n++] = self.to_peer.front();
                self.to_peer.pop_front();
            }
            return n;
        };
        parser_->write_func = [](void* priv, std::uint8_t* data, int count) {
            static_cast<Peer*>(priv)->to_device.insert(static_cast<Peer*>(priv)->to_device.end(), data, data + count);
            return count;
        };
        parser_->interface_info_func = [](void* priv, usb_redir_interface_info_header* info) {
            static_cast<Peer*>(priv)->interfaces = *info;
        };
        parser_->ep_info_func = [](void* priv, usb_redir_ep_info_header* info) {
            static_cast<Peer*>(priv)->endpoints = *info;
        };
        parser_->device_connect_func = [](void* priv, usb_redir_device_connect_header* header) {
            auto& self = *static_cast<Peer*>(priv);
            self.connect = *header;
            ++self.connects;
        };
        // The parser acknowledges a disconnect by itself.
        parser_->device_disconnect_func = [](void* priv) { ++static_cast<Peer*>(priv)->disconnects; };
        parser_->control_packet_func = [](void* priv, std::uint64_t id, usb_redir_control_packet_header* header,
                                          std::uint8_t* data, int length) {
            auto& self = *static_cast<Peer*>(priv);
            self.controls[id] = {header->status, Bytes(data, data + length)};
            usbredirparser_free_packet_data(self.parser_, data);
        };
        std::uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
        for (int cap : {usb_redir_cap_connect_device_version, usb_redir_cap_device_disconnect_ack,
                        usb_redir_cap_ep_info_max_packet_size, usb_redir_cap_64bits_ids})
            usbredirparser_caps_set_cap(caps, cap);
        usbredirparser_init(parser_, "peer", caps, USB_REDIR_CAPS_SIZE, 0);
    }
    ~Peer() { usbredirparser_destroy(parser_); }

    sim::UsbredirIo io() {
        sim::UsbredirIo io;
        io.read = [this](std::span<std::uint8_t> data) {
            std::size_t n = 0;
            while (n < data.size() && !to_device.empty()) {
                data[n++] = to_device.front();
                to_device.pop_front();
            }
            return static_cast<int>(n);
        };
        io.write = [this](std::span<const std::uint8_t> data) {
            to_peer.insert(to_peer.end(), data.begin(), data.end());
            return static_cast<int>(data.size());
        };
        return io;
    }

    void exchange(sim::UsbredirDevice& device, std::uint64_t now_ms) {
        for (int round = 0; round < 4; ++round) {
            usbredirparser_do_write(parser_);
            device.pump(now_ms);
            usbredirparser_do_read(parser_);
        }
    }

    void control(std::uint64_t id, std::uint8_t request_type, std::uint8_t request, std::uint16_t value,
                 std::uint16_t index, std::uint16_t length, Bytes out = {}) {
        usb_redir_control_packet_header header{};
        header.endpoint = (request_type & 0x80) ? 0x80 : 0x00;
        header.requesttype = request_type;
        header.request = request;
        header.value = value;
        header.index = index;
        header.length = length;
        usbredirparser_send_control_packet(parser_, id, &header, out.empty() ? nullptr : out.data(),
                                           static_cast<int>(out.size()));
    }

    std::deque<std::uint8_t> to_peer, to_device;
    usb_redir_interface_info_header interfaces{};
    usb_redir_ep_info_header endpoints{};
    usb_redir_device_connect_header connect{};
    int connects = 0;
    int disconnects = 0;
    std::map<std::uint64_t, ControlReply> controls;

    usbredirparser* parser_;
};

struct Touch {
    sim::Clock clock;
    std::shared_ptr<sim::UsbDeviceModel> model = sim::find_device_kind("touch")->make(sim::SimConfig{}, clock).front();
    sim::CompositeDevice& composite() { return dynamic_cast<sim::CompositeDevice&>(*model); }
};

TEST(UsbredirDevice, ConnectsWithTheTouchControllersTables) {
    Touch touch;
    Peer peer;
    sim::UsbredirDevice device(*touch.model, touch.clock, peer.io());
    peer.exchange(device, 0);

    ASSERT_EQ(peer.connects, 1);
    EXPECT_EQ(peer.connect.vendor_id, 0x2F5A);
    EXPECT_EQ(peer.connect.product_id, 0x0001);
    EXPECT_EQ(peer.connect.device_version_bcd, 0x0100);
    EXPECT_EQ(peer.connect.speed, usb_redir_speed_full);
    ASSERT_EQ(peer.interfaces.interface_count, 2u);
    EXPECT_EQ(peer.interfaces.interface_class[0], 0x03);  // HID
    EXPECT_EQ(peer.interfaces.interface_class[1], 0xFE);  // application specific: DFU
    const int interrupt_in = sim::usbredir_endpoint_index(0x81);
    EXPECT_EQ(peer.endpoints.type[interrupt_in], usb_redir_type_interrupt);
    EXPECT_EQ(peer.endpoints.max_packet_size[interrupt_in], 64);
    EXPECT_EQ(peer.endpoints.type[0], usb_redir_type_control);
    EXPECT_EQ(peer.endpoints.type[1], usb_redir_type_invalid);
    EXPECT_EQ(device.counts().connections, 1u);
}

TEST(UsbredirDevice, AnswersControlRequestsFromTheModel) {
    struct Case {
        const char* what;
        std::uint8_t request_type, request;
        std::uint16_t value, index, length;
        std::uint8_t status;
        std::size_t reply_length;
    };
    const Case cases[] = {
        {"device descriptor", 0x80, 0x06, 0x0100, 0, 64, usb_redir_success, 18},
        {"device descriptor, first 8 bytes", 0x80, 0x06, 0x0100, 0, 8, usb_redir_success, 8},
        {"device qualifier of a full-speed device", 0x80, 0x06, 0x0600, 0, 10, usb_redir_stall, 0},
        {"serial string", 0x80, 0x06, 0x0303, 0x0409, 255, usb_redir_success, 14},
        {"HID report descriptor", 0x81, 0x06, 0x2200, 0, 255, usb_redir_success,
         sim::native_hid_report_descriptor().size()},
        {"HID SET_IDLE", 0x21, 0x0A, 0, 0, 0, usb_redir_success, 0},
        {"GET_REPORT without a command", 0xA1, 0x01, 0x03FF, 0, 257, usb_redir_stall, 0},
        {"vendor request nobody knows", 0x40, 0x33, 0, 0, 0, usb_redir_stall, 0},
    };
    Touch touch;
    Peer peer;
    sim::UsbredirDevice device(*touch.model, touch.clock, peer.io());
    peer.exchange(device, 0);
    std::uint64_t id = 1;
    for (const Case& c : cases) peer.control(id++, c.request_type, c.request, c.value, c.index, c.length);
    peer.exchange(device, 1);

    id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(peer.controls.count(id));
        EXPECT_EQ(peer.controls[id].status, c.status);
        EXPECT_EQ(peer.controls[id].data.size(), c.reply_length);
        ++id;
    }
    EXPECT_EQ(peer.controls[1].data[0], 18);  // bLength of the device descriptor
}

TEST(UsbredirDevice, CountsWhatTheHostSetAndDownloaded) {
    Touch touch;
    Peer peer;
    sim::UsbredirDevice device(*touch.model, touch.clock, peer.io());
    peer.exchange(device, 0);
    Bytes report(257, 0);
    report[0] = 0xFF;
    peer.control(1, 0x21, 0x09, 0x03FF, 0, 257, report);     // SET_REPORT
    peer.control(2, 0x21, 0x01, 0, 1, 4, Bytes{1, 2, 3, 4});  // DNLOAD to the run-time interface
    peer.exchange(device, 1);
    EXPECT_EQ(device.counts().set_reports, 1u);
    EXPECT_EQ(device.counts().dfu_downloads, 1u);
    EXPECT_EQ(device.counts().control_requests, 2u);
}

TEST(UsbredirDevice, FollowsTheDeviceOffAndBackOnTheBus) {
    Touch touch;
    Peer peer;
    sim::UsbredirDevice device(*touch.model, touch.clock, peer.io());
    peer.exchange(device, 0);
    touch.composite().reenumerate(10, 12, touch.composite().configuration());

    peer.exchange(device, 11);
    EXPECT_EQ(peer.disconnects, 1);
    EXPECT_FALSE(device.connected());
    // Back on the bus at 12, but the peer sees it off for the minimum time.
    peer.exchange(device, 11 + sim::USBREDIR_MIN_OFF_BUS_MS - 1);
    EXPECT_EQ(peer.connects, 1);
    peer.exchange(device, 11 + sim::USBREDIR_MIN_OFF_BUS_MS);
    EXPECT_EQ(peer.connects, 2);
    EXPECT_EQ(device.counts().connections, 2u);
}

TEST(UsbredirDevice, RequestsWhileTheDeviceIsAwayAreDroppedThenFail) {
    Touch touch;
    Peer peer;
    sim::UsbredirDevice device(*touch.model, touch.clock, peer.io());
    peer.exchange(device, 0);
    touch.composite().unplug(5);
    device.pump(5);  // the disconnect waits unread on the peer's side

    // Sent before the peer saw the disconnect: it belongs to the old
    // connection and gets no answer.
    peer.control(1, 0x80, 0x06, 0x0100, 0, 18);
    usbredirparser_do_write(peer.parser_);
    device.pump(6);
    peer.exchange(device, 7);
    EXPECT_EQ(peer.disconnects, 1);
    EXPECT_EQ(peer.controls.count(1), 0u);

    // After the acknowledgement, requests fail as for a device not there.
    peer.control(2, 0x80, 0x06, 0x0100, 0, 18);
    peer.exchange(device, 8);
    ASSERT_EQ(peer.controls.count(2), 1u);
    EXPECT_EQ(peer.controls[2].status, usb_redir_ioerror);
    EXPECT_EQ(peer.connects, 1);
}

TEST(UsbredirTables, TakesSettingZeroAndStopsAtABrokenDescriptor) {
    Bytes body;
    sim::append_interface_descriptor(body, 0, 1, 0x03, 0, 0);
    sim::append_endpoint_descriptor(body, 0x81, 0x03, 64, 10);
    sim::append_interface_descriptor(body, 1, 2, 0xFF, 0, 0);
    sim::append_endpoint_descriptor(body, 0x02, 0x02, 64, 0);
    sim::append_endpoint_descriptor(body, 0x83, 0x02, 512, 0);
    Bytes alternate;
    sim::append_interface_descriptor(alternate, 1, 1, 0xFF, 0, 0);
    alternate[3] = 1;  // bAlternateSetting
    sim::append_endpoint_descriptor(alternate, 0x04, 0x02, 64, 0);
    body.insert(body.end(), alternate.begin(), alternate.end());
    Bytes configuration = sim::make_configuration_descriptor(body, 2);

    const auto tables = sim::usbredir_tables(configuration, 64);
    EXPECT_EQ(tables.interfaces.interface_count, 2u);
    EXPECT_EQ(tables.interfaces.interface_class[1], 0xFF);
    EXPECT_EQ(tables.endpoints.type[sim::usbredir_endpoint_index(0x02)], usb_redir_type_bulk);
    EXPECT_EQ(tables.endpoints.interface[sim::usbredir_endpoint_index(0x83)], 1);
    EXPECT_EQ(tables.endpoints.max_packet_size[sim::usbredir_endpoint_index(0x83)], 512);
    EXPECT_EQ(tables.endpoints.type[sim::usbredir_endpoint_index(0x04)], usb_redir_type_invalid);

    // The same configuration cut inside the bulk OUT endpoint descriptor.
    const std::size_t cut = 9 + 9 + 7 + 9 + 3;
    const auto truncated = sim::usbredir_tables(std::span(configuration).first(cut), 64);
    EXPECT_EQ(truncated.interfaces.interface_count, 2u);
    EXPECT_EQ(truncated.endpoints.type[sim::usbredir_endpoint_index(0x02)], usb_redir_type_invalid);
    EXPECT_EQ(truncated.endpoints.type[sim::usbredir_endpoint_index(0x81)], usb_redir_type_interrupt);
}

}  // namespace
