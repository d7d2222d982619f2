#include <time.h>

#include <cerrno>

#include "platform/os_internal.h"

namespace hwtk3::platform::internal {

void OsSleep(DWORD milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

}  // namespace hwtk3::platform::internal
