// Device calls: to the device host when one is set (the virtual notebook),
// otherwise to the OS.
#include <string>

#include "platform/os_internal.h"
#include "platform/platform.h"
#include "platform/testing.h"

namespace hwtk3::platform {
namespace {
testing::DeviceHost* g_deviceHost = nullptr;

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; text != nullptr && *text != 0; ++text) {
        narrow.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    }
    return narrow;
}
}  // namespace

namespace testing {
void SetDeviceHost(DeviceHost* host) { g_deviceHost = host; }
DeviceHost* CurrentDeviceHost() { return g_deviceHost; }
}  // namespace testing

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    if (g_deviceHost != nullptr) {
        DWORD error = 0;
        HANDLE handle = g_deviceHost->Open(fileName != nullptr ? fileName : "", desiredAccess, error);
        if (handle == kInvalidHandleValue) SetLastError(error);
        return handle;
    }
    return internal::OsCreateFileA(fileName, desiredAccess, shareMode, securityAttributes,
                                   creationDisposition, flagsAndAttributes, templateFile);
}

HANDLE CreateFileW(const wchar_t* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    if (g_deviceHost != nullptr) {
        DWORD error = 0;
        HANDLE handle = g_deviceHost->Open(Narrow(fileName), desiredAccess, error);
        if (handle == kInvalidHandleValue) SetLastError(error);
        return handle;
    }
    return internal::OsCreateFileW(fileName, desiredAccess, shareMode, securityAttributes,
                                   creationDisposition, flagsAndAttributes, templateFile);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inBufferSize, void* outBuffer,
                     DWORD outBufferSize, DWORD* bytesReturned, void* overlapped) {
    if (g_deviceHost != nullptr) {
        DWORD error = 0;
        const BOOL ok = g_deviceHost->IoControl(device, ioControlCode, inBuffer, inBufferSize, outBuffer,
                                                outBufferSize, bytesReturned, error);
        if (!ok) SetLastError(error);
        return ok;
    }
    return internal::OsDeviceIoControl(device, ioControlCode, inBuffer, inBufferSize, outBuffer,
                                       outBufferSize, bytesReturned, overlapped);
}

BOOL CloseHandle(HANDLE handle) {
    if (internal::CloseNamedMutex(handle)) return 1;
    if (g_deviceHost != nullptr) return g_deviceHost->Close(handle);
    return internal::OsCloseHandle(handle);
}

}  // namespace hwtk3::platform
