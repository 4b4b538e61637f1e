// The Windows backend over the Win32 test doubles, which are backed by the
// simulator: the device layers and the whole tool running through the calls
// a real Windows system would get, with every argument checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "dfu/dfu_request.h"
#include "fake_win32.h"
#include "frontend/frontend.h"
#include "platform/windows/windows_platform.h"
#include "sim/clock.h"
#include "sim/composite_device.h"
#include "sim/native_hid_function.h"
#include "sim/sim_platform.h"
#include "sim/touch_controller.h"
#include "sim/usb_descriptors.h"
#include "usb/usb_device.h"
#include "usb/usbhid_device.h"
#include "windows_fixture.h"

namespace {

using fake_win32::state;
using windows_test::WindowsBackend;
using windows_test::has_part;
using windows_test::run_tool;

// A HID interface with one top-level collection of the given usage page and
// usage and an 8-byte feature report 7; it answers no request.
class OtherHidFunction : public sim::UsbFunction {
public:
    OtherHidFunction(std::uint16_t usage_page, std::uint8_t usage, std::uint8_t endpoint)
        : usage_page_(usage_page), usage_(usage), endpoint_(endpoint) {}

    void append_descriptors(std::uint8_t interface_number, std::vector<std::uint8_t>& out) const override {
        sim::append_interface_descriptor(out, interface_number, 1, 0x03, 0x00, 0x00);
        sim::append_hid_descriptor(out, static_cast<std::uint16_t>(hid_report_descriptor().size()));
        sim::append_endpoint_descriptor(out, endpoint_, sim::ENDPOINT_INTERRUPT, 8, 10);
    }
    std::vector<std::uint8_t> hid_report_descriptor() const override {
        return {0x06, static_cast<std::uint8_t>(usage_page_), static_cast<std::uint8_t>(usage_page_ >> 8),
                0x09, usage_, 0xA1, 0x01, 0x85, 0x07, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08,
                0x09, 0x01, 0xB1, 0x02, 0xC0};
    }
    sim::TransferStatus control(std::uint64_t, const sim::SetupPacket&, std::span<std::uint8_t>,
                                std::size_t& transferred) override {
        transferred = 0;
        return sim::TransferStatus::stall;
    }
    bool has_endpoint(std::uint8_t address) const override { return address == endpoint_; }

private:
    std::uint16_t usage_page_;
    std::uint8_t usage_;
    std::uint8_t endpoint_;
};


TEST_F(WindowsBackend, DefaultRunUpgradesTheBuiltInImageOverHid) {
    auto touch = attach_touch();
    std::string output;
    EXPECT_EQ(run_tool(*windows, {"-n"}, output), 0) << output;
    EXPECT_TRUE(has_part(output, "flash-tool using USB HID interface")) << output;
    ASSERT_TRUE(touch->native().record().flashed.has_value());
    EXPECT_EQ(touch->native().record().flashed->size(), 865856u);
    EXPECT_EQ(touch->native().record().restarts, 1u);
    // The device came back and was found again through the name list.
    EXPECT_GT(state().query_dos_calls, 2u);
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

TEST_F(WindowsBackend, ReadsDeviceInformationOverHid) {
    attach_touch();
    std::string output;
    EXPECT_EQ(run_tool(*windows, {"-n", "-r"}, output), 0) << output;
    EXPECT_TRUE(has_part(output, "Get Info Mode")) << output;
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

TEST_F(WindowsBackend, NoDeviceIsReportedAfterOneListing) {
    std::string output;
    EXPECT_EQ(run_tool(*windows, {"-n"}, output), 1);
    EXPECT_TRUE(has_part(output, "No Korvix device detected")) << output;
    EXPECT_EQ(state().query_dos_calls, 1u);
}

// The product ID of the first device the WinUSB two-pass search opens, or 0.
std::uint16_t winusb_product_id(platform::Platform& windows, serial_number serial) {
    const usb_device_ptr device = usb_device_open(windows, DEVICE_VENDOR_ID, ANY_ID, 0, serial);
    return device ? device->product_id : 0;
}

// Interface 0 of the touch controller is its HID interface: its names carry
// "MI_00" but WinUSB refuses them, so the second pass takes interface 1.
TEST_F(WindowsBackend, TwoPassSearchFindsTheWinUsbInterfaceOfACompositeDevice) {
    attach_touch();
    EXPECT_EQ(winusb_product_id(*windows, std::nullopt), sim::TOUCH_PRODUCT_ID);
    ASSERT_EQ(state().winusb_accepted.size(), 1u);
    EXPECT_TRUE(has_part(state().winusb_accepted[0], "&MI_01#"));
    const auto& paths = state().created_paths;
    ASSERT_GE(paths.size(), 3u);
    // First pass: only names of interface 0, all refused.
    const auto first_mi01 = std::find_if(paths.begin(), paths.end(),
                                         [](const std::string& p) { return has_part(p, "MI_01"); });
    ASSERT_NE(first_mi01, paths.end());
    EXPECT_GE(std::count_if(paths.begin(), first_mi01, [](const std::string& p) { return has_part(p, "MI_00"); }),
              4);
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

TEST_F(WindowsBackend, NamesBeyondMaxPathAreOpenedUpToTheLongPathLimit) {
    attach_touch();
    const std::string stem = "USB#VID_2F5A&PID_0001&MI_00#";
    const std::string fits = stem + std::string(400, 'f');
    const std::string too_long = stem + std::string(32763 - stem.size(), 'x');
    state().extra_dos_names = {too_long, fits};
    EXPECT_EQ(winusb_product_id(*windows, std::nullopt), sim::TOUCH_PRODUCT_ID);
    const auto& paths = state().created_paths;
    EXPECT_NE(std::find(paths.begin(), paths.end(), "\\\\?\\" + fits), paths.end());
    for (const std::string& path : paths) EXPECT_LT(path.size(), 32767u);
}

TEST_F(WindowsBackend, ANameListBeyondOneMebibyteFindsNothing) {
    attach_touch();
    state().extra_dos_names.assign(5000, std::string(250, 'n'));
    EXPECT_EQ(winusb_product_id(*windows, std::nullopt), 0);
    EXPECT_TRUE(state().created_paths.empty());
}

struct HidLayout {
    const char* name;
    std::vector<std::shared_ptr<sim::UsbFunction>> functions;
    const char* opened;  // interface part of the path that must be opened
};

class WindowsHidInterfaces : public WindowsBackend, public testing::WithParamInterface<HidLayout> {};

TEST_P(WindowsHidInterfaces, OnlyTheVendorCollectionIsOpened) {
    sim::DeviceConfiguration config;
    config.identity.vendor_id = DEVICE_VENDOR_ID;
    config.identity.product_id = 0x0042;
    config.identity.serial = "MULTI";
    config.functions = GetParam().functions;
    simulator.attach(std::make_shared<sim::CompositeDevice>(config));

    usbhid_device_ptr device = usbhid_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->product_id, 0x0042);
    EXPECT_EQ(usbhid_device_feature_length(device.get()), static_cast<int>(sim::NATIVE_REPORT_LENGTH));
    ASSERT_FALSE(state().created_paths.empty());
    EXPECT_TRUE(has_part(state().created_paths.back(), GetParam().opened)) << state().created_paths.back();
    // Every interface that did not match was closed again; only the device is open.
    EXPECT_EQ(fake_win32::open_objects(), 1u);
    device.reset();
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

std::shared_ptr<sim::UsbFunction> vendor_hid() {
    return std::make_shared<sim::NativeHidFunction>(std::make_shared<sim::NativeDevice>(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WindowsHidInterfaces,
    testing::Values(
        HidLayout{"vendor_last",
                  {std::make_shared<OtherHidFunction>(0x0001, 0x06, 0x82),
                   std::make_shared<OtherHidFunction>(0xFF01, 0xF2, 0x83),
                   std::make_shared<OtherHidFunction>(0xFF00, 0xF1, 0x84), vendor_hid()},
                  "mi_03"},
        HidLayout{"vendor_first",
                  {vendor_hid(), std::make_shared<OtherHidFunction>(0x000D, 0x04, 0x82)},
                  "mi_00"},
        HidLayout{"vendor_between",
                  {std::make_shared<OtherHidFunction>(0x0001, 0x02, 0x82), vendor_hid(),
                   std::make_shared<OtherHidFunction>(0xFF01, 0xF1 ^ 0xFF, 0x83)},
                  "mi_01"}),
    [](const testing::TestParamInfo<HidLayout>& info) { return std::string(info.param.name); });

struct SerialCase {
    const char* serial;
    std::uint16_t product_id;  // 0: no device
};

class WindowsSerialSelection : public WindowsBackend, public testing::WithParamInterface<SerialCase> {};

TEST_P(WindowsSerialSelection, BothRolesSelectByTheDevicesSerialString) {
    sim::TouchConfig first;
    first.product_id = 0x0001;
    first.serial = "TC0001";
    sim::TouchConfig second;
    second.product_id = 0x0002;
    second.serial = "TC0002";
    attach_touch(first);
    attach_touch(second);
    const serial_number serial = std::string_view(GetParam().serial);

    EXPECT_EQ(winusb_product_id(*windows, serial), GetParam().product_id);
    usbhid_device_ptr hid = usbhid_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, serial);
    if (GetParam().product_id == 0) {
        EXPECT_EQ(hid, nullptr);
    } else {
        ASSERT_NE(hid, nullptr);
        EXPECT_EQ(hid->product_id, GetParam().product_id);
    }
    hid.reset();
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Serials, WindowsSerialSelection,
                         testing::Values(SerialCase{"TC0001", 0x0001}, SerialCase{"TC0002", 0x0002},
                                         SerialCase{"TC000", 0}, SerialCase{"tc0002", 0}));

// Two devices without serial: each is told apart by the location of the
// USB device node above its WinUSB interface (its first location path).
TEST_F(WindowsBackend, DevicesAreToldApartByTheirPortLocation) {
    sim::TouchConfig unnamed;
    unnamed.serial = "";
    attach_touch(unnamed);
    attach_touch(unnamed);
    const std::vector<usb_device_identity> devices = usb_list_devices(*windows);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].location, "PCIROOT(0)#PCI(1400)#USB(1-1)");
    EXPECT_EQ(devices[1].location, "PCIROOT(0)#PCI(1400)#USB(1-2)");
    EXPECT_FALSE(devices[0].serial);
    EXPECT_FALSE(devices[0].enumeration);
    EXPECT_TRUE(fake_win32::state().violations.empty());
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

TEST_F(WindowsBackend, ControlInDataNeverOverrunsTheCallersBuffer) {
    attach_touch();
    usb_device_ptr device = usb_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, 1, std::nullopt);
    ASSERT_NE(device, nullptr);
    state().control_in_overrun = true;
    std::array<std::uint8_t, 80> storage{};
    storage.fill(0x11);
    int transferred = -1;
    EXPECT_EQ(usb_device_control_in(*device, 3, 0, std::span(storage).first(6), 6, transferred), 0);
    EXPECT_EQ(transferred, 6);
    EXPECT_EQ(state().control_buffer_lengths.back(), 64u);
    EXPECT_TRUE(std::all_of(storage.begin(), storage.begin() + 6, [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_TRUE(std::all_of(storage.begin() + 6, storage.end(), [](std::uint8_t b) { return b == 0x11; }));
}

struct DetachCase {
    DWORD error;
    platform::UsbError kind;
    int result;  // what dfu_detach makes of it: a device that left is no failure

};

class WindowsDetach : public WindowsBackend, public testing::WithParamInterface<DetachCase> {};

// A device that leaves the bus during the detach fails it with one of the
// removal codes, which the DFU layer is told as device_gone and tolerates:
// the wait that follows decides whether the device came back.
TEST_P(WindowsDetach, TheErrorOfAFailedDetachReachesTheDfuLayerByKind) {
    attach_touch();
    usb_device_ptr device = usb_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, 1, std::nullopt);
    ASSERT_NE(device, nullptr);
    state().control_failure = GetParam().error;
    const int result = dfu_detach(*device);
    EXPECT_EQ(device->last_error, GetParam().kind);
    EXPECT_EQ(result, GetParam().result);
    // DFU_DETACH has no data stage: WinUSB gets no buffer and length 0.
    EXPECT_EQ(state().control_buffer_lengths.back(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, WindowsDetach,
    testing::Values(DetachCase{ERROR_GEN_FAILURE, platform::UsbError::general_failure, 0},
                    DetachCase{ERROR_SEM_TIMEOUT, platform::UsbError::timeout, -1},
                    DetachCase{ERROR_DEVICE_NOT_CONNECTED, platform::UsbError::device_gone, 0},
                    DetachCase{ERROR_NO_SUCH_DEVICE, platform::UsbError::device_gone, 0},
                    DetachCase{ERROR_FILE_NOT_FOUND, platform::UsbError::device_gone, 0},
                    DetachCase{ERROR_INVALID_PARAMETER, platform::UsbError::other, -1}));

TEST_F(WindowsBackend, HidEnumerationEndsOnAnyEnumerationFailure) {
    attach_touch();
    state().enum_failure = std::make_pair(DWORD{0}, DWORD{ERROR_INVALID_DATA});
    std::vector<std::string> paths{"stale"};
    EXPECT_TRUE(windows->hid_paths(paths));
    EXPECT_TRUE(paths.empty());
    EXPECT_EQ(state().enum_calls, 1u);
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

TEST_F(WindowsBackend, HidInterfacesWithAnImplausibleDetailSizeAreSkipped) {
    attach_touch();
    for (const DWORD size : {DWORD{0}, DWORD{4}, DWORD{0x7FFFFFFF}}) {
        state().detail_size = size;
        std::vector<std::string> paths;
        EXPECT_TRUE(windows->hid_paths(paths));
        EXPECT_TRUE(paths.empty()) << size;
    }
    state().detail_size.reset();
    std::vector<std::string> paths;
    EXPECT_TRUE(windows->hid_paths(paths));
    EXPECT_EQ(paths.size(), 1u);
}

class WindowsConsole : public WindowsBackend, public testing::WithParamInterface<DWORD> {};

// Whatever else the console's mode holds, quick-edit is off while the tool
// runs (with the extended flags that make the console take that bit), and
// the mode is the user's again once the platform is gone.
TEST_P(WindowsConsole, QuickEditIsOffWhileTheToolRunsAndRestoredAfterwards) {
    const DWORD original = GetParam();
    state().console_mode = original;
    windows->console_clear_quick_edit();
    const DWORD running = *state().console_mode;
    EXPECT_EQ(running & ENABLE_QUICK_EDIT_MODE, 0u);
    EXPECT_NE(running & ENABLE_EXTENDED_FLAGS, 0u);
    EXPECT_EQ(running & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE | ENABLE_EXTENDED_FLAGS),
              original & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE | ENABLE_EXTENDED_FLAGS));
    windows.reset();
    EXPECT_EQ(*state().console_mode, original);
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowsConsole, testing::Values(DWORD{0x01F7}, DWORD{0x0040}, DWORD{0x0087},
                                                                DWORD{0x00C7}, DWORD{0}));

TEST_F(WindowsBackend, AnInputThatIsNoConsoleIsLeftAlone) {
    windows->console_clear_quick_edit();
    windows.reset();
    EXPECT_TRUE(state().console_modes_set.empty());
    EXPECT_TRUE(state().control_handlers.empty());
}

TEST_F(WindowsBackend, SleepAndClockFollowTheSystemCalls) {
    const std::uint64_t before = windows->now_ms();
    windows->sleep_ms(1234);
    EXPECT_EQ(windows->now_ms() - before, 1234u);
}

}  // namespace
