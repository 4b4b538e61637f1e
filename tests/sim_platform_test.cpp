#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "native/cmd_channel.h"
#include "sim/native_bulk_function.h"
#include "sim_fixture.h"
#include "usb/usb_device.h"
#include "usb/usbhid_device.h"

namespace {

using platform::UsbError;
using sim_test::SimBus;

std::shared_ptr<sim::CompositeDevice> bulk_device(std::uint16_t product_id, std::string serial) {
    sim::DeviceConfiguration config;
    config.identity.vendor_id = DEVICE_VENDOR_ID;
    config.identity.product_id = product_id;
    config.identity.serial = std::move(serial);
    config.functions.push_back(std::make_shared<sim::NativeBulkFunction>(std::make_shared<sim::NativeDevice>()));
    return std::make_shared<sim::CompositeDevice>(config);
}

std::vector<std::string> names(SimBus& bus) {
    std::vector<std::string> list;
    EXPECT_TRUE(bus.platform.usb_device_names(list));
    return list;
}

std::ptrdiff_t position(const std::vector<std::string>& list, const std::string& prefix) {
    const auto it = std::find_if(list.begin(), list.end(), [&](const std::string& n) { return n.rfind(prefix, 0) == 0; });
    return it == list.end() ? -1 : it - list.begin();
}

TEST(SimPlatformNames, CompositeAndSingleInterfaceDevices) {
    SimBus bus;
    bus.attach_touch();
    bus.platform.attach(bulk_device(0x800E, "BR42"));
    const auto list = names(bus);

    const std::string guid = "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    const auto hid_name = position(list, "HID#VID_2F5A&PID_0001&MI_00#");
    const auto mi00 = position(list, "USB#VID_2F5A&PID_0001&MI_00#");
    const auto mi01 = position(list, "USB#VID_2F5A&PID_0001&MI_01#");
    ASSERT_GE(hid_name, 0);
    ASSERT_GE(mi00, 0);
    ASSERT_GE(mi01, 0);
    // The HID class driver's name matches the same patterns and comes first.
    EXPECT_LT(hid_name, mi00);
    EXPECT_LT(mi00, mi01);
    EXPECT_TRUE(list[static_cast<std::size_t>(mi01)].ends_with(guid));
    // A single-interface device has no interface part; its instance is its serial.
    EXPECT_NE(std::find(list.begin(), list.end(), "USB#VID_2F5A&PID_800E#BR42" + guid), list.end());
    EXPECT_NE(std::find(list.begin(), list.end(), "COM1"), list.end());
    EXPECT_NE(std::find(list.begin(), list.end(), "C:"), list.end());
}

TEST(SimPlatformNames, OnlyPresentDevicesAreListed) {
    SimBus bus;
    auto touch = bus.attach_touch();
    EXPECT_GE(position(names(bus), "USB#VID_2F5A"), 0);
    touch->unplug(bus.clock.now());
    EXPECT_EQ(position(names(bus), "USB#VID_2F5A"), -1);
    EXPECT_EQ(position(names(bus), "HID#VID_2F5A"), -1);
}

TEST(SimPlatformOpen, OnlyWinUsbInterfacesOpen) {
    SimBus bus;
    bus.attach_touch();
    const auto list = names(bus);
    struct Case {
        std::string prefix;
        bool opens;
    };
    for (const Case& c : {Case{"USB#VID_2F5A&PID_0001&MI_00#", false}, Case{"USB#VID_2F5A&PID_0001&MI_01#", true},
                          Case{"HID#VID_2F5A&PID_0001&MI_00#", false}, Case{"COM1", false}}) {
        const auto at = position(list, c.prefix);
        ASSERT_GE(at, 0) << c.prefix;
        const std::string path = "\\\\?\\" + list[static_cast<std::size_t>(at)];
        const auto handle = bus.platform.usb_open(path);
        EXPECT_EQ(handle != 0, c.opens) << c.prefix;
        if (handle != 0) bus.platform.usb_close(handle);
    }
    EXPECT_EQ(bus.platform.usb_open("\\\\?\\USB#VID_2F5A&PID_0001&MI_05#nothing"), 0u);
}

TEST(SimPlatformOpen, DiscoveryFindsTheRunTimeDfuInterfaceInTheSecondPass) {
    SimBus bus;
    EXPECT_EQ(usb_device_open(bus.platform, DEVICE_VENDOR_ID, ANY_ID, 0, std::nullopt), nullptr);
    bus.attach_touch();
    auto device = usb_device_open(bus.platform, DEVICE_VENDOR_ID, ANY_ID, 0, std::nullopt);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->product_id, sim::TOUCH_PRODUCT_ID);
    platform::UsbInterfaceInfo info;
    ASSERT_TRUE(bus.platform.usb_interface_settings(device->handle.get(), 0, info));
    EXPECT_EQ(info.interface_number, 1);
    EXPECT_EQ(info.interface_class, 0xFE);
}

