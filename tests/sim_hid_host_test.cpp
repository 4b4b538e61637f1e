#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/composite_device.h"
#include "sim/usb_descriptors.h"
#include "sim_fixture.h"

namespace {

// A HID function with any report descriptor; it answers every GET_REPORT
// with a fixed pattern and records the setup packets and data it saw.
class ScriptedHid : public sim::UsbFunction {
public:
    explicit ScriptedHid(std::vector<std::uint8_t> report_descriptor) : descriptor_(std::move(report_descriptor)) {}

    void append_descriptors(std::uint8_t number, std::vector<std::uint8_t>& out) const override {
        sim::append_interface_descriptor(out, number, 1, 0x03, 0, 0);
        sim::append_hid_descriptor(out, static_cast<std::uint16_t>(descriptor_.size()));
        sim::append_endpoint_descriptor(out, 0x83, sim::ENDPOINT_INTERRUPT, 8, 10);
    }
    std::vector<std::uint8_t> hid_report_descriptor() const override { return descriptor_; }
    sim::TransferStatus control(std::uint64_t, const sim::SetupPacket& setup, std::span<std::uint8_t> data,
                                std::size_t& transferred) override {
        setups.push_back(setup);
        if (setup.device_to_host()) {
            for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
        } else {
            sent.assign(data.begin(), data.end());
        }
        transferred = data.size();
        return sim::TransferStatus::ack;
    }

    std::vector<sim::SetupPacket> setups;
    std::vector<std::uint8_t> sent;

private:
    std::vector<std::uint8_t> descriptor_;
};

// Two top-level collections with report IDs: a keyboard-like input report
// (ID 1) and a vendor collection 0xFF01/0xF1 with a 7-byte feature report (ID 5).
const std::vector<std::uint8_t> TWO_COLLECTIONS = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0xC0,
    0x06, 0x01, 0xFF, 0x09, 0xF1, 0xA1, 0x01, 0x85, 0x05, 0x75, 0x08, 0x95, 0x07, 0xB1, 0x02, 0xC0,
};

// One vendor collection without report IDs: a 4-byte feature report.
const std::vector<std::uint8_t> NO_REPORT_IDS = {
    0x06, 0x01, 0xFF, 0x09, 0xF1, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x04, 0xB1, 0x02, 0xC0,
};

struct Rig {
    sim_test::SimBus bus;
    std::shared_ptr<ScriptedHid> hid;

    explicit Rig(std::vector<std::uint8_t> descriptor, bool with_second_interface = false) {
        hid = std::make_shared<ScriptedHid>(std::move(descriptor));
        sim::DeviceConfiguration config;
        config.identity.vendor_id = 0x1234;
        config.identity.product_id = 0x5678;
        config.functions.push_back(hid);
        if (with_second_interface) config.functions.push_back(std::make_shared<ScriptedHid>(NO_REPORT_IDS));
        bus.platform.attach(std::make_shared<sim::CompositeDevice>(config));
    }
    std::vector<std::string> paths() {
        std::vector<std::string> list;
        bus.platform.hid_paths(list);
        return list;
    }
};

TEST(SimHidHost, OnePathPerTopLevelCollection) {
    Rig rig(TWO_COLLECTIONS);
    const auto paths = rig.paths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_NE(paths[0].find("&col01#"), std::string::npos) << paths[0];
    EXPECT_NE(paths[1].find("&col02#"), std::string::npos) << paths[1];
    EXPECT_EQ(paths[0].find("&mi_"), std::string::npos);  // single interface
    struct Expect {
        std::uint16_t page, usage, input, feature;
    };
    const Expect expected[] = {{0x0001, 0x0006, 9, 0}, {0xFF01, 0x00F1, 0, 8}};
    for (std::size_t i = 0; i < 2; ++i) {
        const auto handle = rig.bus.platform.hid_open(paths[i]);
        platform::HidCaps caps;
        ASSERT_TRUE(rig.bus.platform.hid_caps(handle, caps));
        EXPECT_EQ(caps.usage_page, expected[i].page) << i;
        EXPECT_EQ(caps.usage, expected[i].usage) << i;
        EXPECT_EQ(caps.input_report_length, expected[i].input) << i;
        EXPECT_EQ(caps.feature_report_length, expected[i].feature) << i;
        rig.bus.platform.hid_close(handle);
    }
}

