#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <new>

#include "platform/os_internal.h"
#include "platform/sync.h"
#include "platform/testing.h"

namespace hwtk3::platform {

static_assert(sizeof(pthread_mutex_t) <= 64, "CriticalSection storage too small");

CriticalSection::CriticalSection() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (storage_) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}
CriticalSection::~CriticalSection() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void CriticalSection::Enter() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void CriticalSection::Leave() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }

namespace {
testing::NamedMutexHost* g_namedMutexHost = nullptr;
}  // namespace

namespace testing {
void SetNamedMutexHost(NamedMutexHost* host) { g_namedMutexHost = host; }
}  // namespace testing

namespace internal {
bool CloseNamedMutex(HANDLE handle) { return g_namedMutexHost != nullptr && g_namedMutexHost->Close(handle); }
}  // namespace internal

// Other EC users on Linux do not announce themselves through a named object,
// so there is nothing to open; the EC lock then covers this process only.
HANDLE CreateMutexA(void*, BOOL, const char* name) {
    HANDLE mutex = g_namedMutexHost != nullptr ? g_namedMutexHost->Create(name) : nullptr;
    if (mutex == nullptr) SetLastError(kErrorInvalidFunction);
    return mutex;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return g_namedMutexHost != nullptr ? g_namedMutexHost->Wait(handle, milliseconds) : kWaitFailed;
}

BOOL ReleaseMutex(HANDLE mutex) { return g_namedMutexHost != nullptr ? g_namedMutexHost->Release(mutex) : 0; }

}  // namespace hwtk3::platform
