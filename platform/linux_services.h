// Our Linux stand-ins for Win32 services that have no Linux counterpart of
// the same shape. Linux platform files only.
#ifndef HWTK3_PLATFORM_LINUX_SERVICES_H
#define HWTK3_PLATFORM_LINUX_SERVICES_H

#include <string>
#include <vector>

#include "platform/platform.h"

namespace hwtk3::platform::internal {

// The exports our kernel32.dll stand-in answers GetProcAddress with
// (GetSystemFirmwareTable); nullptr for any other name.
ProcAddress Kernel32ProcAddress(const char* procName);

// Battery devices over /sys/class/power_supply: a device path from the
// battery class enumeration opens a handle that answers the battery class
// I/O controls. Opening anything else yields kInvalidHandleValue.
HANDLE OpenPowerSupply(const char* path, DWORD desiredAccess);
BOOL PowerSupplyIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                          DWORD* bytesReturned, DWORD& error);
BOOL ClosePowerSupply(HANDLE device);

// Device paths of the batteries and UPSes under the power-supply root, in
// directory-name order: the battery class enumeration when no device host
// is set.
std::vector<std::string> PowerSupplyInterfaces();

// Test hooks: the directory read instead of /sys/class/power_supply
// (nullptr restores it), and the power-supply handles open right now.
void SetPowerSupplyRoot(const char* root);
int OpenPowerSupplyHandles();

}  // namespace hwtk3::platform::internal

#endif  // HWTK3_PLATFORM_LINUX_SERVICES_H
