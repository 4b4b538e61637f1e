// The Configuration Manager's word that a device went: the watch set on an
// open HID collection or WinUSB interface is on its USB device node, and
// holds the removal until it is taken down.
#include <gtest/gtest.h>

#include "fake_win32.h"
#include "usb/usb_device.h"
#include "usb/usbhid_device.h"
#include "windows_fixture.h"

namespace {

using windows_test::WindowsBackend;

constexpr wchar_t DEVICE_NODE[] = L"USB\\VID_2F5A&PID_0001\\5&1&0&1";

TEST_F(WindowsBackend, AWatchOnEitherRoleHearsItsDeviceNodeGo) {
    attach_touch();
    usbhid_device_ptr hid = usbhid_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    usb_device_ptr usb = usb_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, 1, std::nullopt);
    ASSERT_NE(hid, nullptr);
    ASSERT_NE(usb, nullptr);
    const platform::DepartureWatch by_hid = windows->hid_watch_departure(hid->handle.get());
    const platform::DepartureWatch by_usb = windows->usb_watch_departure(usb->handle.get());
    ASSERT_NE(by_hid, 0u);
    ASSERT_NE(by_usb, 0u);
    EXPECT_FALSE(windows->departed(by_hid));
    EXPECT_EQ(fake_win32::notify_removal(L"USB\\VID_2F5A&PID_0001\\5&2&0&1"), 0u) << "another device";
    EXPECT_EQ(fake_win32::notify_removal(DEVICE_NODE), 2u);
    EXPECT_TRUE(windows->departed(by_hid));
    EXPECT_TRUE(windows->departed(by_usb));
    windows->unwatch_departure(by_hid);
    windows->unwatch_departure(by_usb);
    EXPECT_EQ(fake_win32::registered_notifications(), 0u);
    EXPECT_TRUE(fake_win32::state().violations.empty());
}

}  // namespace
