// The operating-system services the library uses, under the names of the
// Win32 calls they stand for. On Windows each one is the Win32 call itself;
// on Linux each one is a small implementation of our own with the same
// contract. Nothing outside platform/ includes an OS header.
#ifndef HWTK3_PLATFORM_PLATFORM_H
#define HWTK3_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>

// Calling convention of the Win32 API and of the port-I/O library's entry
// points: __stdcall on 32-bit Windows, the default everywhere else.
#if defined(_WIN32) && !defined(_WIN64)
#  define HWTK3_WINAPI __stdcall
#else
#  define HWTK3_WINAPI
#endif

namespace hwtk3::platform {

using DWORD = std::uint32_t;
using BOOL = int;
using HMODULE = void*;
using HANDLE = void*;
using ProcAddress = void (*)();

// Win32 error codes our Linux layer reports as Windows would.
constexpr DWORD kErrorFileNotFound = 2;        // ERROR_FILE_NOT_FOUND
constexpr DWORD kErrorInvalidFunction = 1;     // ERROR_INVALID_FUNCTION
constexpr DWORD kErrorNotEnoughMemory = 8;     // ERROR_NOT_ENOUGH_MEMORY
constexpr DWORD kErrorInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
constexpr DWORD kErrorModNotFound = 126;       // ERROR_MOD_NOT_FOUND
constexpr DWORD kErrorProcNotFound = 127;      // ERROR_PROC_NOT_FOUND
constexpr DWORD kErrorNoMoreItems = 259;       // ERROR_NO_MORE_ITEMS

const HANDLE kInvalidHandleValue = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// Dynamic libraries. On Linux "Name.dll" is looked up as "libName.so" by the
// ordinary dynamic-loader search.
HMODULE LoadLibraryA(const char* fileName);
ProcAddress GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);

// Loads a library that must come from where we were installed, so that a
// file of the same name planted in the current directory or on PATH is
// never run with the host's rights. Windows: the folder that holds this
// library's own module, then the application's folder, then the system
// folder (LoadLibraryExA with the LOAD_LIBRARY_SEARCH_* flags where the
// system has them). Linux: the folder that holds this library, then the
// ordinary dynamic-loader search. GetLastError tells why the last attempt
// failed.
HMODULE LoadLibraryFromInstallFolders(const char* fileName);

DWORD GetLastError();
void SetLastError(DWORD error);

// Standard output, where every line of the library goes: printf and fputs,
// each flushed at once, so our lines keep their place beside the host's.
#if defined(__GNUC__)
#  define HWTK3_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#  define HWTK3_PRINTF_FORMAT
#endif
void Printf(const char* format, ...) HWTK3_PRINTF_FORMAT;
void PutText(const char* text);

// Blocks the calling thread. Tests may divert it to a virtual clock.
void Sleep(DWORD milliseconds);

// Milliseconds since the system started, from a clock that never goes back
// and is not set by the user. Windows: GetTickCount64; Linux: CLOCK_MONOTONIC.
// Tests may divert it to the same virtual clock as Sleep.
std::uint64_t GetTickCount64();

// Devices opened by path: the ACPI control driver ("\\.\ZORDACPI") and
// battery class devices. On Linux a device nobody serves fails to open with
// ERROR_FILE_NOT_FOUND, as on a Windows machine without that driver.
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kFileShareRead = 0x1;
constexpr DWORD kFileShareWrite = 0x2;
constexpr DWORD kOpenExisting = 3;
constexpr DWORD kFileAttributeNormal = 0x80;

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE CreateFileW(const wchar_t* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inBufferSize, void* outBuffer,
                     DWORD outBufferSize, DWORD* bytesReturned, void* overlapped);
BOOL CloseHandle(HANDLE handle);

// Setup API and local memory: finding the devices of an interface class
// (the battery class) and the buffers their interface details come in. On
// Windows these are the SETUPAPI and KERNEL32 calls; on Linux our layer
// enumerates the device host's batteries, or /sys/class/power_supply.
using HDEVINFO = void*;
using HLOCAL = void*;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    std::uintptr_t Reserved;
};

// The 32-bit Windows headers pack this record to 1 byte, so its fixed size
// there is 5; elsewhere it follows the natural alignment.
#if defined(_WIN32) && !defined(_WIN64)
#  pragma pack(push, 1)
#endif
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    char DevicePath[1];
};
#if defined(_WIN32) && !defined(_WIN64)
#  pragma pack(pop)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SP_DEVICE_INTERFACE_DATA layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "SP_DEVICE_INTERFACE_DETAIL_DATA_A layout");
static_assert(sizeof(GUID) == 16, "GUID layout");
#endif

constexpr DWORD kDigcfPresent = 0x2;           // DIGCF_PRESENT
constexpr DWORD kDigcfDeviceInterface = 0x10;  // DIGCF_DEVICEINTERFACE
constexpr DWORD kSpintActive = 0x1;            // SPINT_ACTIVE
constexpr DWORD kLptr = 0x40;                  // LPTR: fixed, zero-filled
constexpr DWORD kErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE
constexpr DWORD kErrorInvalidParameter = 87;      // ERROR_INVALID_PARAMETER
constexpr DWORD kErrorInvalidUserBuffer = 1784;   // ERROR_INVALID_USER_BUFFER

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, void* parentWindow, DWORD flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* interfaceClassGuid,
                                 DWORD memberIndex, SP_DEVICE_INTERFACE_DATA* interfaceData);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                                      DWORD* requiredSize, void* deviceInfoData);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

HLOCAL LocalAlloc(DWORD flags, std::size_t bytes);
HLOCAL LocalFree(HLOCAL memory);  // nullptr on success

}  // namespace hwtk3::platform

#endif  // HWTK3_PLATFORM_PLATFORM_H
