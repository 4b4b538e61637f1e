// One flash-tool per device on Windows: a device's named mutex held by one
// thread of control refuses another and names the process; another device
// is not blocked; once let go, the lock can be taken again.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "fake_win32.h"
#include "platform/windows/device_locks.h"

namespace {

using platform::windows::DeviceLocks;

TEST(WindowsDeviceLocks, AHeldDeviceIsRefusedAndItsHolderNamed) {
    fake_win32::reset(nullptr);  // no requests of earlier tests left pending
    // A mutex is recursive for its owning thread: the other holder is played
    // by a second thread, which owns it as another process would.
    const std::string key = "PCIROOT(0)#PCI(1400)#USB(" + std::to_string(GetCurrentProcessId()) + ")";
    DeviceLocks theirs;
    std::promise<void> taken, release;
    std::thread other([&] {
        std::uint64_t holder = 0;
        const platform::LockHandle handle = theirs.lock(key, holder);
        taken.set_value();
        release.get_future().wait();
        theirs.unlock(handle);
    });
    taken.get_future().wait();

    DeviceLocks mine;
    std::uint64_t holder = 0;
    EXPECT_EQ(mine.lock(key, holder), 0u);
    EXPECT_EQ(holder, GetCurrentProcessId());
    const platform::LockHandle elsewhere = mine.lock(key + "2", holder);
    EXPECT_NE(elsewhere, 0u);
    mine.unlock(elsewhere);

    release.set_value();
    other.join();
    const platform::LockHandle handle = mine.lock(key, holder);
    EXPECT_NE(handle, 0u);
    mine.unlock(handle);
}

}  // namespace
