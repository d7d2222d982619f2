// Battery class devices over /sys/class/power_supply.
#include "platform/linux_services.h"

namespace hwtk3::platform::internal {

HANDLE OpenPowerSupply(const char*, DWORD) { return kInvalidHandleValue; }

BOOL PowerSupplyIoControl(HANDLE, DWORD, const void*, DWORD, void*, DWORD, DWORD*, DWORD& error) {
    error = kErrorInvalidFunction;
    return 0;
}

BOOL ClosePowerSupply(HANDLE) { return 0; }

}  // namespace hwtk3::platform::internal
