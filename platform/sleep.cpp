#include "platform/os_internal.h"
#include "platform/platform.h"
#include "platform/testing.h"

namespace hwtk3::platform {
namespace {
testing::SleepHook g_sleepHook = nullptr;
testing::TickCountHook g_tickCountHook = nullptr;
void* g_sleepContext = nullptr;
}  // namespace

void Sleep(DWORD milliseconds) {
    if (g_sleepHook != nullptr) {
        g_sleepHook(milliseconds, g_sleepContext);
        return;
    }
    internal::OsSleep(milliseconds);
}

std::uint64_t GetTickCount64() {
    if (g_tickCountHook != nullptr) return g_tickCountHook(g_sleepContext);
    return internal::OsTickCount64();
}

namespace testing {
void SetSleepHook(SleepHook hook, void* context, TickCountHook tickCount) {
    g_sleepHook = hook;
    g_tickCountHook = hook != nullptr ? tickCount : nullptr;
    g_sleepContext = context;
}
}  // namespace testing

}  // namespace hwtk3::platform
