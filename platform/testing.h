// Hooks for the test suite and the virtual notebook. They are part of the
// static library only in effect: nothing here is exported from hwtk3.dll or
// from the Linux shared library.
#ifndef HWTK3_PLATFORM_TESTING_H
#define HWTK3_PLATFORM_TESTING_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace hwtk3::platform::testing {

// Diverts Sleep: the hook receives each pause instead of the OS. With a
// tick-count hook as well, GetTickCount64 asks it instead of the OS, so
// that deadlines run on the same virtual clock as the pauses. Pass nullptr
// to restore the real Sleep and clock.
using SleepHook = void (*)(DWORD milliseconds, void* context);
using TickCountHook = std::uint64_t (*)(void* context);
void SetSleepHook(SleepHook hook, void* context, TickCountHook tickCount = nullptr);

// Makes LoadLibraryA(name) open `path` instead of the file the ordinary
// search would find; an empty path makes the load fail as for a missing
// file. Pass nullptr as path to remove the override.
void OverrideModulePath(const char* name, const char* path);

// Successful LoadLibraryA calls minus FreeLibrary calls for modules loaded
// under `name`: the reference count Windows would keep.
int ModuleReferences(const char* name);

// Frees every module still loaded through LoadLibraryA, as when the process
// ends, so the next test starts with no references.
void ReleaseAllModules();

// Stands in for the machine's devices: when set, CreateFileA/CreateFileW,
// DeviceIoControl and CloseHandle go to it instead of the OS, and so does
// the enumeration of battery class devices. The virtual notebook
// implements it. Pass nullptr to restore the OS.
class DeviceHost {
public:
    virtual ~DeviceHost() = default;
    // kInvalidHandleValue and an error code when there is no such device.
    virtual HANDLE Open(const std::string& path, DWORD desiredAccess, DWORD& error) = 0;
    virtual BOOL IoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD* bytesReturned, DWORD& error) = 0;
    virtual BOOL Close(HANDLE device) = 0;
    // Device interface paths of the battery class, in enumeration order.
    virtual std::vector<std::string> BatteryInterfaces() = 0;
};
void SetDeviceHost(DeviceHost* host);
DeviceHost* CurrentDeviceHost();

// Stands in for the firmware table service: when set, GetProcAddress for
// "GetSystemFirmwareTable" yields an entry point that asks this host
// instead of the OS. The virtual notebook implements it. Pass nullptr to
// restore the OS.
class FirmwareTableHost {
public:
    virtual ~FirmwareTableHost() = default;
    // False: kernel32.dll has no such export, as on Windows before Vista.
    virtual bool Exported() = 0;
    // GetSystemFirmwareTable's contract: the answer size (the size needed
    // when `buffer` is null or `size` is too small), 0 and an error code
    // when there is no such table.
    virtual DWORD GetTable(DWORD provider, DWORD tableId, void* buffer, DWORD size, DWORD& error) = 0;
};
void SetFirmwareTableHost(FirmwareTableHost* host);

// Linux has no named mutexes; a test can stand in for them. When a host is
// set, CreateMutexA, WaitForSingleObject and ReleaseMutex, and CloseHandle
// of the handles it gave out, go to it. Pass nullptr to remove it.
class NamedMutexHost {
public:
    virtual ~NamedMutexHost() = default;
    virtual HANDLE Create(const char* name) = 0;  // nullptr: creation fails
    virtual DWORD Wait(HANDLE mutex, DWORD milliseconds) = 0;
    virtual BOOL Release(HANDLE mutex) = 0;
    virtual bool Close(HANDLE handle) = 0;  // false: not one of its handles
};
void SetNamedMutexHost(NamedMutexHost* host);

// Linux only: the directory our GetSystemFirmwareTable reads the SMBIOS
// entry point and table from instead of /sys/firmware/dmi/tables. Pass
// nullptr to restore it.
void SetFirmwareTableDirectory(const char* directory);

// Linux only: serves the module `name` from inside the process, for the
// fuzz targets, which link the library statically and have no shared
// object to load. While set, LoadLibraryA of `name` (also through the
// install-folder search) yields a handle standing for it, GetProcAddress on
// that handle asks `lookup`, and FreeLibrary only drops the reference.
// Pass nullptr to remove it.
using ProcLookup = ProcAddress (*)(const char* procName);
void ServeModuleInProcess(const char* name, ProcLookup lookup);

// Device information sets and LocalAlloc blocks the Linux layer has handed
// out and not yet had back, so tests can check every one is released.
struct SetupApiResources {
    int deviceInfoSets;
    int localAllocations;
};
SetupApiResources OutstandingSetupApiResources();

}  // namespace hwtk3::platform::testing

#endif  // HWTK3_PLATFORM_TESTING_H
