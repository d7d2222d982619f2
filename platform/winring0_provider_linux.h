// What the Linux port-I/O provider (libWinRing0.so) tells a host beyond the
// six entry points the library binds: why it could not give port access,
// and which way each EC exchange went. Plain C symbols, looked up with
// dlsym by hwtk3-diag; the library itself never uses them.
#ifndef HWTK3_PLATFORM_WINRING0_PROVIDER_LINUX_H
#define HWTK3_PLATFORM_WINRING0_PROVIDER_LINUX_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

extern "C" {

// Why InitializeOls refused, or 0 when it did not.
enum Hwtk3ProviderRefusal : std::int32_t {
    kHwtk3RefusedNone = 0,
    kHwtk3RefusedLockdown = 1,  // kernel lockdown in integrity or confidentiality mode
    kHwtk3RefusedNoPortAccess = 2,  // iopl() failed (errno in portErrno)
    kHwtk3RefusedNoPortIo = 3,  // not an x86 build
};

struct Hwtk3ProviderReport {
    std::int32_t refusal;     // Hwtk3ProviderRefusal of the last InitializeOls
    std::int32_t portErrno;   // errno of the failed iopl()
    char lockdown[24];        // the selected lockdown mode ("none", "integrity", ...), "" when unknown
    // The kernel's EC RAM file (ec_sys): whether it could be opened for
    // reading and for writing when the binding came up, and its path.
    std::int32_t ecIoReadable;
    std::int32_t ecIoWritable;
    char ecIoPath[160];
    // EC RAM commands on 0x62/0x66 carried through that file, and those
    // that failed there (no answer handed to the host, nothing written).
    std::uint32_t ecRamReadsViaFile;
    std::uint32_t ecRamWritesViaFile;
    std::uint32_t ecRamFileFailures;
    // Commands written to port 0x66 that went to the raw port (the firmware
    // version 0xA1, or every command when there is no EC RAM file).
    std::uint32_t rawEcCommands;
    // Port accesses outside 0x62/0x66 (the other channels and windows).
    std::uint32_t otherPortAccesses;
    std::uint32_t physicalMemoryReads;
    // Bytes for 0x62/0x66 not sent because the EC was busy with someone
    // else's exchange at that moment; their exchange was dropped.
    std::uint32_t rawEcBytesHeldBack;
};

// Fills `report` (counters since the last InitializeOls).
__attribute__((visibility("default"))) void Hwtk3ProviderGetReport(Hwtk3ProviderReport* report);

// Raw port access of a fake machine.
using Hwtk3PortIn = std::uint8_t (*)(std::uint16_t port);
using Hwtk3PortOut = void (*)(std::uint16_t port, std::uint8_t value);

}  // extern "C"

// Only the provider's test build (libWinRing0Testing.so, never installed)
// has this entry point, looked up with dlsym: every file it reads (/sys/...,
// /dev/mem) is taken under `root` ("" for the machine's own), and every raw
// port access goes to `in`/`out`; with both set, InitializeOls grants port
// access without iopl(). Null functions restore the machine's ports.
inline constexpr const char kHwtk3ProviderTestingEntry[] = "Hwtk3ProviderUseFakeMachine";
using Hwtk3ProviderUseFakeMachineFn = void (*)(const char* root, Hwtk3PortIn in, Hwtk3PortOut out);

// The kernel lockdown mode selected in `root`/sys/kernel/security/lockdown,
// the word in brackets of "none [integrity] confidentiality"; "" when the
// kernel has no such file. The provider refuses port access by it, and
// hwtk3-diag tells why before it tries.
inline std::string Hwtk3KernelLockdownMode(const std::string& root) {
    std::FILE* file = std::fopen((root + "/sys/kernel/security/lockdown").c_str(), "r");
    if (file == nullptr) return "";
    char text[128] = {};
    const bool read = std::fgets(text, sizeof text, file) != nullptr;
    std::fclose(file);
    const char* open = read ? std::strchr(text, '[') : nullptr;
    const char* close = open != nullptr ? std::strchr(open, ']') : nullptr;
    return close != nullptr ? std::string(open + 1, close) : "";
}

// Modes in which the kernel forbids raw port I/O and /dev/mem.
inline bool Hwtk3LockdownForbidsPortIo(const std::string& mode) {
    return mode == "integrity" || mode == "confidentiality";
}

#endif  // HWTK3_PLATFORM_WINRING0_PROVIDER_LINUX_H
