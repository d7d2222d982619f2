#include <windows.h>

#include "platform/os_internal.h"

namespace hwtk3::platform::internal {

HANDLE OsCreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                     DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    return ::CreateFileA(fileName, desiredAccess, shareMode, static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
                         creationDisposition, flagsAndAttributes, templateFile);
}

HANDLE OsCreateFileW(const wchar_t* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                     DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    return ::CreateFileW(fileName, desiredAccess, shareMode, static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
                         creationDisposition, flagsAndAttributes, templateFile);
}

BOOL OsDeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inBufferSize, void* outBuffer,
                       DWORD outBufferSize, DWORD* bytesReturned, void* overlapped) {
    return ::DeviceIoControl(device, ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize,
                             reinterpret_cast<LPDWORD>(bytesReturned), static_cast<LPOVERLAPPED>(overlapped));
}

BOOL OsCloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

}  // namespace hwtk3::platform::internal
