#include <windows.h>

#include <new>

#include "platform/os_internal.h"
#include "platform/sync.h"

namespace hwtk3::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "CriticalSection storage too small");

CriticalSection::CriticalSection() {
    ::InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}
CriticalSection::~CriticalSection() {
    ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
void CriticalSection::Enter() { ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void CriticalSection::Leave() { ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }

HANDLE CreateMutexA(void* securityAttributes, BOOL initialOwner, const char* name) {
    return ::CreateMutexA(static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes), initialOwner, name);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(handle, milliseconds);
}

BOOL ReleaseMutex(HANDLE mutex) { return ::ReleaseMutex(mutex); }

namespace internal {
bool CloseNamedMutex(HANDLE) { return false; }
}  // namespace internal

}  // namespace hwtk3::platform
