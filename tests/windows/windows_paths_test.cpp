// The DFU and KXP paths through the Windows backend. DFU: detach (tolerated
// as a general failure when the device stalls it), re-enumeration in DFU
// mode, download, and the detach back into run-time mode. KXP: the link over
// the vendor HID interface, the upgrade, the restart and the boot wait.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "firmware/builtin_image.h"
#include "sim/bridge.h"
#include "sim/dfu_firmware.h"
#include "sim/dfu_run_time_function.h"
#include "sim/kxp_touch.h"
#include "windows_fixture.h"

namespace {

using windows_test::has_part;
using windows_test::run_tool;
using windows_test::WindowsBackend;

struct DfuRun {
    const char* name;
    bool bridge;
    bool detach_stalls;
    std::vector<std::string> arguments;
};

class WindowsDfuUpgrade : public WindowsBackend, public testing::WithParamInterface<DfuRun> {};

TEST_P(WindowsDfuUpgrade, InstallsTheBuiltInImageAndComesBack) {
    auto firmware = std::make_shared<sim::DfuFirmware>();
    firmware->config().detach_stall = GetParam().detach_stalls;
    if (GetParam().bridge) {
        simulator.attach(std::make_shared<sim::Bridge>(sim::BridgeConfig{}, firmware));
    } else {
        sim::TouchParts parts;
        parts.dfu_runtime = std::make_shared<sim::DfuRunTimeFunction>(firmware);
        simulator.attach(std::make_shared<sim::TouchController>(sim::TouchConfig{}, parts));
    }

    std::string output;
    EXPECT_EQ(run_tool(*windows, GetParam().arguments, output), 0) << output;
    EXPECT_TRUE(has_part(output, "flash-tool using USB DFU interface")) << output;
    ASSERT_TRUE(firmware->installed().has_value());
    const auto image = builtin_image();
    EXPECT_EQ(*firmware->installed(), std::vector<std::uint8_t>(image.begin(), image.end()));
    EXPECT_EQ(firmware->record().illegal, 0u);
    if (!GetParam().bridge) {
        EXPECT_GE(firmware->record().run_time_detaches, 1u);
    }
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, WindowsDfuUpgrade,
    testing::Values(DfuRun{"forced_on_touch", false, false, {"-n", "-d"}},
                    DfuRun{"forced_detach_stalls", false, true, {"-n", "-d"}},
                    DfuRun{"bridge", true, false, {"-n"}}),
    [](const testing::TestParamInfo<DfuRun>& info) { return std::string(info.param.name); });

TEST_F(WindowsBackend, KxpUpgradeProgramsTheBuiltInImageAndWaitsForTheBoot) {
    const sim::KxpTouch device = sim::make_kxp_touch(clock);
    simulator.attach(device.touch);

    std::string output;
    EXPECT_EQ(run_tool(*windows, {"-n", "-f"}, output), 0) << output;
    EXPECT_TRUE(has_part(output, "flash-tool using USB KXP interface")) << output;
    EXPECT_TRUE(has_part(output, "[OK - ")) << output;
    ASSERT_TRUE(device.link->record().programmed.has_value());
    const auto image = builtin_image();
    EXPECT_EQ(*device.link->record().programmed, std::vector<std::uint8_t>(image.begin(), image.end()));
    EXPECT_TRUE(device.link->record().refusals.empty());
    EXPECT_EQ(fake_win32::open_objects(), 0u);
}

}  // namespace
