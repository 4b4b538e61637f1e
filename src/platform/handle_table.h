// The open objects of a backend, named by handle values, for a platform
// object that several threads use at once, each on devices of its own.
//
// The mutex inside is held only while an entry is looked up, added or
// taken out, never while its object is used: a lookup hands out a shared
// reference, so a transfer on one handle never waits for a transfer on
// another. An object whose handle is closed while a call on it is still
// under way lives until that call ends, and its destructor (closing a file
// descriptor, releasing a claimed interface) runs with the lock released.
// Handle values count up from 1 and are never given out twice.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

template <typename T>
class HandleTable {
public:
    using Handle = std::uintptr_t;

    HandleTable() = default;
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // Enters the object under a new handle; 0 for no object.
    Handle add(std::shared_ptr<T> object) {
        if (!object) return 0;
        const std::lock_guard lock(mutex_);
        const Handle handle = next_++;
        entries_.emplace(handle, std::move(object));
        return handle;
    }

    // The object of `handle`, kept alive by the caller's reference; null
    // when the handle names none.
    std::shared_ptr<T> find(Handle handle) const {
        const std::lock_guard lock(mutex_);
        const auto it = entries_.find(handle);
        return it == entries_.end() ? nullptr : it->second;
    }

    // Removes the entry and hands its object to the caller; null when the
    // handle names none.
    [[nodiscard]] std::shared_ptr<T> take(Handle handle) {
        const std::lock_guard lock(mutex_);
        const auto it = entries_.find(handle);
        if (it == entries_.end()) return nullptr;
        std::shared_ptr<T> object = std::move(it->second);
        entries_.erase(it);
        return object;
    }

    // Removes the entry. The object ends here, after the lock is released,
    // or when the last call still using it returns.
    void erase(Handle handle) { static_cast<void>(take(handle)); }

private:
    mutable std::mutex mutex_;
    std::map<Handle, std::shared_ptr<T>> entries_;
    Handle next_ = 1;
};

}  // namespace platform
