// "Global\Access_EC" as the other programs on a factory station use it
// (hardware monitors, fan controllers), for the Linux tests: Linux has no
// named mutexes, so the tests hand the library this stand-in
// (platform::testing::SetNamedMutexHost). Every call is noted in the
// current notebook's trace; a wait for a mutex another program holds costs
// the notebook's clock the time waited.
#ifndef HWTK3_SIM_NAMED_MUTEX_H
#define HWTK3_SIM_NAMED_MUTEX_H

#include <string>

#include "platform/platform.h"
#include "platform/testing.h"

namespace hwtk3::sim {

class StationMutex : public platform::testing::NamedMutexHost {
public:
    // What the other program does with the mutex.
    enum class Other {
        None,         // nothing: every wait gets it at once
        HoldsLonger,  // holds it for longer than anyone waits
        Abandoned,    // ended while holding it: the next wait gets it, abandoned
    };
    Other other = Other::None;
    // Creations that fail from now on (the system refuses the object, as
    // for a process without the right to the global namespace); -1: all.
    int creationFailures = 0;

    platform::HANDLE Create(const char* name) override;
    platform::DWORD Wait(platform::HANDLE mutex, platform::DWORD milliseconds) override;
    platform::BOOL Release(platform::HANDLE mutex) override;
    bool Close(platform::HANDLE handle) override;

    bool Ours() const { return ours_; }
    int OpenHandles() const { return handles_; }

private:
    void Note(const std::string& text);

    std::string name_;
    int handles_ = 0;
    bool ours_ = false;
    int token_ = 0;  // its address is the handle
};

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_NAMED_MUTEX_H
