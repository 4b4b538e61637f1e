// The libusb WinUSB role where no device is needed: error kinds, names that
// do not stand for a present device, and calls on handles that are not open.
#include <gtest/gtest.h>
#include <libusb.h>

#include <array>

#include "platform/linux/libusb_role.h"
#include "platform/linux/usb_names.h"

namespace {

using namespace platform::linux_backend;
using platform::UsbError;

TEST(LinuxLibusbRole, ErrorKindsOfLibusbCodes) {
    struct Case {
        int code;
        UsbError kind;
    };
    const Case cases[] = {
        {LIBUSB_SUCCESS, UsbError::none},
        {LIBUSB_ERROR_PIPE, UsbError::general_failure},  // stall: the tolerated detach failure
        {LIBUSB_ERROR_NO_DEVICE, UsbError::device_gone},
        {LIBUSB_ERROR_TIMEOUT, UsbError::timeout},
        {LIBUSB_ERROR_IO, UsbError::other},
        {LIBUSB_ERROR_OVERFLOW, UsbError::other},
        {LIBUSB_ERROR_ACCESS, UsbError::other},
        {LIBUSB_ERROR_BUSY, UsbError::other},
    };
    for (const Case& c : cases) EXPECT_EQ(usb_error_from_libusb(c.code), c.kind) << c.code;
}

TEST(LinuxLibusbRole, NamesOfAbsentDevicesDoNotOpen) {
    LibusbRole role;
    const std::string absent[] = {
        "",
        "not a device name",
        usb_name_format({0x2F5A, 0x0001, 1, "250-9.9.9"}),
        usb_name_format({0x2F5A, 0x800E, std::nullopt, "250-9"}),
    };
    for (const std::string& name : absent) EXPECT_EQ(role.open(name), 0u) << name;
    EXPECT_EQ(role.denied_device(), "");
}

TEST(LinuxLibusbRole, CallsOnHandlesThatAreNotOpenFail) {
    LibusbRole role;
    std::array<std::uint8_t, 64> buffer{};
    std::size_t transferred = 99;
    const std::uint8_t setup[8] = {0xA1, 0x03, 0, 0, 0, 0, 6, 0};
    for (const platform::UsbHandle handle : {platform::UsbHandle{0}, platform::UsbHandle{1}, platform::UsbHandle{77}}) {
        EXPECT_FALSE(role.get_descriptor(handle, 1, 0, 0, buffer, transferred));
        EXPECT_EQ(transferred, 0u);
        transferred = 99;
        EXPECT_EQ(role.control_transfer(handle, setup, buffer, transferred), UsbError::other);
        EXPECT_EQ(transferred, 0u);
        transferred = 99;
        EXPECT_EQ(role.read_pipe(handle, 0x81, buffer, transferred), UsbError::other);
        EXPECT_EQ(transferred, 0u);
        transferred = 99;
        EXPECT_EQ(role.write_pipe(handle, 0x01, buffer, transferred), UsbError::other);
        EXPECT_EQ(transferred, 0u);
        platform::UsbInterfaceInfo info;
        EXPECT_FALSE(role.interface_settings(handle, 0, info));
        platform::UsbPipeInfo pipe;
        EXPECT_FALSE(role.query_pipe(handle, 0, 0, pipe));
        std::string serial;
        EXPECT_FALSE(role.serial_number(handle, serial));
        role.close(handle);  // closing an unknown handle is harmless
    }
}

}  // namespace
