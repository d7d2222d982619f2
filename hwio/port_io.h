// Binding of the port-I/O library: every access the library makes to I/O
// ports and physical memory goes through the entry points resolved here.
#ifndef HWTK3_HWIO_PORT_IO_H
#define HWTK3_HWIO_PORT_IO_H

#include <cstdint>

#include "platform/platform.h"

namespace hwtk3::hwio {

using platform::BOOL;
using platform::DWORD;

// The port-I/O library's entry points, all WINAPI.
using GetDllStatusFn = DWORD(HWTK3_WINAPI*)(void);
using InitializeOlsFn = BOOL(HWTK3_WINAPI*)(void);
using DeinitializeOlsFn = void(HWTK3_WINAPI*)(void);
using ReadIoPortByteFn = std::uint8_t(HWTK3_WINAPI*)(std::uint16_t port);
using WriteIoPortByteFn = void(HWTK3_WINAPI*)(std::uint16_t port, std::uint8_t value);
using ReadPhysicalMemoryFn = DWORD(HWTK3_WINAPI*)(std::uintptr_t address, std::uint8_t* buffer,
                                                  DWORD count, DWORD unitSize);

struct PortIoTable {
    platform::HMODULE module = nullptr;
    GetDllStatusFn GetDllStatus = nullptr;
    InitializeOlsFn InitializeOls = nullptr;
    DeinitializeOlsFn DeinitializeOls = nullptr;
    ReadIoPortByteFn ReadIoPortByte = nullptr;
    WriteIoPortByteFn WriteIoPortByte = nullptr;
    ReadPhysicalMemoryFn ReadPhysicalMemory = nullptr;
};

// File name of the port-I/O library.
constexpr const char kPortIoLibrary[] = "WinRing0.dll";

// True while the library is loaded, initialised and reports status 0. Every
// port and physical-memory access below is valid only then.
bool HwioReady();

// The binding and every use of its entry points share one in-process,
// recursive lock: Diag_InitHWIO and Diag_FreeHWIO change the binding with it
// held, and an EC session holds it from start to end, so a host thread
// calling Diag_FreeHWIO cannot unload the library under a session that
// another thread is running. A holder tests HwioReady under the lock. It
// also guards the EC firmware version text and the EC session state.
//
// Order of the library's locks, outermost first (a thread holding one may
// take only those after it):
//   1. the identity record's lock (smbios/dmi_decode.h): the scan of the
//      BIOS area binds the port-I/O library from inside the identity fill;
//   2. this binding lock;
//   3. the module lock of the platform layer (each LoadLibraryA/FreeLibrary).
// The ACPI device lock and the ACPI interface object's lock (acpi/) are
// never held together with 1 or 2. Nothing held under the binding lock
// reaches back to 1: the one identity value an EC session reads,
// MachineType, is read without a lock, and the identity record's lock
// checks (where assertions are compiled in) that its thread does not hold
// this one.
class BindingLock {
public:
    BindingLock();
    ~BindingLock();
    BindingLock(const BindingLock&) = delete;
    BindingLock& operator=(const BindingLock&) = delete;
};

// True when the calling thread holds the binding lock.
bool BindingLockHeld();

// Port and physical-memory access through the bound entry points. Each one
// takes the binding lock and does nothing when the binding is down (a read
// then yields 0xFF, as an undecoded port would; a memory read copies 0
// bytes).
std::uint8_t ReadPort(std::uint16_t port);
void WritePort(std::uint16_t port, std::uint8_t value);
// Copies `count` bytes from physical `address`, one byte per unit; returns
// the number of bytes the library copied.
std::uint32_t ReadPhysicalMemory(std::uint32_t address, std::uint8_t* buffer, std::uint32_t count);

namespace testing {
// Puts the binding back as at load: the library unloaded if it was loaded,
// every entry point forgotten, HwioReady false.
void ResetBinding();
}  // namespace testing

}  // namespace hwtk3::hwio

#endif  // HWTK3_HWIO_PORT_IO_H
