// Devices on timelines of their own: runs on two devices at once, each on its
// own thread, each see their own virtual time, and take as long as one run
// alone does.
#include <gtest/gtest.h>

#include <thread>

#include "firmware/builtin_image.h"
#include "native/hid_path.h"
#include "report/console_reporter.h"
#include "sim/clock.h"
#include "sim/sim_platform.h"
#include "sim/touch_controller.h"

namespace {

struct Worker {
    sim::Clock timeline;
    usb_device_identity device;
    console_capture captured;
    bool ok = false;
};

// The built-in upgrade of `worker`'s device, on the calling thread.
void upgrade(platform::Platform& os, Worker& worker) {
    sim::SimPlatform::bind_thread(&worker.timeline);
    console_reporter console("", worker.captured.sink());
    run_context run{os, console, worker.device};
    run_job job;
    job.image = builtin_image();
    worker.ok = hid_path(run, job).ok();
    sim::SimPlatform::bind_thread(nullptr);
}

TEST(SimTimelines, TwoRunsAtOnceEachKeepTheirOwnTime) {
    // One run alone, for the length of an upgrade.
    sim::Clock alone_clock;
    sim::SimPlatform alone(alone_clock);
    Worker single;
    alone.attach(std::make_shared<sim::TouchController>(sim::TouchConfig{}), "", {}, &single.timeline);
    single.device = usb_list_devices(alone).front();
    upgrade(alone, single);
    ASSERT_TRUE(single.ok) << single.captured.both;
    const std::uint64_t one_run = single.timeline.now();
    ASSERT_GT(one_run, 1000u);

    sim::Clock base;
    sim::SimPlatform os(base);
    Worker workers[2];
    sim::TouchConfig second;
    second.serial = "TC0002";
    os.attach(std::make_shared<sim::TouchController>(sim::TouchConfig{}), "", {}, &workers[0].timeline);
    os.attach(std::make_shared<sim::TouchController>(second), "", {}, &workers[1].timeline);
    const std::vector<usb_device_identity> devices = usb_list_devices(os);
    ASSERT_EQ(devices.size(), 2u);
    workers[0].device = devices[0];
    workers[1].device = devices[1];
    std::thread first(upgrade, std::ref(os), std::ref(workers[0]));
    std::thread other(upgrade, std::ref(os), std::ref(workers[1]));
    first.join();
    other.join();
    for (const Worker& worker : workers) {
        EXPECT_TRUE(worker.ok) << worker.captured.both;
        EXPECT_EQ(worker.timeline.now(), one_run);
        EXPECT_EQ(worker.captured.out, single.captured.out);
    }
    EXPECT_EQ(base.now(), 0u);
}

TEST(SimTimelines, AnUnboundSleepMovesTheWholeBus) {
    sim::Clock base;
    sim::Clock timeline;
    sim::SimPlatform os(base);
    os.attach(std::make_shared<sim::TouchController>(sim::TouchConfig{}), "", {}, &timeline);
    os.sleep_ms(250);
    EXPECT_EQ(base.now(), 250u);
    EXPECT_EQ(timeline.now(), 250u);
    sim::SimPlatform::bind_thread(&timeline);
    os.sleep_ms(100);
    EXPECT_EQ(os.now_ms(), 350u);
    sim::SimPlatform::bind_thread(nullptr);
    EXPECT_EQ(os.now_ms(), 250u);
}

}  // namespace
