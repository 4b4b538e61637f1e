#include "platform/windows/device_locks.h"

#include <utility>

#include "platform/windows/wide_text.h"

namespace platform::windows {
namespace {

// Session-local names: a location path holds '#', '(' and ')', which names
// allow; a backslash (a namespace separator there) becomes '_'.
std::wstring object_name(const std::string& key, const wchar_t* suffix) {
    std::wstring name = L"Local\\flash-tool-usb-" + utf8_to_wide(key) + suffix;
    for (std::size_t i = 6; i < name.size(); ++i)
        if (name[i] == L'\\') name[i] = L'_';
    return name;
}

void close(HANDLE handle) {
    if (handle != nullptr) CloseHandle(handle);
}

std::uint64_t read_holder(const std::string& key) {
    const HANDLE word = OpenFileMappingW(FILE_MAP_READ, FALSE, object_name(key, L"-holder").c_str());
    if (word == nullptr) return 0;
    std::uint64_t pid = 0;
    if (const void* view = MapViewOfFile(word, FILE_MAP_READ, 0, 0, sizeof(DWORD))) {
        pid = *static_cast<const volatile DWORD*>(view);
        UnmapViewOfFile(view);
    }
    CloseHandle(word);
    return pid;
}

HANDLE write_holder(const std::string& key) {
    const HANDLE word = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD),
                                           object_name(key, L"-holder").c_str());
    if (word == nullptr) return nullptr;
    if (void* view = MapViewOfFile(word, FILE_MAP_WRITE, 0, 0, sizeof(DWORD))) {
        *static_cast<volatile DWORD*>(view) = GetCurrentProcessId();
        UnmapViewOfFile(view);
    }
    return word;
}

}  // namespace

DeviceLocks::Held::~Held() {
    if (mutex != nullptr) ReleaseMutex(mutex);
    close(mutex);
    close(holder);
}

LockHandle DeviceLocks::lock(const std::string& key, std::uint64_t& holder) {
    holder = 0;
    if (key.empty()) return 0;
    auto held = std::make_shared<Held>();
    held->mutex = CreateMutexW(nullptr, FALSE, object_name(key, L"").c_str());
    if (held->mutex != nullptr) {
        // WAIT_ABANDONED: the last holder ended without letting go; the
        // mutex is this process's now all the same.
        const DWORD wait = WaitForSingleObject(held->mutex, 0);
        if (wait == WAIT_TIMEOUT) {
            CloseHandle(std::exchange(held->mutex, nullptr));
            holder = read_holder(key);
            return 0;
        }
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            CloseHandle(std::exchange(held->mutex, nullptr));
        } else {
            held->holder = write_holder(key);
        }
    }
    return held_.add(std::move(held));
}

void DeviceLocks::unlock(LockHandle handle) { held_.erase(handle); }

}  // namespace platform::windows
