#include <gtest/gtest.h>

#include "platform/forwarding_platform.h"
#include "sim/sim_platform.h"

namespace {

using namespace platform;

// The seam's calls that have a default answer in Platform: a decorator
// without its forwarder would still build and give that default. Each is
// answered here with what no default gives.
class Answering final : public sim::SimPlatform {
public:
    explicit Answering(sim::Clock& clock) : SimPlatform(clock) {}
    bool usb_placement(UsbHandle, UsbPlacement& placement) override {
        placement.location = "1-4";
        return true;
    }
    bool hid_placement(HidHandle, UsbPlacement& placement) override {
        placement.location = "2-1";
        return true;
    }
    DepartureWatch usb_watch_departure(UsbHandle) override { return 7; }
    DepartureWatch hid_watch_departure(HidHandle) override { return 8; }
    bool departed(DepartureWatch watch) override { return watch == 7; }
    void unwatch_departure(DepartureWatch watch) override { unwatched = watch; }
    LockHandle lock_device(const std::string&, std::uint64_t& holder) override {
        holder = 0;
        return 9;
    }
    void unlock_device(LockHandle handle) override { unlocked = handle; }
    std::string inaccessible_device_hint() override { return "hint"; }
    std::vector<UnopenedDevice> unopened_devices() override { return {UnopenedDevice{1, 2, "1-1", "busy"}}; }
    std::string last_os_error() override { return "EIO"; }

    DepartureWatch unwatched = 0;
    LockHandle unlocked = 0;
};

TEST(ForwardingPlatform, PassesOnTheCallsThatHaveADefault) {
    sim::Clock clock;
    Answering inner(clock);
    ForwardingPlatform forward(inner);
    UsbPlacement placement;
    EXPECT_TRUE(forward.usb_placement(1, placement));
    EXPECT_EQ(placement.location, "1-4");
    EXPECT_TRUE(forward.hid_placement(1, placement));
    EXPECT_EQ(placement.location, "2-1");
    EXPECT_EQ(forward.usb_watch_departure(1), 7u);
    EXPECT_EQ(forward.hid_watch_departure(1), 8u);
    EXPECT_TRUE(forward.departed(7));
    forward.unwatch_departure(7);
    EXPECT_EQ(inner.unwatched, 7u);
    std::uint64_t holder = 1;
    EXPECT_EQ(forward.lock_device("", holder), 9u);
    forward.unlock_device(9);
    EXPECT_EQ(inner.unlocked, 9u);
    EXPECT_EQ(forward.inaccessible_device_hint(), "hint");
    EXPECT_EQ(forward.unopened_devices().size(), 1u);
    EXPECT_EQ(forward.last_os_error(), "EIO");
    EXPECT_STREQ(forward.backend_name(), "simulator");
}

}  // namespace
