// One flash-tool per device on Linux: the lock of one process refuses
// another, names it, and is gone once that process is.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/linux/device_locks.h"

namespace {

using platform::linux_backend::DeviceLocks;

TEST(LinuxDeviceLocks, AnotherProcessIsRefusedUntilTheHolderEnds) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("ft-locks-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        DeviceLocks locks(dir);
        std::uint64_t holder = 0;
        const bool held = locks.lock("1-4.2", holder) != 0;
        char byte = held ? 'y' : 'n';
        if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
        if (::read(done[0], &byte, 1) != 1) ::_exit(2);  // held until the parent has looked
        ::_exit(0);                                      // the kernel releases the lock; no unlock
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');

    DeviceLocks locks(dir);
    std::uint64_t holder = 0;
    EXPECT_EQ(locks.lock("1-4.2", holder), 0u);
    EXPECT_EQ(holder, static_cast<std::uint64_t>(child));
    const platform::LockHandle other = locks.lock("1-4.3", holder);
    EXPECT_NE(other, 0u) << "another device is not blocked";
    locks.unlock(other);

    ASSERT_EQ(::write(done[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const platform::LockHandle mine = locks.lock("1-4.2", holder);
    EXPECT_NE(mine, 0u);
    // A key with a path in it stays a file of the lock directory.
    EXPECT_NE(locks.lock("../../etc/x", holder), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.parent_path().parent_path() / "etc" / "x"));
    locks.unlock(mine);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
    std::filesystem::remove_all(dir);
}

}  // namespace
