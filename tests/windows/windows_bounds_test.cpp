// Every transfer of the Windows backend ends: a device that never answers a
// feature report or a pipe transfer costs the 5 s timeout, and the request is
// over (cancelled and collected) before its buffer goes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/bridge.h"
#include "sim/dfu_firmware.h"
#include "usb/usb_ids.h"
#include "usb/usbhid_device.h"
#include "windows_fixture.h"

namespace {

using fake_win32::state;
using windows_test::WindowsBackend;

enum class Feature { set, get };

class WindowsFeatureTimeout : public WindowsBackend, public testing::WithParamInterface<Feature> {};

TEST_P(WindowsFeatureTimeout, AFeatureReportTheDeviceNeverAnswersFailsAfterFiveSeconds) {
    attach_touch();
    usbhid_device_ptr device = usbhid_device_open(*windows, DEVICE_VENDOR_ID, ANY_ID, std::nullopt);
    ASSERT_NE(device, nullptr);
    std::vector<std::uint8_t> report(static_cast<std::size_t>(device->feature_report_length));
    report[0] = 0xFF;
    state().hid_never_answers = true;
    const std::uint64_t before = windows->now_ms();
    const bool ok = GetParam() == Feature::set ? windows->hid_set_feature(device->handle.get(), report)
                                               : windows->hid_get_feature(device->handle.get(), report);
    EXPECT_FALSE(ok);
    EXPECT_EQ(windows->now_ms() - before, 5000u);
    EXPECT_EQ(state().cancelled_ios, 1u);
    device.reset();
    // The cancelled request was collected: nothing is outstanding.
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Reports, WindowsFeatureTimeout, testing::Values(Feature::set, Feature::get));

enum class Direction { in, out };

class WindowsPipeTimeout : public WindowsBackend, public testing::WithParamInterface<Direction> {};

// The bridge's vendor interface has a bulk pipe each way; a bridge that does
// not answer must not hold the tool for ever.
TEST_P(WindowsPipeTimeout, APipeTransferTheDeviceNeverAnswersEndsAsATimeout) {
    simulator.attach(std::make_shared<sim::Bridge>(sim::BridgeConfig{}, std::make_shared<sim::DfuFirmware>()));
    std::vector<std::string> names;
    ASSERT_TRUE(windows->usb_device_names(names));
    platform::UsbHandle handle = 0;
    for (const std::string& name : names)
        if (handle == 0 && windows_test::has_part(name, "PID_800E&MI_00")) handle = windows->usb_open(name);
    ASSERT_NE(handle, 0u);
    platform::UsbInterfaceInfo info;
    ASSERT_TRUE(windows->usb_interface_settings(handle, 0, info));
    ASSERT_GE(info.num_endpoints, 2);
    EXPECT_EQ(state().pipe_timeouts, std::vector<ULONG>(info.num_endpoints, 5000));

    const bool in = GetParam() == Direction::in;
    std::uint8_t pipe_id = 0;
    for (std::uint8_t index = 0; index < info.num_endpoints; ++index) {
        platform::UsbPipeInfo pipe;
        ASSERT_TRUE(windows->usb_query_pipe(handle, 0, index, pipe));
        if (pipe.pipe_type == platform::USB_PIPE_BULK && ((pipe.pipe_id & 0x80) != 0) == in) pipe_id = pipe.pipe_id;
    }
    ASSERT_NE(pipe_id, 0);
    state().pipes_never_answer = true;
    std::vector<std::uint8_t> buffer(64, 0x5A);
    std::size_t moved = 99;
    const std::uint64_t before = windows->now_ms();
    const platform::UsbError error = in ? windows->usb_read_pipe(handle, pipe_id, buffer, moved)
                                        : windows->usb_write_pipe(handle, pipe_id, buffer, moved);
    EXPECT_EQ(error, platform::UsbError::timeout);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(windows->now_ms() - before, 5000u);
    windows->usb_close(handle);
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Directions, WindowsPipeTimeout, testing::Values(Direction::in, Direction::out));

}  // namespace
