// Our Linux stand-ins for Win32 services that have no Linux counterpart of
// the same shape. Linux platform files only.
#ifndef HWTK3_PLATFORM_LINUX_SERVICES_H
#define HWTK3_PLATFORM_LINUX_SERVICES_H

#include "platform/platform.h"

namespace hwtk3::platform::internal {

// The exports our kernel32.dll stand-in answers GetProcAddress with
// (GetSystemFirmwareTable); nullptr for any other name.
ProcAddress Kernel32ProcAddress(const char* procName);

}  // namespace hwtk3::platform::internal

#endif  // HWTK3_PLATFORM_LINUX_SERVICES_H
