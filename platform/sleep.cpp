#include "platform/os_internal.h"
#include "platform/platform.h"
#include "platform/testing.h"

namespace hwtk3::platform {
namespace {
testing::SleepHook g_sleepHook = nullptr;
void* g_sleepContext = nullptr;
}  // namespace

void Sleep(DWORD milliseconds) {
    if (g_sleepHook != nullptr) {
        g_sleepHook(milliseconds, g_sleepContext);
        return;
    }
    internal::OsSleep(milliseconds);
}

namespace testing {
void SetSleepHook(SleepHook hook, void* context) {
    g_sleepHook = hook;
    g_sleepContext = context;
}
}  // namespace testing

}  // namespace hwtk3::platform