TEST(SimHidHost, EveryHidInterfaceOfACompositeDeviceIsListed) {
    Rig rig(TWO_COLLECTIONS, true);
    const auto paths = rig.paths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_NE(paths[0].find("&mi_00&col01#"), std::string::npos) << paths[0];
    EXPECT_NE(paths[2].find("&mi_01#"), std::string::npos) << paths[2];
}

TEST(SimHidHost, AnUnparsableReportDescriptorGivesNoPath) {
    Rig rig({0x06, 0x01, 0xFF, 0xA1, 0x01});  // collection never closed
    EXPECT_TRUE(rig.paths().empty());
}

// The feature report's setup packet and data stage follow the descriptor:
// with report IDs the ID is wValue's low byte and byte 0 of the data; without
// them wValue's low byte is 0 and the data stage lacks the ID byte.
TEST(SimHidHost, FeatureRequestsFollowTheReportIds) {
    struct Case {
        std::vector<std::uint8_t> descriptor;
        std::size_t path;
        std::vector<std::uint8_t> report;  // what the host sets
        std::uint16_t value;
        std::uint16_t length;
        std::vector<std::uint8_t> sent;   // data stage the device got
        std::vector<std::uint8_t> got;    // report the host reads back
    };
    const Case cases[] = {
        {TWO_COLLECTIONS, 1, {5, 1, 2, 3, 4, 5, 6, 7}, 0x0305, 8, {5, 1, 2, 3, 4, 5, 6, 7},
         {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}},
        {NO_REPORT_IDS, 0, {0, 9, 8, 7, 6}, 0x0300, 4, {9, 8, 7, 6}, {0, 0xA0, 0xA1, 0xA2, 0xA3}},
    };
    for (const auto& c : cases) {
        Rig rig(c.descriptor);
        const auto handle = rig.bus.platform.hid_open(rig.paths().at(c.path));
        ASSERT_TRUE(rig.bus.platform.hid_set_feature(handle, c.report));
        ASSERT_EQ(rig.hid->setups.size(), 1u);
        EXPECT_EQ(rig.hid->setups[0].request_type, 0x21);
        EXPECT_EQ(rig.hid->setups[0].request, 0x09);
        EXPECT_EQ(rig.hid->setups[0].value, c.value);
        EXPECT_EQ(rig.hid->setups[0].index, 0);
        EXPECT_EQ(rig.hid->setups[0].length, c.length);
        EXPECT_EQ(rig.hid->sent, c.sent);

        std::vector<std::uint8_t> report(c.report.size(), 0);
        report[0] = c.report[0];
        ASSERT_TRUE(rig.bus.platform.hid_get_feature(handle, report));
        EXPECT_EQ(rig.hid->setups[1].request_type, 0xA1);
        EXPECT_EQ(rig.hid->setups[1].request, 0x01);
        EXPECT_EQ(rig.hid->setups[1].value, c.value);
        EXPECT_EQ(report, c.got);
    }
}

TEST(SimHidHost, InputReportIdIsNoFeatureReport) {
    Rig rig(TWO_COLLECTIONS);
    const auto handle = rig.bus.platform.hid_open(rig.paths().at(1));
    std::vector<std::uint8_t> report(8, 0);
    report[0] = 1;  // the keyboard's input report, in another collection
    EXPECT_FALSE(rig.bus.platform.hid_get_feature(handle, report));
    EXPECT_TRUE(rig.hid->setups.empty());
}

}  // namespace

namespace {

TEST(SimHidHost, SingleInterfaceHidDeviceNamesHaveNoInterfacePart) {
    Rig rig(NO_REPORT_IDS);
    std::vector<std::string> names;
    ASSERT_TRUE(rig.bus.platform.usb_device_names(names));
    std::vector<std::string> device_names;
    for (const auto& name : names)
        if (name.find("VID_1234&PID_5678") != std::string::npos) device_names.push_back(name);
    ASSERT_EQ(device_names.size(), 2u);
    EXPECT_EQ(device_names[0].rfind("HID#VID_1234&PID_5678#", 0), 0u) << device_names[0];
    EXPECT_EQ(device_names[1].rfind("USB#VID_1234&PID_5678#", 0), 0u) << device_names[1];
    // Neither opens through WinUSB: the interface belongs to the HID class driver.
    for (const auto& name : device_names) EXPECT_EQ(rig.bus.platform.usb_open(name), 0u) << name;
}

}  // namespace
