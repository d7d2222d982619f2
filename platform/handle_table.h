// Objects our Linux layer hands out as Win32 handles (device information
// sets, open battery devices). A handle is good only while its object is in
// the table, so a stale or foreign handle is refused, never dereferenced.
// Linux platform files only.
#ifndef HWTK3_PLATFORM_HANDLE_TABLE_H
#define HWTK3_PLATFORM_HANDLE_TABLE_H

#include <set>
#include <utility>

namespace hwtk3::platform::internal {

template <typename T>
class HandleTable {
public:
    void* Add(T object) {
        T* live = new T(std::move(object));
        live_.insert(live);
        return live;
    }
    // The object behind a handle, or nullptr when it is not one of ours.
    T* Find(void* handle) const {
        T* live = static_cast<T*>(handle);
        return live_.count(live) != 0 ? live : nullptr;
    }
    // False when the handle is not one of ours.
    bool Release(void* handle) {
        T* live = Find(handle);
        if (live == nullptr) return false;
        live_.erase(live);
        delete live;
        return true;
    }
    int Count() const { return static_cast<int>(live_.size()); }

private:
    std::set<T*> live_;
};

}  // namespace hwtk3::platform::internal

#endif  // HWTK3_PLATFORM_HANDLE_TABLE_H
