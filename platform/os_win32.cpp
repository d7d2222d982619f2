#include <windows.h>

#include "platform/os_internal.h"

namespace hwtk3::platform::internal {

void OsSleep(DWORD milliseconds) { ::Sleep(milliseconds); }

std::uint64_t OsTickCount64() { return ::GetTickCount64(); }

}  // namespace hwtk3::platform::internal
