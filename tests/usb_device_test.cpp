#include "native_sim_fixture.h"
#include "usb/usb_bulk_channel.h"
#include "usb/usb_device.h"
#include "usb/usbhid_device.h"

namespace {

class UsbDevice : public SimBusTest {};

// The product ID of the first listed device with `serial`, or 0.
std::uint16_t find_product_id(platform::Platform& os, serial_number serial) {
    const auto devices = usb_select(usb_list_devices(os), {serial, std::nullopt});
    return devices.empty() ? 0 : devices.front().product_id;
}

TEST_F(UsbDevice, CompositeDeviceWhoseInterfaceZeroIsHidOpensInTheSecondPass) {
    attach_touch();  // interface 0 HID, interface 1 DFU run-time
    usb_device_ptr device = usb_device_open(os, DEVICE_VENDOR_ID, ANY_ID, 0, std::nullopt);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->product_id, sim::TOUCH_PRODUCT_ID);
    EXPECT_EQ(device->vendor_id, DEVICE_VENDOR_ID);
    EXPECT_EQ(device->interface_number, 0);
    EXPECT_EQ(find_product_id(os, std::nullopt), sim::TOUCH_PRODUCT_ID);
}

TEST_F(UsbDevice, FindsNothingWithoutADevice) {
    EXPECT_EQ(find_product_id(os, std::nullopt), 0);
    EXPECT_FALSE(usb_device_open(os, ANY_ID, ANY_ID, 0, std::nullopt));
    EXPECT_FALSE(usbhid_device_open(os, ANY_ID, ANY_ID, std::nullopt));
}

TEST_F(UsbDevice, SerialNumberSelectsOneOfTwoControllers) {
    sim::TouchConfig first;
    first.serial = "AAA1";
    first.product_id = 0x0011;
    sim::TouchConfig second;
    second.serial = "BBB2";
    second.product_id = 0x0022;
    attach_touch(first);
    attach_touch(second);
    EXPECT_EQ(find_product_id(os, std::nullopt), 0x0011);
    EXPECT_EQ(find_product_id(os, std::string_view("BBB2")), 0x0022);
    EXPECT_EQ(find_product_id(os, std::string_view("AAA1")), 0x0011);
    EXPECT_EQ(find_product_id(os, std::string_view("BBB")), 0) << "serials compare whole";
    usbhid_device_ptr hid = usbhid_device_open(os, DEVICE_VENDOR_ID, ANY_ID, std::string_view("BBB2"));
    ASSERT_TRUE(hid);
    EXPECT_EQ(hid->product_id, 0x0022);
    EXPECT_FALSE(usbhid_device_open(os, DEVICE_VENDOR_ID, ANY_ID, std::string_view("CCC3")));
}

TEST_F(UsbDevice, HidOpenTakesOnlyTheVendorCollection) {
    // A keyboard-like HID interface first, then the vendor collection.
    class KeyboardHid : public ScriptedHidFunction {
    public:
        KeyboardHid() : ScriptedHidFunction(9) {}
        std::vector<std::uint8_t> hid_report_descriptor() const override {
            return {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0xC0};
        }
    };
    attach_device(0x0042, {std::make_shared<KeyboardHid>(), std::make_shared<ScriptedHidFunction>(65)});
    usbhid_device_ptr hid = usbhid_device_open(os, ANY_ID, ANY_ID, std::nullopt);
    ASSERT_TRUE(hid);
    EXPECT_EQ(hid->vendor_id, DEVICE_VENDOR_ID);
    EXPECT_EQ(hid->product_id, 0x0042);
    EXPECT_EQ(usbhid_device_feature_length(hid.get()), 65);
    std::vector<std::uint8_t> report(65, 0);
    report[0] = 0xFF;
    EXPECT_EQ(usbhid_device_set_feature(hid.get(), report), 65);
    EXPECT_EQ(usbhid_device_set_feature(hid.get(), std::span(report).first(64)), -1)
        << "a buffer shorter than the report is refused";
}

TEST_F(UsbDevice, NullHidDeviceFailsEveryOperation) {
    std::array<std::uint8_t, 8> report{};
    EXPECT_EQ(usbhid_device_feature_length(nullptr), -1);
    EXPECT_EQ(usbhid_device_get_feature(nullptr, report), -1);
    EXPECT_EQ(usbhid_device_set_feature(nullptr, report), -1);
}

