#include "sim/named_mutex.h"

#include "platform/sync.h"
#include "sim/notebook.h"

namespace hwtk3::sim {

void StationMutex::Note(const std::string& text) {
    Notebook& notebook = Current();
    notebook.trace.Note(text, notebook.clock.NowMs());
}

platform::HANDLE StationMutex::Create(const char* name) {
    name_ = name != nullptr ? name : "";
    if (creationFailures != 0) {
        if (creationFailures > 0) --creationFailures;
        Note("CreateMutexA " + name_ + " fails");
        return nullptr;
    }
    ++handles_;
    Note("CreateMutexA " + name_);
    return &token_;
}

platform::DWORD StationMutex::Wait(platform::HANDLE mutex, platform::DWORD milliseconds) {
    const std::string call = "WaitForSingleObject " + name_ + ", " + std::to_string(milliseconds) + " ms -> ";
    if (mutex != &token_ || handles_ == 0) {
        Note(call + "WAIT_FAILED");
        return platform::kWaitFailed;
    }
    switch (other) {
        case Other::HoldsLonger:
            Current().clock.Advance(milliseconds);
            Note(call + "WAIT_TIMEOUT");
            return platform::kWaitTimeout;
        case Other::Abandoned:
            other = Other::None;
            ours_ = true;
            Note(call + "WAIT_ABANDONED");
            return platform::kWaitAbandoned;
        case Other::None:
            break;
    }
    ours_ = true;
    Note(call + "WAIT_OBJECT_0");
    return platform::kWaitObject0;
}

platform::BOOL StationMutex::Release(platform::HANDLE mutex) {
    const bool held = mutex == &token_ && ours_;
    ours_ = false;
    Note("ReleaseMutex " + name_ + (held ? "" : " fails"));
    return held ? 1 : 0;
}

bool StationMutex::Close(platform::HANDLE handle) {
    if (handle != &token_ || handles_ == 0) return false;
    --handles_;
    Note("CloseHandle " + name_);
    return true;
}

}  // namespace hwtk3::sim
