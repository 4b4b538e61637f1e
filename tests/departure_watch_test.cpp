// A system without enumeration tokens that tells a device's departure (as
// Windows' Configuration Manager does): a device back within one lookup is
// still seen to have restarted, through the watch the HID path sets before
// its restart command.
#include <gtest/gtest.h>

#include "firmware/builtin_image.h"
#include "native/hid_path.h"
#include "report/console_reporter.h"
#include "sim/clock.h"
#include "sim/sim_platform.h"
#include "sim/touch_controller.h"
#include "usb/usb_device_identity.h"

namespace {

constexpr std::uint64_t LEAVE_MS = 10;

class NotifyingSim : public sim::SimPlatform {
public:
    NotifyingSim(sim::Clock& clock, bool notifies) : SimPlatform(clock), clock_(clock), notifies_(notifies) {}
    platform::DepartureWatch hid_watch_departure(platform::HidHandle) override {
        if (!notifies_) return 0;
        watched_at_ = clock_.now();
        return 1;
    }
    // The device leaves LEAVE_MS after the restart command, sent right after
    // the watch was set.
    bool departed(platform::DepartureWatch) override { return clock_.now() >= watched_at_ + LEAVE_MS; }

private:
    sim::Clock& clock_;
    bool notifies_;
    std::uint64_t watched_at_ = 0;
};

TEST(DepartureWatch, ADeviceBackWithinOneLookupHasRestarted) {
    for (const bool notifies : {false, true}) {
        sim::Clock clock;
        NotifyingSim os(clock, notifies);
        sim::TouchConfig config;
        config.restart_leave_ms = LEAVE_MS;
        config.restart_back_ms = 60;  // gone between two lookups 100 ms apart
        sim::PortBehaviour windows_like;
        windows_like.gives_token = false;
        os.attach(std::make_shared<sim::TouchController>(config), "", windows_like);
        const auto device = usb_list_devices(os).front();
        const auto image = builtin_image();
        console_capture captured;
        console_reporter console("", captured.sink());
        run_context run{os, console, device};
        run_job job;
        job.image = image;
        EXPECT_EQ(hid_path(run, job).ok(), notifies) << captured.err;
    }
}

}  // namespace
