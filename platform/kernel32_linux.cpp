// The kernel32.dll exports our Linux layer answers by name.
#include <cstring>

#include "platform/linux_services.h"

namespace hwtk3::platform::internal {

ProcAddress Kernel32ProcAddress(const char* procName) {
    (void)procName;
    return nullptr;
}

}  // namespace hwtk3::platform::internal
