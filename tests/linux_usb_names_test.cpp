// Device names of the Linux WinUSB role: their form, their parsing, and that
// the device layers' patterns select them as they select Windows names.
#include <gtest/gtest.h>

#include <array>

#include "platform/linux/usb_names.h"
#include "usb/usb_name_match.h"

namespace {

using platform::linux_backend::usb_location;
using platform::linux_backend::usb_name_format;
using platform::linux_backend::usb_name_parse;
using platform::linux_backend::UsbNameParts;

constexpr const char* CLASS_GUID = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

TEST(LinuxUsbNames, FormsWindowsShapedNames) {
    struct Case {
        UsbNameParts parts;
        std::string expected;
    };
    const Case cases[] = {
        {{0x2F5A, 0x0001, 1, "1-4"}, std::string("USB#VID_2F5A&PID_0001&MI_01#1-4#") + CLASS_GUID},
        {{0x2F5A, 0x800E, std::nullopt, "3-1.2.4"}, std::string("USB#VID_2F5A&PID_800E#3-1.2.4#") + CLASS_GUID},
        {{0xabcd, 0x00ef, 0, "2-7"}, std::string("USB#VID_ABCD&PID_00EF&MI_00#2-7#") + CLASS_GUID},
        {{0x0001, 0xFFFE, 123, "1-1"}, std::string("USB#VID_0001&PID_FFFE&MI_123#1-1#") + CLASS_GUID},
    };
    for (const Case& c : cases) {
        const std::string name = usb_name_format(c.parts);
        EXPECT_EQ(name, c.expected);
        const auto back = usb_name_parse(name);
        ASSERT_TRUE(back.has_value()) << name;
        EXPECT_EQ(back->vendor_id, c.parts.vendor_id) << name;
        EXPECT_EQ(back->product_id, c.parts.product_id) << name;
        EXPECT_EQ(back->interface_number, c.parts.interface_number) << name;
        EXPECT_EQ(back->location, c.parts.location) << name;
    }
}

TEST(LinuxUsbNames, RejectsNamesItDidNotMake) {
    const std::string guid = CLASS_GUID;
    const std::string rejected[] = {
        "",
        "USB#VID_2F5A&PID_0001#1-4",                               // no class part
        "USB#VID_2F5A&PID_0001#1-4#{other}",                       // another class
        "USB#VID_2f5a&PID_0001#1-4#" + guid,                       // lower-case digits
        "USB#VID_2F5&PID_0001#1-4#" + guid,                        // short ID
        "USB#VID_2F5A&PID_0001&MI_1#1-4#" + guid,                  // one-digit interface
        "USB#VID_2F5A&PID_0001&MI_256#1-4#" + guid,                // no such interface number
        "USB#VID_2F5A&PID_0001&MI_0A#1-4#" + guid,                 // hexadecimal interface
        "USB#VID_2F5A&PID_0001##" + guid,                          // no location
        "USB#VID_2F5A&PID_0001#1-4#" + guid + "x",                 // trailing text
        "HID#VID_2F5A&PID_0001#1-4#" + guid,                       // another bus
        "\\\\?\\USB#VID_2F5A&PID_0001#1-4#" + guid,                // a path, not a name
    };
    for (const std::string& name : rejected) EXPECT_FALSE(usb_name_parse(name).has_value()) << name;
}

TEST(LinuxUsbNames, LocationIsBusThenPortPath) {
    const std::array<std::uint8_t, 3> three{1, 2, 4};
    const std::array<std::uint8_t, 1> one{12};
    EXPECT_EQ(usb_location(3, three), "3-1.2.4");
    EXPECT_EQ(usb_location(1, one), "1-12");
    EXPECT_EQ(usb_location(255, {}), "255-0");
}

// The two search passes: a composite device's interface is found by its
// MI_ pattern; a single-interface device only in the pass without it.
TEST(LinuxUsbNames, DeviceLayerPatternsSelectTheRightNames) {
    const std::string composite_hid = usb_name_format({0x2F5A, 0x0001, 0, "1-4"});
    const std::string composite_dfu = usb_name_format({0x2F5A, 0x0001, 1, "1-4"});
    const std::string bridge = usb_name_format({0x2F5A, 0x800E, std::nullopt, "1-5"});
    const std::string other_vendor = usb_name_format({0x1234, 0x0001, 0, "1-6"});
    struct Case {
        std::uint16_t vendor, product;
        std::optional<int> interface_number;
        const std::string* name;
        bool matches;
    };
    const Case cases[] = {
        {0x2F5A, 0xFFFF, 0, &composite_hid, true},
        {0x2F5A, 0xFFFF, 0, &composite_dfu, false},
        {0x2F5A, 0xFFFF, 1, &composite_dfu, true},
        {0x2F5A, 0xFFFF, std::nullopt, &composite_dfu, true},
        {0x2F5A, 0xFFFF, 0, &bridge, false},
        {0x2F5A, 0xFFFF, std::nullopt, &bridge, true},
        {0x2F5A, 0x800E, std::nullopt, &bridge, true},
        {0x2F5A, 0x0004, std::nullopt, &bridge, false},
        {0x2F5A, 0xFFFF, 0, &other_vendor, false},
        {0xFFFF, 0xFFFF, 0, &other_vendor, true},
    };
    for (const Case& c : cases) {
        const auto patterns = usb_name_patterns_make(c.vendor, c.product, c.interface_number);
        EXPECT_EQ(usb_name_matches(patterns, *c.name), c.matches) << *c.name;
        EXPECT_TRUE(usb_name_fits_path(*c.name)) << *c.name;
    }
}

}  // namespace
