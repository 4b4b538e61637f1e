#include "platform/linux/device_locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform::linux_backend {
namespace {

bool writable_directory(const std::filesystem::path& directory) {
    return !directory.empty() && ::access(directory.c_str(), W_OK | X_OK) == 0;
}

// "1-4.2" as a file name: characters other than letters, digits, '.', '-'
// and '_' become '_', so that no key names a path elsewhere.
std::string file_name(const std::string& key) {
    std::string name = "flash-tool-usb-";
    for (const char c : key) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        name += plain ? c : '_';
    }
    return name + ".lock";
}

std::uint64_t read_holder(int fd) {
    char text[24] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    std::uint64_t pid = 0;
    for (ssize_t i = 0; i < got && text[i] >= '0' && text[i] <= '9'; ++i)
        pid = pid * 10 + static_cast<unsigned>(text[i] - '0');
    return pid;
}

// Best effort: a file opened read-only (another user's) keeps the old text,
// and the refusal then names a process that may be gone.
void write_holder(int fd) {
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0) return;
    if (::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) return;
}

}  // namespace

std::filesystem::path device_lock_directory() {
    if (writable_directory("/run/lock")) return "/run/lock";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && writable_directory(runtime))
        return runtime;
    return "/tmp";
}

DeviceLocks::DeviceLocks(std::filesystem::path directory) : directory_(std::move(directory)) {}

DeviceLocks::~DeviceLocks() = default;

DeviceLocks::LockFile::~LockFile() {
    if (fd >= 0) ::close(fd);
}

LockHandle DeviceLocks::lock(const std::string& key, std::uint64_t& holder) {
    holder = 0;
    if (key.empty()) return 0;
    const std::string path = (directory_ / file_name(key)).string();
    // Made readable and writable by all, so that another user's run can take
    // the lock after this one (umask would narrow it).
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
        static_cast<void>(::fchmod(fd, 0666));
    } else if (errno == EACCES) {
        // Another user's file that stayed narrow: flock needs no write access.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) return held_.add(std::make_shared<LockFile>(-1));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            holder = read_holder(fd);
            ::close(fd);
            return 0;
        }
        ::close(fd);
        return held_.add(std::make_shared<LockFile>(-1));
    }
    write_holder(fd);
    return held_.add(std::make_shared<LockFile>(fd));
}

void DeviceLocks::unlock(LockHandle handle) { held_.erase(handle); }

}  // namespace platform::linux_backend