struct Opened {
    platform::UsbHandle usb = 0;
    platform::HidHandle hid = 0;
};

Opened open_both(SimBus& bus) {
    Opened opened;
    for (const auto& name : names(bus))
        if (name.rfind("USB#VID_2F5A&PID_0001&MI_01#", 0) == 0) opened.usb = bus.platform.usb_open(name);
    std::vector<std::string> paths;
    EXPECT_TRUE(bus.platform.hid_paths(paths));
    if (!paths.empty()) opened.hid = bus.platform.hid_open(paths.front());
    return opened;
}

// Every operation on a handle of an earlier enumeration fails, whether the
// device is still away or already back as a new connection.
TEST(SimPlatformHandles, FailAfterReenumeration) {
    for (const bool back_before_use : {false, true}) {
        SimBus bus;
        auto touch = bus.attach_touch();
        const Opened old = open_both(bus);
        ASSERT_NE(old.usb, 0u);
        ASSERT_NE(old.hid, 0u);
        const auto connection = touch->connection();
        touch->reenumerate(bus.clock.now() + 10, bus.clock.now() + 500, touch->run_time_configuration());
        bus.platform.sleep_ms(back_before_use ? 600 : 20);

        std::array<std::uint8_t, 18> buffer{};
        std::size_t moved = 0;
        const std::uint8_t setup[8] = {0xA1, 0x03, 0, 0, 1, 0, 6, 0};  // DFU_GETSTATUS
        EXPECT_EQ(bus.platform.usb_control_transfer(old.usb, setup, buffer, moved), UsbError::device_gone);
        EXPECT_FALSE(bus.platform.usb_get_descriptor(old.usb, 1, 0, 0, buffer, moved));
        std::string serial;
        EXPECT_FALSE(bus.platform.usb_serial_number(old.usb, serial));
        platform::HidAttributes attributes;
        EXPECT_FALSE(bus.platform.hid_attributes(old.hid, attributes));
        std::array<std::uint8_t, 257> report{0xFF};
        EXPECT_FALSE(bus.platform.hid_get_feature(old.hid, report));

        if (back_before_use) {
            EXPECT_EQ(touch->connection(), connection + 1);
            const Opened fresh = open_both(bus);
            EXPECT_TRUE(bus.platform.usb_get_descriptor(fresh.usb, 1, 0, 0, buffer, moved));
            EXPECT_TRUE(bus.platform.hid_attributes(fresh.hid, attributes));
        }
    }
}

TEST(SimPlatformHandles, FailAfterDetach) {
    SimBus bus;
    auto touch = bus.attach_touch();
    const Opened opened = open_both(bus);
    bus.platform.detach(touch);
    std::array<std::uint8_t, 8> buffer{};
    std::size_t moved = 0;
    const std::uint8_t setup[8] = {0x80, 0x06, 0, 1, 0, 0, 8, 0};
    EXPECT_EQ(bus.platform.usb_control_transfer(opened.usb, setup, buffer, moved), UsbError::device_gone);
    platform::HidCaps caps;
    EXPECT_FALSE(bus.platform.hid_caps(opened.hid, caps));
}

