#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kxp/kxp_path.h"
#include "report/console_reporter.h"
#include "sim/clock.h"
#include "sim/sim_platform.h"
#include "sim/touch_controller.h"

namespace {

struct boot_case {
    const char* name;
    bool attached;
    serial_number serial;
    bool expected;
    const char* out;
    const char* err;
    std::uint64_t elapsed_ms;
};

class WaitForBoot : public ::testing::TestWithParam<boot_case> {
protected:
    sim::Clock clock_;
    sim::SimPlatform platform_{clock_};
};

TEST_P(WaitForBoot, PollsTheBusWithinItsBound) {
    const boot_case& c = GetParam();
    if (c.attached) platform_.attach(std::make_shared<sim::TouchController>(sim::TouchConfig{}));
    usb_device_identity device;
    device.product_id = 0x0001;
    if (c.serial) device.serial = std::string(*c.serial);
    console_capture captured;
    console_reporter console("", captured.sink());
    console.device(device, run_path::kxp);
    run_context run{platform_, console, device};
    const bool back = kxp_wait_for_boot(run, false).ok();
    EXPECT_EQ(back, c.expected);
    EXPECT_EQ(captured.out, std::string("flash-tool using USB KXP interface\n\n") + c.out);
    EXPECT_EQ(captured.err, c.err);
    EXPECT_EQ(clock_.now(), c.elapsed_ms);
}

const boot_case BOOT_CASES[] = {
    {"DevicePresent", true, std::nullopt, true, "* Wait for boot  [OK - 2f5a:0001]\n", "", 500},
    {"DeviceWithTheSerial", true, "TC0001", true, "* Wait for boot  [OK - 2f5a:0001]\n", "", 500},
    {"NoDevice", false, std::nullopt, false, "* Wait for boot  ", "[FAIL]\nERROR: The device did not come back.\n", 500 + 601 * 100},
    {"OnlyAnotherSerial", true, "TC0002", false, "* Wait for boot  ", "[FAIL]\nERROR: The device did not come back.\n", 500 + 601 * 100},
};

INSTANTIATE_TEST_SUITE_P(Frontend, WaitForBoot, ::testing::ValuesIn(BOOT_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
