// The port-I/O library for a real Linux machine: the six entry points over
// iopl() with inb/outb for I/O ports and /dev/mem for physical memory.
// Built as libWinRing0.so beside the library. Without the privilege for
// port I/O, or under kernel lockdown, InitializeOls returns 0 and
// GetDllStatus reports an error, so Diag_InitHWIO fails cleanly instead of
// faulting on the first port access.
//
// Beside the kernel's EC driver. On Linux the kernel's ACPI EC driver owns
// ports 0x62/0x66, and a raw exchange there can interleave with one of the
// kernel's and corrupt both. Where the kernel offers EC RAM access (the
// ec_sys debugfs file /sys/kernel/debug/ec/ec0/io: 256 bytes, offset = EC
// RAM index), the EC RAM read (0x80, index) and write (0x81, index, value)
// commands the library sends byte by byte on 0x66/0x62 are recognised and
// carried out through that file, so the kernel serialises them with its
// own; the IBF/OBF handshake of those commands is answered here (IBF always
// clear, OBF set while an answer waits). Every other command on 0x66 (the
// firmware version 0xA1) and every other port still goes to the hardware.
#include "platform/winring0_provider_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#  include <sys/io.h>
#  define HWTK3_HAVE_PORT_IO 1
#endif

#define PROVIDER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr std::uint32_t kStatusOk = 0;
constexpr std::uint32_t kStatusNoPortAccess = 1;  // iopl() refused or not tried yet

constexpr std::uint16_t kEcData = 0x62;
constexpr std::uint16_t kEcCommand = 0x66;
constexpr std::uint8_t kReadEc = 0x80;   // ACPI RD_EC: index; answer
constexpr std::uint8_t kWriteEc = 0x81;  // ACPI WR_EC: index, value
constexpr std::uint8_t kObf = 0x01;
constexpr std::size_t kEcRamSize = 256;

constexpr const char kEcIoFile[] = "/sys/kernel/debug/ec/ec0/io";
constexpr const char kMemFile[] = "/dev/mem";

// Where the EC sequence on 0x62/0x66 stands.
enum class Ec62 {
    FileIdle,        // between commands; status and data answered here
    FileReadIndex,   // 0x80 taken, index next
    FileWriteIndex,  // 0x81 taken, index next
    FileWriteValue,  // 0x81 and index taken, value next
    Raw,             // a command that went to the hardware: everything follows it
};

struct State {
    std::mutex mutex;  // one port access at a time, as on the bus
    bool portAccess = false;
    Hwtk3PortIn in = nullptr;
    Hwtk3PortOut out = nullptr;
    int ecReadFd = -1;
    int ecWriteFd = -1;
    Ec62 ec62 = Ec62::FileIdle;
    bool obf = false;
    std::uint8_t latch = 0;
    std::uint8_t writeIndex = 0;
    Hwtk3ProviderReport report{};
};

State& S() {
    static State state;
    return state;
}

std::string Root() {
    const char* root = secure_getenv(kHwtk3SysfsRootVariable);
    return root != nullptr ? root : "";
}

void CopyText(char* to, std::size_t size, const std::string& text) {
    std::snprintf(to, size, "%s", text.c_str());
}

std::uint8_t RawIn(State& s, std::uint16_t port) {
    if (s.in != nullptr) return s.in(port);
#if defined(HWTK3_HAVE_PORT_IO)
    if (s.portAccess) return inb(port);
#endif
    (void)port;
    return 0xFF;
}

void RawOut(State& s, std::uint16_t port, std::uint8_t value) {
    if (s.out != nullptr) {
        s.out(port, value);
        return;
    }
#if defined(HWTK3_HAVE_PORT_IO)
    if (s.portAccess) outb(value, port);
#endif
    (void)port;
    (void)value;
}

void CloseEcFile(State& s) {
    if (s.ecReadFd >= 0) close(s.ecReadFd);
    if (s.ecWriteFd >= 0 && s.ecWriteFd != s.ecReadFd) close(s.ecWriteFd);
    s.ecReadFd = s.ecWriteFd = -1;
}

void OpenEcFile(State& s) {
    const std::string path = Root() + kEcIoFile;
    CopyText(s.report.ecIoPath, sizeof s.report.ecIoPath, path);
    s.ecWriteFd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    s.ecReadFd = s.ecWriteFd >= 0 ? s.ecWriteFd : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    s.report.ecIoReadable = s.ecReadFd >= 0;
    s.report.ecIoWritable = s.ecWriteFd >= 0;
}

void EcFileRead(State& s, std::uint8_t index) {
    std::uint8_t byte = 0;
    if (pread(s.ecReadFd, &byte, 1, index) == 1) {
        s.latch = byte;
        s.obf = true;
        ++s.report.ecRamReadsViaFile;
    } else {
        ++s.report.ecRamFileFailures;  // no answer: the host's wait sees no OBF
    }
}

