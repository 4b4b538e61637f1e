// Why a device could not be opened, as the Windows backend tells it: a
// device in use by another program and an interface without the WinUSB
// driver are named, a device that is simply not there is not; an open that
// shares both ways works beside another program that does the same.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "usb/usb_device.h"
#include "usb/usb_device_identity.h"
#include "usb/usb_ids.h"
#include "usb/usbhid_device.h"
#include "windows_fixture.h"

namespace {

using fake_win32::state;
using windows_test::has_part;
using windows_test::WindowsBackend;

struct OpenErrorCase {
    const char* name;
    std::vector<fake_win32::State::CreateFailure> create_failures;
    std::vector<std::string> not_winusb;
    const char* hint;
};

class WindowsOpenErrors : public WindowsBackend, public testing::WithParamInterface<OpenErrorCase> {};

TEST_P(WindowsOpenErrors, TheHintNamesTheDeviceAndWhyItCouldNotBeUsed) {
    attach_touch();
    state().create_failures = GetParam().create_failures;
    state().not_winusb = GetParam().not_winusb;
    EXPECT_TRUE(usb_list_winusb_devices(*windows).empty());
    EXPECT_EQ(windows->inaccessible_device_hint(), GetParam().hint);
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, WindowsOpenErrors,
    testing::Values(
        OpenErrorCase{"access_denied",
                      {{"PID_0001&MI_01", ERROR_ACCESS_DENIED}},
                      {},
                      "Device USB\\VID_2F5A&PID_0001&MI_01 is present but in use by another program (access "
                      "denied); close that program, then run the tool again"},
        OpenErrorCase{"sharing_violation",
                      {{"PID_0001&MI_01", ERROR_SHARING_VIOLATION}},
                      {},
                      "Device USB\\VID_2F5A&PID_0001&MI_01 is present but in use by another program (sharing "
                      "violation); close that program, then run the tool again"},
        OpenErrorCase{"not_winusb",
                      {},
                      {"PID_0001&MI_01"},
                      "Device USB\\VID_2F5A&PID_0001&MI_01 is present but not driven by WinUSB; bind WinUSB to "
                      "interface 1: docs/windows.md"},
        OpenErrorCase{"in_use_before_not_winusb",
                      {{"PID_0001&MI_01", ERROR_ACCESS_DENIED}},
                      {"PID_0001&MI_00"},
                      "Device USB\\VID_2F5A&PID_0001&MI_01 is present but in use by another program (access "
                      "denied); close that program, then run the tool again"},
        OpenErrorCase{"gone_since_the_listing", {{"PID_0001&MI_01", ERROR_FILE_NOT_FOUND}}, {}, ""}),
    [](const testing::TestParamInfo<OpenErrorCase>& info) { return std::string(info.param.name); });

// The device is listed through its HID collection; the hint says what its
// DFU interface lacks.
TEST_F(WindowsBackend, AListingFollowedByTheHint) {
    attach_touch();
    state().not_winusb = {"PID_0001&MI_01"};
    std::string output;
    testing::internal::CaptureStderr();
    EXPECT_EQ(windows_test::run_tool(*windows, {"-n", "-l"}, output), 0) << output;
    EXPECT_TRUE(has_part(output, "2f5a:0001  run-time  serial TC0001")) << output;
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(has_part(errors, "USB\\VID_2F5A&PID_0001&MI_01 is present but not driven by WinUSB; bind WinUSB to "
                                 "interface 1: docs/windows.md\n"))
        << errors;
}

TEST_F(WindowsBackend, AHidCollectionInUseIsNamed) {
    attach_touch();
    state().create_failures = {{"hid#", ERROR_SHARING_VIOLATION}};
    usbhid_device_ptr device = usbhid_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    ASSERT_NE(device, nullptr);
    std::vector<std::uint8_t> report(static_cast<std::size_t>(device->feature_report_length));
    report[0] = 0xFF;
    EXPECT_FALSE(windows->hid_set_feature(device->handle.get(), report));
    EXPECT_TRUE(has_part(windows->inaccessible_device_hint(),
                         "Device hid\\vid_2f5a&pid_0001&mi_00 is present but in use by another program (sharing "
                         "violation)"))
        << windows->inaccessible_device_hint();
}

// Another program that holds the device open for reading and writing, and
// shares it both ways, does not keep the tool out.
TEST_F(WindowsBackend, OpensBesideAnotherProgramThatSharesTheDevice) {
    auto touch = attach_touch();
    state().held_by_other_program = true;
    std::string output;
    EXPECT_EQ(windows_test::run_tool(*windows, {"-n", "-l"}, output), 0) << output;
    EXPECT_EQ(windows_test::run_tool(*windows, {"-n"}, output), 0) << output;
    EXPECT_TRUE(touch->native().record().flashed.has_value());
}

}  // namespace
