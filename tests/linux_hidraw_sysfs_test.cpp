// Reading hidraw nodes from sysfs: which nodes, in which order, and what each
// tells about its device.
#include <gtest/gtest.h>

#include "linux_fake_sysfs.h"
#include "linux_hid_descriptors.h"
#include "platform/linux/hidraw_sysfs.h"

namespace {

using namespace platform::linux_backend;
using linux_test::FakeHidNode;
using linux_test::hid_node;
using linux_test::uevent;

class LinuxHidrawSysfs : public linux_test::FakeSysfs {};

TEST_F(LinuxHidrawSysfs, ListsNodesInNumericOrderAndIgnoresOtherEntries) {
    for (const char* node : {"hidraw10", "hidraw2", "hidraw0"})
        add(hid_node(node, std::string("1-") + (node + 6), uevent(3, 0x2F5A, 1), linux_test::VENDOR));
    std::filesystem::create_directory(sys() / "class" / "hidraw" / "hidrawX");
    std::filesystem::create_directory(sys() / "class" / "hidraw" / "power");
    EXPECT_EQ(hidraw_node_names(sys()), (std::vector<std::string>{"hidraw0", "hidraw2", "hidraw10"}));
}

TEST_F(LinuxHidrawSysfs, NoClassDirectoryMeansNoNodes) {
    std::filesystem::remove_all(sys() / "class");
    EXPECT_TRUE(hidraw_node_names(sys()).empty());
}

TEST_F(LinuxHidrawSysfs, ReadsIdsVersionSerialAndDescriptor) {
    struct Case {
        const char* what;
        FakeHidNode node;
        bool ids_known;
        std::uint16_t vendor, product, version;
        std::optional<std::string> serial;
        // The USB device's port, as the libusb role names it, so that both
        // roles know one device as one.
        std::optional<std::string> location;
    };
    const Case cases[] = {
        {"serial from HID_UNIQ first",
         hid_node("hidraw0", "1-1", uevent(3, 0x2F5A, 0x0001, "TC0001"), linux_test::VENDOR, "USBSER", "0102"),
         true, 0x2F5A, 0x0001, 0x0102, "TC0001", "1-1"},
        {"serial from the USB device without HID_UNIQ",
         hid_node("hidraw1", "1-2.4", uevent(3, 0x2F5A, 0x800E), linux_test::VENDOR, "USBSER", "0200"),
         true, 0x2F5A, 0x800E, 0x0200, "USBSER", "1-2.4"},
        {"no serial anywhere",
         hid_node("hidraw2", "1-3", uevent(3, 0x1234, 0xABCD), linux_test::KEYBOARD, "", ""),
         true, 0x1234, 0xABCD, 0, std::nullopt, "1-3"},
        {"not on USB: the directories above are not a USB device",
         hid_node("hidraw3", "1-4", uevent(0x18, 0x04F3, 0x2A3B), linux_test::KEYBOARD, "USBSER", "0102"),
         true, 0x04F3, 0x2A3B, 0, std::nullopt, std::nullopt},
        {"HID_ID missing",
         hid_node("hidraw4", "1-5", "DRIVER=hid-generic\nHID_UNIQ=X\n", linux_test::KEYBOARD, "", ""),
         false, 0, 0, 0, "X", std::nullopt},
        {"HID_ID malformed",
         hid_node("hidraw5", "1-6", "HID_ID=0003:2F5A\n", linux_test::KEYBOARD, "", ""),
         false, 0, 0, 0, std::nullopt, std::nullopt},
        {"a directory name that is no port",
         hid_node("hidraw6", "usb1", uevent(3, 0x2F5A, 0x0001), linux_test::VENDOR, "", ""),
         true, 0x2F5A, 0x0001, 0, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        add(c.node);
        HidrawNodeInfo info;
        ASSERT_TRUE(hidraw_node_info(sys(), c.node.node, info)) << c.what;
        EXPECT_EQ(info.ids_known, c.ids_known) << c.what;
        if (c.ids_known) {
            EXPECT_EQ(info.vendor_id, c.vendor) << c.what;
            EXPECT_EQ(info.product_id, c.product) << c.what;
        }
        EXPECT_EQ(info.version, c.version) << c.what;
        EXPECT_EQ(info.serial, c.serial) << c.what;
        EXPECT_EQ(info.usb_location, c.location) << c.what;
        EXPECT_EQ(info.usb_address, c.location ? std::optional<std::uint32_t>(7) : std::nullopt) << c.what;
        EXPECT_EQ(info.report_descriptor, c.node.report_descriptor) << c.what;
    }
}

TEST_F(LinuxHidrawSysfs, NodeWithoutDescriptorOrWithBadNameIsNotRead) {
    FakeHidNode node = hid_node("hidraw0", "1-1", uevent(3, 0x2F5A, 1), linux_test::VENDOR);
    node.with_descriptor = false;
    add(node);
    HidrawNodeInfo info;
    EXPECT_FALSE(hidraw_node_info(sys(), "hidraw0", info));
    EXPECT_FALSE(hidraw_node_info(sys(), "hidraw9", info));
    EXPECT_FALSE(hidraw_node_info(sys(), "../hidraw0", info));
}

TEST_F(LinuxHidrawSysfs, OversizedDescriptorIsRefused) {
    add(hid_node("hidraw0", "1-1", uevent(3, 0x2F5A, 1), std::vector<std::uint8_t>(4097, 0x00)));
    HidrawNodeInfo info;
    EXPECT_FALSE(hidraw_node_info(sys(), "hidraw0", info));
}

TEST(LinuxHidId, ParsesBusVendorProduct) {
    struct Case {
        const char* text;
        bool ok;
        std::uint16_t bus, vendor, product;
    };
    const Case cases[] = {
        {"0003:00002F5A:00000001", true, 3, 0x2F5A, 0x0001},
        {"0003:00002f5a:0000800e", true, 3, 0x2F5A, 0x800E},
        {"0018:000004F3:00002A3B", true, 0x18, 0x04F3, 0x2A3B},
        {"0003:00012F5A:00000001", false, 0, 0, 0},  // vendor beyond 16 bits
        {"0003:00002F5A", false, 0, 0, 0},
        {"0003::00000001", false, 0, 0, 0},
        {"0003:00002F5G:00000001", false, 0, 0, 0},
        {"0003:00002F5A:000000001", false, 0, 0, 0},  // nine digits
        {"", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::uint16_t bus = 0, vendor = 0, product = 0;
        EXPECT_EQ(hid_id_parse(c.text, bus, vendor, product), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(bus, c.bus) << c.text;
        EXPECT_EQ(vendor, c.vendor) << c.text;
        EXPECT_EQ(product, c.product) << c.text;
    }
}

TEST(LinuxHidrawNodeName, OnlyHidrawAndDigits) {
    for (const char* good : {"hidraw0", "hidraw12", "hidraw123456789"}) EXPECT_TRUE(hidraw_node_name_valid(good));
    for (const char* bad : {"hidraw", "hidraw1a", "hidraw/0", "../hidraw0", "hidraw0123456789", "event0", ""})
        EXPECT_FALSE(hidraw_node_name_valid(bad)) << bad;
}

}  // namespace
