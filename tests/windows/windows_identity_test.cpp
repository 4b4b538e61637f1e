// Which device the Windows backend names: the HID collection and the WinUSB
// interfaces of one device give the same location (the USB device node's),
// the location reads the location paths first, serials and names beyond ASCII
// arrive intact, and the HID listing opens only the vendor's collections,
// without access.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "sim/composite_device.h"
#include "sim/native_hid_function.h"
#include "usb/usb_device.h"
#include "usb/usb_device_identity.h"
#include "usb/usb_ids.h"
#include "usb/usbhid_device.h"
#include "windows_fixture.h"

namespace {

using fake_win32::state;
using windows_test::has_part;
using windows_test::WindowsBackend;

// The location of the device with `serial` as its HID collection and as its
// DFU interface (interface 1) give it; "" where a role cannot tell.
struct RoleLocations {
    std::string hid;
    std::string usb;
};

RoleLocations locations_of(platform::Platform& windows, const char* serial) {
    RoleLocations found;
    platform::UsbPlacement placement;
    usbhid_device_ptr hid = usbhid_device_open(windows, DEVICE_VENDOR_ID, ANY_ID, std::string_view(serial));
    if (hid != nullptr && windows.hid_placement(hid->handle.get(), placement)) found.hid = placement.location;
    hid.reset();
    usb_device_ptr usb = usb_device_open(windows, DEVICE_VENDOR_ID, ANY_ID, 1, std::string_view(serial));
    if (usb != nullptr && windows.usb_placement(usb->handle.get(), placement)) found.usb = placement.location;
    return found;
}

TEST_F(WindowsBackend, BothRolesOfADeviceGiveItsUsbDeviceNodesLocation) {
    sim::TouchConfig second;
    second.serial = "TC0002";
    attach_touch();
    attach_touch(second);
    const RoleLocations first = locations_of(*windows, "TC0001");
    const RoleLocations other = locations_of(*windows, "TC0002");
    EXPECT_EQ(first.hid, "PCIROOT(0)#PCI(1400)#USB(1-1)");
    EXPECT_EQ(first.usb, first.hid);
    EXPECT_EQ(other.hid, "PCIROOT(0)#PCI(1400)#USB(1-2)");
    EXPECT_EQ(other.usb, other.hid);
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

// Without a WinUSB binding a device's interfaces have no name to open; its
// HID collection still says where the device is, and the device is listed.
TEST_F(WindowsBackend, ADeviceWithOnlyItsHidCollectionIsStillLocated) {
    attach_touch();
    state().unlisted_names = {"USB#VID_2F5A"};
    EXPECT_TRUE(usb_list_winusb_devices(*windows).empty());
    const std::vector<usb_device_identity> devices = usb_list_devices(*windows);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].location, "PCIROOT(0)#PCI(1400)#USB(1-1)");
    EXPECT_EQ(devices[0].serial, "TC0001");
    const RoleLocations found = locations_of(*windows, "TC0001");
    EXPECT_EQ(found.hid, "PCIROOT(0)#PCI(1400)#USB(1-1)");
    EXPECT_EQ(found.usb, "");
}

struct LocationCase {
    const char* name;
    bool paths;
    bool information;
    const char* location;  // "": none
};

class WindowsLocation : public WindowsBackend, public testing::WithParamInterface<LocationCase> {};

TEST_P(WindowsLocation, PathsFirstThenInformationAndAnEmptyValueIsNoLocation) {
    attach_touch();
    state().location_paths = GetParam().paths;
    state().location_information = GetParam().information;
    const RoleLocations found = locations_of(*windows, "TC0001");
    EXPECT_EQ(found.hid, GetParam().location);
    EXPECT_EQ(found.usb, GetParam().location);
}

