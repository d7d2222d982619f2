// Objects our Linux layer hands out as Win32 handles (device information
// sets, open battery devices). A handle is good only while its object is in
// the table, so a stale or foreign handle is refused, never dereferenced.
// Host threads may open and close handles at once, as on Windows: the table
// has a lock of its own (a leaf: nothing is called under it). One handle
// used by two threads while one closes it is the host's error there too.
// Linux platform files only.
#ifndef HWTK3_PLATFORM_HANDLE_TABLE_H
#define HWTK3_PLATFORM_HANDLE_TABLE_H

#include <mutex>
#include <set>
#include <utility>

namespace hwtk3::platform::internal {

template <typename T>
class HandleTable {
public:
    void* Add(T object) {
        T* live = new T(std::move(object));
        std::lock_guard<std::mutex> hold(mutex_);
        live_.insert(live);
        return live;
    }
    // The object behind a handle, or nullptr when it is not one of ours.
    T* Find(void* handle) const {
        T* live = static_cast<T*>(handle);
        std::lock_guard<std::mutex> hold(mutex_);
        return live_.count(live) != 0 ? live : nullptr;
    }
    // False when the handle is not one of ours.
    bool Release(void* handle) {
        T* live = static_cast<T*>(handle);
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (live_.erase(live) == 0) return false;
        }
        delete live;
        return true;
    }
    int Count() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return static_cast<int>(live_.size());
    }

private:
    mutable std::mutex mutex_;
    std::set<T*> live_;
};

}  // namespace hwtk3::platform::internal

#endif  // HWTK3_PLATFORM_HANDLE_TABLE_H
