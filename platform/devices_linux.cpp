// Linux has no ACPI control driver of ours: opening it fails as on a
// Windows machine without the driver. Battery devices are served from
// /sys/class/power_supply by the battery part of this layer.
#include "platform/linux_services.h"
#include "platform/os_internal.h"

namespace hwtk3::platform::internal {

HANDLE OsCreateFileA(const char* fileName, DWORD desiredAccess, DWORD, void*, DWORD, DWORD, HANDLE) {
    HANDLE handle = OpenPowerSupply(fileName, desiredAccess);
    if (handle == kInvalidHandleValue) SetLastError(kErrorFileNotFound);
    return handle;
}

HANDLE OsCreateFileW(const wchar_t*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
    SetLastError(kErrorFileNotFound);
    return kInvalidHandleValue;
}

BOOL OsDeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inBufferSize, void* outBuffer,
                       DWORD outBufferSize, DWORD* bytesReturned, void*) {
    DWORD error = kErrorInvalidFunction;
    const BOOL ok = PowerSupplyIoControl(device, ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize,
                                         bytesReturned, error);
    if (!ok) SetLastError(error);
    return ok;
}

BOOL OsCloseHandle(HANDLE handle) { return ClosePowerSupply(handle); }

}  // namespace hwtk3::platform::internal