INSTANTIATE_TEST_SUITE_P(
    Properties, WindowsLocation,
    testing::Values(LocationCase{"paths", true, true, "PCIROOT(0)#PCI(1400)#USB(1-1)"},
                    LocationCase{"paths_without_information", true, false, "PCIROOT(0)#PCI(1400)#USB(1-1)"},
                    LocationCase{"information_only", false, true, "Port_#1-1.Hub_#0001"},
                    LocationCase{"empty_information_only", false, false, ""}),
    [](const testing::TestParamInfo<LocationCase>& info) { return std::string(info.param.name); });

TEST_F(WindowsBackend, SerialsBeyondAsciiArriveInUtf8InBothRoles) {
    attach_touch();
    // Latin, Greek and a character outside the Basic Multilingual Plane
    // (a surrogate pair in UTF-16).
    state().serial_units = u"Z\u00e4hler-\u03a9-\U0001F600";
    const std::string utf8 = "Z\xc3\xa4hler-\xce\xa9-\xf0\x9f\x98\x80";
    usbhid_device_ptr hid = usbhid_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, std::string_view(utf8));
    ASSERT_NE(hid, nullptr);
    std::string serial;
    ASSERT_TRUE(windows->hid_serial_number(hid->handle.get(), serial));
    EXPECT_EQ(serial, utf8);
    hid.reset();
    usb_device_ptr usb = usb_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, 1, std::string_view(utf8));
    ASSERT_NE(usb, nullptr);
    ASSERT_TRUE(windows->usb_serial_number(usb->handle.get(), serial));
    EXPECT_EQ(serial, utf8);
}

TEST_F(WindowsBackend, NamesBeyondAsciiAreOpenedWithTheirOwnCharacters) {
    const std::string name = "USB#VID_2F5A&PID_0001&MI_05#Z\xc3\xa4hler\xe2\x84\xa2#{a5dcbf10}";
    state().extra_dos_names = {name};
    std::vector<std::string> names;
    ASSERT_TRUE(windows->usb_device_names(names));
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), name);
    EXPECT_EQ(windows->usb_open(name), 0u);  // no WinUSB device behind it
    EXPECT_EQ(state().created_paths, std::vector<std::string>{"\\\\?\\" + name});
}

TEST_F(WindowsBackend, HidListingOpensOnlyTheVendorsCollectionsWithoutAccess) {
    sim::DeviceConfiguration keyboard;
    keyboard.identity.vendor_id = 0x046D;
    keyboard.identity.product_id = 0xC31C;
    keyboard.functions = {std::make_shared<sim::NativeHidFunction>(std::make_shared<sim::NativeDevice>(), nullptr)};
    simulator.attach(std::make_shared<sim::CompositeDevice>(keyboard));
    attach_touch();
    std::vector<std::string> paths;
    ASSERT_TRUE(windows->hid_paths(paths));
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_TRUE(has_part(paths[0], "vid_2f5a")) << paths[0];
    EXPECT_TRUE(state().created_paths.empty());
    // A lookup reads attributes, capabilities and serial without access.
    usbhid_device_ptr device = usbhid_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, std::string_view("TC0001"));
    ASSERT_NE(device, nullptr);
    device.reset();
    EXPECT_EQ(state().created_access, std::vector<DWORD>(state().created_paths.size(), 0));

    std::string output;
    EXPECT_EQ(windows_test::run_tool(*windows, {"-n", "-r"}, output), 0) << output;
    const auto& created = state().created_paths;
    const auto& access = state().created_access;
    int read_write = 0;
    int without_access = 0;
    for (std::size_t i = 0; i < created.size(); ++i) {
        EXPECT_FALSE(has_part(created[i], "vid_046d")) << created[i];
        if (!has_part(created[i], "hid#")) continue;
        ++(access[i] == 0 ? without_access : read_write);
    }
    // Read/write only where feature reports are sent, once per opened
    // collection.
    EXPECT_GE(read_write, 1);
    EXPECT_LE(read_write, without_access);
}

}  // namespace