TEST_F(UsbDevice, RestartedDeviceIsFoundAgainAndOldHandlesFail) {
    sim::TouchConfig config;
    config.restart_back_ms = 1000;
    auto touch = attach_touch(config);
    usbhid_device_ptr hid = usbhid_device_open(os, DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    ASSERT_TRUE(hid);
    touch->reenumerate(clock.now(), clock.now() + 1000, touch->run_time_configuration());
    clock.advance(10);
    EXPECT_EQ(find_product_id(os, std::nullopt), 0);
    std::vector<std::uint8_t> report(257, 0);
    report[0] = 0xFF;
    EXPECT_EQ(usbhid_device_get_feature(hid.get(), report), -1);
    clock.advance(1000);
    EXPECT_EQ(find_product_id(os, std::nullopt), sim::TOUCH_PRODUCT_ID);
    EXPECT_EQ(usbhid_device_get_feature(hid.get(), report), -1) << "a handle of the old connection";
}

TEST_F(UsbDevice, ControlRequestsCarryTheInterfaceAndFailWithZeroTransferred) {
    attach_touch();
    usb_device_ptr device = usb_device_open(os, DEVICE_VENDOR_ID, ANY_ID, 1, std::nullopt);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->interface_number, 1);
    std::array<std::uint8_t, 64> buffer{};
    int transferred = 99;
    // A request the DFU run-time interface does not know is stalled.
    EXPECT_EQ(usb_device_control_in(*device, 0x7F, 0, buffer, 6, transferred), -1);
    EXPECT_EQ(transferred, 0);
    EXPECT_EQ(device->last_error, platform::UsbError::general_failure);
    EXPECT_EQ(usb_device_control_in(*device, 3, 0, std::span(buffer).first(4), 6, transferred), -1)
        << "a buffer shorter than the request is refused";
}

TEST_F(UsbDevice, BulkChannelWithoutBulkPipesStillOpens) {
    attach_touch();
    usb_bulk_channel_ptr channel = usb_bulk_channel_open(os, DEVICE_VENDOR_ID, ANY_ID, 1, std::nullopt);
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->packet_size, 256);
    EXPECT_EQ(channel->in_pipe, 0);
    EXPECT_EQ(channel->out_pipe, 0);
}

TEST_F(UsbDevice, BulkChannelTakesTheFirstBulkPipeOfEachDirection) {
    // An interrupt pipe first, then two bulk pipes each way.
    class ManyPipes : public sim::UsbFunction {
    public:
        void append_descriptors(std::uint8_t number, std::vector<std::uint8_t>& out) const override {
            sim::append_interface_descriptor(out, number, 5, 0xFF, 0, 0);
            sim::append_endpoint_descriptor(out, 0x85, sim::ENDPOINT_INTERRUPT, 16, 10);
            sim::append_endpoint_descriptor(out, 0x02, sim::ENDPOINT_BULK, 64, 0);
            sim::append_endpoint_descriptor(out, 0x83, sim::ENDPOINT_BULK, 64, 0);
            sim::append_endpoint_descriptor(out, 0x04, sim::ENDPOINT_BULK, 64, 0);
            sim::append_endpoint_descriptor(out, 0x81, sim::ENDPOINT_BULK, 64, 0);
        }
        sim::TransferStatus control(std::uint64_t, const sim::SetupPacket&, std::span<std::uint8_t>,
                                    std::size_t& transferred) override {
            transferred = 0;
            return sim::TransferStatus::stall;
        }
    };
    attach_device(0x0042, {std::make_shared<ManyPipes>()});
    usb_bulk_channel_ptr channel = usb_bulk_channel_open(os, DEVICE_VENDOR_ID, ANY_ID, 0, std::nullopt);
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->in_pipe, 0x83);
    EXPECT_EQ(channel->out_pipe, 0x02);
}

}  // namespace

namespace {

// The rule every wait and every later open follows to recognise the run's
// device: the port first, the serial number where no port is known.
TEST(UsbSameDevice, PortFirstThenSerial) {
    const auto id = [](std::uint16_t product, std::optional<std::string> serial, std::string location) {
        usb_device_identity identity;
        identity.product_id = product;
        identity.serial = std::move(serial);
        identity.location = std::move(location);
        return identity;
    };
    const struct {
        const char* what;
        usb_device_identity device, candidate;
        bool same;
    } cases[] = {
        {"same port and serial", id(1, "TC1", "1-1"), id(1, "TC1", "1-1"), true},
        {"twin with the same serial on another port", id(1, "TC1", "1-1"), id(1, "TC1", "1-2"), false},
        {"another device plugged into the port", id(1, "TC1", "1-1"), id(1, "TC2", "1-1"), false},
        {"boot loader with another serial", id(1, "TC1", "1-1"), id(DFU_PRODUCT_ID, "BOOT", "1-1"), true},
        {"boot loader without serial", id(1, "TC1", "1-1"), id(DFU_PRODUCT_ID, std::nullopt, "1-1"), true},
        {"back from the boot loader", id(DFU_PRODUCT_ID, std::nullopt, "1-1"), id(1, "TC1", "1-1"), true},
        {"no port known: the serial", id(1, "TC1", ""), id(1, "TC1", "1-2"), true},
        {"no port known, another serial", id(1, "TC1", ""), id(1, "TC2", ""), false},
        {"neither port nor serial", id(1, std::nullopt, ""), id(1, std::nullopt, ""), false},
    };
    for (const auto& c : cases) EXPECT_EQ(usb_same_device(c.device, c.candidate), c.same) << c.what;
}

}  // namespace