TEST(SimPlatformUsb, DescriptorsAndSerial) {
    SimBus bus;
    sim::TouchConfig config;
    config.serial = "SN-77";
    config.release = 0x0213;
    bus.attach_touch(config);
    const auto usb = open_both(bus).usb;

    std::array<std::uint8_t, 8> shortened{};
    std::size_t moved = 0;
    ASSERT_TRUE(bus.platform.usb_get_descriptor(usb, 1, 0, 0, shortened, moved));
    EXPECT_EQ(moved, 8u);  // truncated to the buffer
    std::array<std::uint8_t, 256> full{};
    ASSERT_TRUE(bus.platform.usb_get_descriptor(usb, 1, 0, 0, full, moved));
    ASSERT_EQ(moved, 18u);
    EXPECT_EQ(full[12] | (full[13] << 8), 0x0213);
    EXPECT_FALSE(bus.platform.usb_get_descriptor(usb, 3, 7, 0x0409, full, moved));  // no such string

    std::string serial;
    ASSERT_TRUE(bus.platform.usb_serial_number(usb, serial));
    EXPECT_EQ(serial, "SN-77");
}

TEST(SimPlatformUsb, ControlTransferErrors) {
    SimBus bus;
    auto touch = bus.attach_touch();
    const auto usb = open_both(bus).usb;
    std::array<std::uint8_t, 64> buffer{};
    std::size_t moved = 99;
    // A vendor request the DFU run-time interface does not know stalls.
    const std::uint8_t getstatus[8] = {0xC1, 0x03, 0, 0, 1, 0, 6, 0};
    EXPECT_EQ(bus.platform.usb_control_transfer(usb, getstatus, buffer, moved), UsbError::general_failure);
    EXPECT_EQ(moved, 0u);
    ASSERT_EQ(touch->refused_requests().size(), 1u);
    EXPECT_EQ(touch->refused_requests()[0].setup.request, 0x03);
    // A buffer shorter than wLength is refused before reaching the device.
    const std::uint8_t too_long[8] = {0xA1, 0x03, 0, 0, 1, 0, 65, 0};
    EXPECT_EQ(bus.platform.usb_control_transfer(usb, too_long, buffer, moved), UsbError::other);
    EXPECT_EQ(touch->refused_requests().size(), 1u);
    EXPECT_EQ(bus.platform.usb_control_transfer(12345, getstatus, buffer, moved), UsbError::other);
}

TEST(SimPlatformUsb, InterfaceSettingsAndPipes) {
    SimBus bus;
    bus.platform.attach(bulk_device(0x800E, "BR1"));
    auto device = usb_device_open(bus.platform, DEVICE_VENDOR_ID, 0x800E, 0, std::nullopt);
    ASSERT_NE(device, nullptr);
    const auto handle = device->handle.get();
    platform::UsbInterfaceInfo info;
    ASSERT_TRUE(bus.platform.usb_interface_settings(handle, 0, info));
    EXPECT_EQ(info.num_endpoints, 2);
    EXPECT_EQ(info.interface_class, 0xFF);
    EXPECT_FALSE(bus.platform.usb_interface_settings(handle, 1, info));
    platform::UsbPipeInfo pipe;
    ASSERT_TRUE(bus.platform.usb_query_pipe(handle, 0, 0, pipe));
    EXPECT_EQ(pipe.pipe_type, platform::USB_PIPE_BULK);
    EXPECT_EQ(pipe.pipe_id, 0x81);
    EXPECT_EQ(pipe.max_packet_size, 64);
    ASSERT_TRUE(bus.platform.usb_query_pipe(handle, 0, 1, pipe));
    EXPECT_EQ(pipe.pipe_id, 0x01);
    EXPECT_FALSE(bus.platform.usb_query_pipe(handle, 0, 2, pipe));

    // Pipes must belong to the interface and go the right way.
    std::array<std::uint8_t, 4> bytes{'K', 'X', 'P', 'G'};
    std::size_t moved = 0;
    EXPECT_EQ(bus.platform.usb_write_pipe(handle, 0x81, bytes, moved), UsbError::other);
    EXPECT_EQ(bus.platform.usb_read_pipe(handle, 0x01, bytes, moved), UsbError::other);
    EXPECT_EQ(bus.platform.usb_write_pipe(handle, 0x02, bytes, moved), UsbError::other);
}

