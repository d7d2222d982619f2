// The firmware table service of the virtual notebook, reached through the
// same GetProcAddress lookup as the OS's own.
#include <cstring>

#include "platform/os_internal.h"
#include "platform/platform.h"
#include "platform/testing.h"

namespace hwtk3::platform {
namespace {

constexpr const char kGetSystemFirmwareTable[] = "GetSystemFirmwareTable";

testing::FirmwareTableHost* g_firmwareTableHost = nullptr;

DWORD HWTK3_WINAPI HostGetSystemFirmwareTable(DWORD provider, DWORD tableId, void* buffer, DWORD size) {
    if (g_firmwareTableHost == nullptr) {
        SetLastError(kErrorInvalidFunction);
        return 0;
    }
    DWORD error = 0;
    const DWORD answer = g_firmwareTableHost->GetTable(provider, tableId, buffer, size, error);
    if (error != 0) SetLastError(error);
    return answer;
}

}  // namespace

namespace testing {
void SetFirmwareTableHost(FirmwareTableHost* host) { g_firmwareTableHost = host; }
}  // namespace testing

namespace internal {
bool FirmwareTableOverride(const char* procName, ProcAddress& address) {
    if (g_firmwareTableHost == nullptr || procName == nullptr ||
        std::strcmp(procName, kGetSystemFirmwareTable) != 0) {
        return false;
    }
    address = g_firmwareTableHost->Exported()
                  ? reinterpret_cast<ProcAddress>(&HostGetSystemFirmwareTable)
                  : nullptr;
    return true;
}
}  // namespace internal

}  // namespace hwtk3::platform
