// Shared between the platform files only.
#ifndef HWTK3_PLATFORM_OS_INTERNAL_H
#define HWTK3_PLATFORM_OS_INTERNAL_H

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace hwtk3::platform::internal {

// The OS pause behind Sleep, and the OS clock behind GetTickCount64.
void OsSleep(DWORD milliseconds);
std::uint64_t OsTickCount64();

// Module bookkeeping shared by both loaders: the path override a test set
// for a module name (copied into `path`; false when there is none), and the
// reference counts. Every one of these takes the module lock below.
bool ModulePathOverride(const std::string& name, std::string& path);
void NoteModuleLoaded(HMODULE module, const std::string& name);
void NoteModuleFreed(HMODULE module);

// Guards the module bookkeeping, and on Linux the loader's modules served
// in-process, for one LoadLibraryA or FreeLibrary from start to end: the
// identity fill loads and frees kernel32.dll on one host thread while
// Diag_InitHWIO loads the port-I/O library on another. Recursive. It is the
// innermost of the library's locks: it may be taken with the identity
// record's lock or the binding lock held, and nothing of ours is taken
// under it (a loaded library's constructors do not call back into us).
class ModuleLock {
public:
    ModuleLock();
    ~ModuleLock();
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

// The OS side of the device calls.
HANDLE OsCreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                     DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE OsCreateFileW(const wchar_t* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                     DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL OsDeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inBufferSize, void* outBuffer,
                       DWORD outBufferSize, DWORD* bytesReturned, void* overlapped);
BOOL OsCloseHandle(HANDLE handle);

// Closes `handle` when it is a named mutex that the Linux layer handed out
// (see testing::NamedMutexHost); false for any other handle, and always on
// Windows, where CloseHandle closes mutexes itself.
bool CloseNamedMutex(HANDLE handle);

// When a firmware table host is set and `procName` is
// "GetSystemFirmwareTable": true, with `address` the host's entry point (or
// null when the host hides the export). False otherwise.
bool FirmwareTableOverride(const char* procName, ProcAddress& address);

}  // namespace hwtk3::platform::internal

#endif  // HWTK3_PLATFORM_OS_INTERNAL_H