void EcFileWrite(State& s, std::uint8_t index, std::uint8_t value) {
    if (s.ecWriteFd >= 0 && pwrite(s.ecWriteFd, &value, 1, index) == 1) {
        ++s.report.ecRamWritesViaFile;
    } else {
        ++s.report.ecRamFileFailures;
    }
}

std::uint8_t EcIn(State& s, std::uint16_t port) {
    if (s.ec62 == Ec62::Raw) return RawIn(s, port);
    if (port == kEcCommand) return s.obf ? kObf : 0;  // IBF never set: each byte is taken at once
    s.obf = false;
    return s.latch;
}

void EcOut(State& s, std::uint16_t port, std::uint8_t value) {
    if (port == kEcCommand) {
        s.obf = false;
        if (s.ecReadFd >= 0 && (value == kReadEc || value == kWriteEc)) {
            s.ec62 = value == kReadEc ? Ec62::FileReadIndex : Ec62::FileWriteIndex;
            return;
        }
        s.ec62 = Ec62::Raw;
        ++s.report.rawEcCommands;
        RawOut(s, port, value);
        return;
    }
    switch (s.ec62) {
        case Ec62::Raw:
            RawOut(s, port, value);
            return;
        case Ec62::FileReadIndex:
            s.ec62 = Ec62::FileIdle;
            EcFileRead(s, value);
            return;
        case Ec62::FileWriteIndex:
            s.writeIndex = value;
            s.ec62 = Ec62::FileWriteValue;
            return;
        case Ec62::FileWriteValue:
            s.ec62 = Ec62::FileIdle;
            EcFileWrite(s, s.writeIndex, value);
            return;
        case Ec62::FileIdle:
            return;  // a data byte no command waits for: never sent to the kernel's EC
    }
}

bool IsEc62(std::uint16_t port) { return port == kEcData || port == kEcCommand; }

}  // namespace

PROVIDER_EXPORT std::uint32_t GetDllStatus(void) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.portAccess ? kStatusOk : kStatusNoPortAccess;
}

PROVIDER_EXPORT int InitializeOls(void) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    CloseEcFile(s);
    const Hwtk3ProviderReport cleared{};
    s.report = cleared;
    s.ec62 = Ec62::FileIdle;
    s.obf = false;
    s.portAccess = false;
    const std::string lockdown = Hwtk3KernelLockdownMode(Root());
    CopyText(s.report.lockdown, sizeof s.report.lockdown, lockdown);
    if (Hwtk3LockdownForbidsPortIo(lockdown)) {
        s.report.refusal = kHwtk3RefusedLockdown;
        return 0;
    }
    if (s.in != nullptr && s.out != nullptr) {
        s.portAccess = true;
    } else {
#if defined(HWTK3_HAVE_PORT_IO)
        s.portAccess = iopl(3) == 0;
        if (!s.portAccess) {
            s.report.portErrno = errno;
            s.report.refusal = kHwtk3RefusedNoPortAccess;
        }
#else
        s.report.refusal = kHwtk3RefusedNoPortIo;
#endif
    }
    if (s.portAccess) OpenEcFile(s);
    return s.portAccess ? 1 : 0;
}

PROVIDER_EXPORT void DeinitializeOls(void) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
#if defined(HWTK3_HAVE_PORT_IO)
    if (s.portAccess && s.in == nullptr) iopl(0);
#endif
    CloseEcFile(s);
    s.portAccess = false;
    s.ec62 = Ec62::FileIdle;
    s.obf = false;
}

PROVIDER_EXPORT std::uint8_t ReadIoPortByte(std::uint16_t port) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.portAccess) return 0xFF;
    if (IsEc62(port)) return EcIn(s, port);
    ++s.report.otherPortAccesses;
    return RawIn(s, port);
}

PROVIDER_EXPORT void WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.portAccess) return;
    if (IsEc62(port)) {
        EcOut(s, port, value);
        return;
    }
    ++s.report.otherPortAccesses;
    RawOut(s, port, value);
}

PROVIDER_EXPORT std::uint32_t ReadPhysicalMemory(std::uintptr_t address, std::uint8_t* buffer,
                                                 std::uint32_t count, std::uint32_t unitSize) {
    if (buffer == nullptr || unitSize == 0 || count % unitSize != 0) return 0;
    {
        State& s = S();
        std::lock_guard<std::mutex> lock(s.mutex);
        ++s.report.physicalMemoryReads;
    }
    const int fd = open((Root() + kMemFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t got = pread(fd, buffer + done, count - done, static_cast<off_t>(address + done));
        if (got <= 0) break;
        done += static_cast<std::uint32_t>(got);
    }
    close(fd);
    return done;
}

PROVIDER_EXPORT void Hwtk3ProviderGetReport(Hwtk3ProviderReport* report) {
    if (report == nullptr) return;
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    *report = s.report;
}

PROVIDER_EXPORT void Hwtk3ProviderUsePorts(Hwtk3PortIn in, Hwtk3PortOut out) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.in = in;
    s.out = out;
}
