// One LinuxPlatform used by a thread per device, as a run on every attached
// device uses it: the two devices' feature reports are under way at the same
// time, and each thread's last_os_error names its own call's failure.
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <thread>

#include "linux_fake_sysfs.h"
#include "linux_hid_descriptors.h"
#include "platform/linux/linux_platform.h"

namespace {

using namespace std::chrono_literals;

// The threads' ioctls meet here: each waits, at most two seconds, until the
// other one is under way too, so a call alone (transfers taken one after the
// other) times out.
std::mutex meeting_mutex;
std::condition_variable meeting;
int arrived = 0;
thread_local bool stall_here = false;  // this thread's request stalls (EPIPE)

int meeting_ioctl(int, unsigned long request, void*) {
    std::unique_lock lock(meeting_mutex);
    ++arrived;
    meeting.notify_all();
    const bool met = meeting.wait_for(lock, 2s, [] { return arrived >= 2; });
    errno = met ? EPIPE : ETIMEDOUT;
    return met && !stall_here ? static_cast<int>(_IOC_SIZE(request)) : -1;
}

class LinuxHidrawThreads : public linux_test::FakeSysfs {};

TEST_F(LinuxHidrawThreads, TwoDevicesTransferAtOnceEachWithItsOwnError) {
    using linux_test::hid_node, linux_test::uevent, linux_test::VENDOR;
    add(hid_node("hidraw1", "1-4", uevent(3, 0x2F5A, 0x0001, "TC0001"), VENDOR));
    add(hid_node("hidraw2", "1-5", uevent(3, 0x2F5A, 0x0001, "TC0002"), VENDOR));
    platform::linux_backend::LinuxPlatform os({sys(), dev(), meeting_ioctl});
    arrived = 0;
    struct Worker {
        std::string node, os_error;
        bool stall, ok;
        platform::HidHandle handle;
    } workers[] = {{"hidraw1", "", true, false, 0}, {"hidraw2", "", false, false, 0}};
    // The errors are read once no call is under way any more (each ends
    // within its ioctl's time-out).
    std::latch calls_returned(2);
    const auto run = [&](Worker& worker) {
        stall_here = worker.stall;
        worker.handle = os.hid_open((dev() / worker.node).string());
        std::vector<std::uint8_t> report(257, 0xFF);
        worker.ok = worker.handle != 0 && os.hid_get_feature(worker.handle, report);
        calls_returned.arrive_and_wait();
        worker.os_error = os.last_os_error();
    };
    std::thread first(run, std::ref(workers[0]));
    std::thread second(run, std::ref(workers[1]));
    first.join();
    second.join();
    for (const Worker& worker : workers) os.hid_close(worker.handle);
    EXPECT_FALSE(workers[0].ok);
    EXPECT_EQ(workers[0].os_error, "EPIPE");
    EXPECT_TRUE(workers[1].ok) << "one device's transfer waited for the other's";
    EXPECT_EQ(workers[1].os_error, "") << "another thread's failure";
}

}  // namespace
