// The scan of the BIOS area on arbitrary physical memory: the entry point
// search, both entry point decodes and the structure tables they name,
// copied out through the port-I/O library's ReadPhysicalMemory.
//
// Input: the first 64 KB are the BIOS area (physical 0xF0000-0xFFFFF); an
// input shorter than that makes the area read come up short. The bytes
// after it are the memory the entry points point at: a read anywhere
// outside the BIOS area gets them from their start, so every table address
// an entry point names is backed, and a table longer than they are is a
// short read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/testing.h"
#include "smbios/smbios_acquire.h"

namespace {

using hwtk3::platform::BOOL;
using hwtk3::platform::DWORD;
using hwtk3::platform::ProcAddress;

constexpr std::uintptr_t kAreaBase = 0xF0000;
constexpr std::size_t kAreaSize = 0x10000;

const std::uint8_t* g_data = nullptr;
std::size_t g_size = 0;

std::size_t Copy(std::uint8_t* out, const std::uint8_t* from, std::size_t available, std::size_t count) {
    const std::size_t n = count < available ? count : available;
    if (n != 0) std::memcpy(out, from, n);
    return n;
}

// The port-I/O library's entry points, served from the input.
DWORD HWTK3_WINAPI GetDllStatus() { return 0; }
BOOL HWTK3_WINAPI InitializeOls() { return 1; }
void HWTK3_WINAPI DeinitializeOls() {}
std::uint8_t HWTK3_WINAPI ReadIoPortByte(std::uint16_t) { return 0xFF; }
void HWTK3_WINAPI WriteIoPortByte(std::uint16_t, std::uint8_t) {}
DWORD HWTK3_WINAPI ReadPhysicalMemory(std::uintptr_t address, std::uint8_t* buffer, DWORD count, DWORD unitSize) {
    if (unitSize != 1) return 0;
    const std::size_t area = g_size < kAreaSize ? g_size : kAreaSize;
    if (address >= kAreaBase && address < kAreaBase + kAreaSize) {
        const std::size_t offset = address - kAreaBase;
        if (count > kAreaSize - offset) return 0;  // runs past the top of the first megabyte
        return static_cast<DWORD>(Copy(buffer, g_data + offset, area > offset ? area - offset : 0, count));
    }
    return static_cast<DWORD>(Copy(buffer, g_data + area, g_size - area, count));
}

template <typename Fn>
ProcAddress Entry(Fn fn) {
    return reinterpret_cast<ProcAddress>(fn);
}

ProcAddress Lookup(const char* name) {
    struct Named {
        const char* name;
        ProcAddress address;
    };
    static const Named entries[] = {
        {"GetDllStatus", Entry(&GetDllStatus)},
        {"InitializeOls", Entry(&InitializeOls)},
        {"DeinitializeOls", Entry(&DeinitializeOls)},
        {"ReadIoPortByte", Entry(&ReadIoPortByte)},
        {"WriteIoPortByte", Entry(&WriteIoPortByte)},
        {"ReadPhysicalMemory", Entry(&ReadPhysicalMemory)},
    };
    for (const Named& e : entries) {
        if (std::strcmp(e.name, name) == 0) return e.address;
    }
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
    hwtk3::platform::testing::ServeModuleInProcess("WinRing0.dll", &Lookup);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    g_data = data;
    g_size = size;
    // Binds, scans, releases: every call is a whole scan of its own.
    hwtk3::smbios::scan_bios_area();
    return 0;
}
