#include <windows.h>

#include "platform/os_internal.h"

namespace hwtk3::platform::internal {

void OsSleep(DWORD milliseconds) { ::Sleep(milliseconds); }

}  // namespace hwtk3::platform::internal