TEST(SimPlatformHid, PathsAttributesAndCaps) {
    SimBus bus;
    sim::TouchConfig config;
    config.product_id = 0x0042;
    config.release = 0x0305;
    bus.attach_touch(config);
    std::vector<std::string> paths;
    ASSERT_TRUE(bus.platform.hid_paths(paths));
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0].rfind("\\\\?\\hid#vid_2f5a&pid_0042&mi_00#", 0), 0u) << paths[0];
    EXPECT_TRUE(paths[0].ends_with("#{4d1e55b2-f16f-11cf-88cb-001111000030}"));

    const auto hid = bus.platform.hid_open(paths[0]);
    ASSERT_NE(hid, 0u);
    platform::HidAttributes attributes;
    ASSERT_TRUE(bus.platform.hid_attributes(hid, attributes));
    EXPECT_EQ(attributes.vendor_id, DEVICE_VENDOR_ID);
    EXPECT_EQ(attributes.product_id, 0x0042);
    EXPECT_EQ(attributes.version, 0x0305);
    platform::HidCaps caps;
    ASSERT_TRUE(bus.platform.hid_caps(hid, caps));
    EXPECT_EQ(caps.usage_page, 0xFF01);
    EXPECT_EQ(caps.usage, 0x00F1);
    EXPECT_EQ(caps.feature_report_length, 257);
    std::string serial;
    ASSERT_TRUE(bus.platform.hid_serial_number(hid, serial));
    EXPECT_EQ(serial, "TC0001");
    EXPECT_EQ(bus.platform.hid_open("\\\\?\\hid#vid_2f5a&pid_0042&mi_07#x"), 0u);
}

TEST(SimPlatformHid, FeatureReportsNeedTheWholeReportAndAKnownId) {
    SimBus bus;
    auto touch = bus.attach_touch();
    const auto hid = open_both(bus).hid;
    std::vector<std::uint8_t> report(257, 0);
    report[0] = 0xFF;
    report[1] = sim::NATIVE_IDENTIFY;
    EXPECT_TRUE(bus.platform.hid_set_feature(hid, report));
    EXPECT_FALSE(bus.platform.hid_set_feature(hid, std::span(report).first(256)));  // short buffer
    report[0] = 0x01;
    EXPECT_FALSE(bus.platform.hid_set_feature(hid, report));  // no such feature report
    EXPECT_FALSE(bus.platform.hid_get_feature(hid, report));
    EXPECT_EQ(touch->native().record().sets, 1u);
}

// A feature report travels from usbhid_device through the simulated host as
// GET_REPORT/SET_REPORT to the touch model and back.
TEST(SimPlatformHid, FeatureRoundTripThroughTheHost) {
    SimBus bus;
    sim::TouchConfig config;
    config.native.identify_text = "round trip";
    auto touch = bus.attach_touch(config);
    auto device = usbhid_device_open(bus.platform, DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->product_id, sim::TOUCH_PRODUCT_ID);
    ASSERT_EQ(usbhid_device_feature_length(device.get()), 257);

    std::vector<std::uint8_t> report(257, 0);
    report[0] = 0xFF;
    report[1] = sim::NATIVE_IDENTIFY;
    ASSERT_EQ(usbhid_device_set_feature(device.get(), report), 257);
    std::fill(report.begin(), report.end(), 0);
    report[0] = 0xFF;
    ASSERT_EQ(usbhid_device_get_feature(device.get(), report), 257);
    EXPECT_EQ(report[0], 0xFF);
    EXPECT_EQ(report[1], sim::NATIVE_IDENTIFY);
    EXPECT_EQ(report[2], 0);  // status
    const std::size_t length = report[3] | (report[4] << 8);
    ASSERT_EQ(length, 4u + 1u + std::string("round trip").size() + 1u);
    EXPECT_EQ(report[5] | (report[6] << 8) | (report[7] << 16) | (std::uint32_t{report[8]} << 24),
              sim::NATIVE_IDENTIFY_MAGIC);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&report[10])), "round trip");
    EXPECT_EQ(touch->native().record().commands, std::vector<std::uint8_t>{sim::NATIVE_IDENTIFY});
}

TEST(SimPlatformTime, SleepAdvancesTheVirtualClock) {
    SimBus bus;
    EXPECT_EQ(bus.platform.now_ms(), 0u);
    bus.platform.sleep_ms(60'000);
    bus.platform.sleep_ms(5);
    EXPECT_EQ(bus.platform.now_ms(), 60'005u);
    bus.platform.console_clear_quick_edit();
    EXPECT_EQ(bus.platform.quick_edit_clears(), 1u);
}

}  // namespace
