// Locks: a critical section for this process's threads, and the named
// mutexes Windows programs use to share a resource across processes.
#ifndef HWTK3_PLATFORM_SYNC_H
#define HWTK3_PLATFORM_SYNC_H

#include "platform/platform.h"

namespace hwtk3::platform {

// A recursive lock among the threads of this process (CRITICAL_SECTION).
class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter();
    void Leave();

private:
    alignas(8) unsigned char storage_[64];
};

// The calling thread's id, never 0 (GetCurrentThreadId; Linux: gettid).
DWORD GetCurrentThreadId();

constexpr DWORD kWaitObject0 = 0x00000000;     // WAIT_OBJECT_0
constexpr DWORD kWaitAbandoned = 0x00000080;   // WAIT_ABANDONED
constexpr DWORD kWaitTimeout = 0x00000102;     // WAIT_TIMEOUT
constexpr DWORD kWaitFailed = 0xFFFFFFFF;      // WAIT_FAILED

// Creates the named mutex, or opens it when another process made it first.
// Linux has no such objects: there it fails with ERROR_INVALID_FUNCTION.
HANDLE CreateMutexA(void* securityAttributes, BOOL initialOwner, const char* name);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL ReleaseMutex(HANDLE mutex);

}  // namespace hwtk3::platform

#endif  // HWTK3_PLATFORM_SYNC_H
