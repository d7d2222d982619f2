// The port-I/O library for a real Linux machine: the six entry points over
// iopl() with inb/outb for I/O ports and /dev/mem for physical memory.
// Built as libWinRing0.so beside the library. Without the privilege for
// port I/O, or under kernel lockdown, InitializeOls returns 0 and
// GetDllStatus reports an error, so Diag_InitHWIO fails cleanly instead of
// faulting on the first port access; until InitializeOls has granted
// access (and after DeinitializeOls) the ports and /dev/mem are refused.
//
// Beside the kernel's EC driver. On Linux the kernel's ACPI EC driver owns
// ports 0x62/0x66 and may run an exchange there at any moment; a byte of
// ours written into it, or a byte of its answer read by us, corrupts both.
// Where the kernel offers EC RAM access (the ec_sys debugfs file
// /sys/kernel/debug/ec/ec0/io: 256 bytes, offset = EC RAM index), the EC
// RAM read (0x80, index) and write (0x81, index, value) commands the
// library sends byte by byte on 0x66/0x62 are recognised and carried out
// through that file, so the kernel serialises them with its own; the
// IBF/OBF handshake of those commands, and only of those, is answered here
// (IBF clear, OBF set while an answer waits). Everything else on 0x62/0x66
// (the firmware version 0xA1, the EC RAM commands when there is no file)
// goes to the EC, and the host sees the EC's own status with two rules that
// keep us out of the kernel's exchanges:
// - A byte in the data port that no command of ours asked for is the
//   kernel's: the host sees the channel busy (IBF) until its reader took
//   it, never OBF, and a read of the data port does not take it.
// - No byte goes to the EC while it is busy: the status is read again right
//   before each byte we send. A byte the EC is not ready for is held back,
//   and the rest of that exchange is dropped, its reads unanswered, so the
//   host's own bounded waits end it. Nothing here waits.
// The kernel can still start an exchange between that status read and our
// byte; no lock shared with it exists for the raw ports.
#include "platform/winring0_provider_linux.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
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
constexpr int kIoplGranted = 3;                   // ring 3 may use every port
constexpr int kIoplNone = 0;

constexpr std::uint16_t kEcData = 0x62;
constexpr std::uint16_t kEcCommand = 0x66;
constexpr std::uint8_t kReadEc = 0x80;   // ACPI RD_EC: index; answer
constexpr std::uint8_t kWriteEc = 0x81;  // ACPI WR_EC: index, value
constexpr std::uint8_t kObf = 0x01;
constexpr std::uint8_t kIbf = 0x02;
constexpr std::uint8_t kFileReady = 0x00;  // the file takes every byte at once
constexpr std::uint8_t kNoAnswer = 0xFF;   // a read nothing answered, as an undecoded port reads
constexpr std::uint8_t kTextEnd = 0x00;
// Parameter and answer bytes of the raw EC RAM commands; every other
// command (the firmware version 0xA1) takes none and answers a text, at
// most 31 characters and its NUL.
constexpr int kReadEcParameters = 1;
constexpr int kReadEcAnswerBytes = 1;
constexpr int kWriteEcParameters = 2;
constexpr int kMaxTextAnswerBytes = 32;

constexpr const char kEcIoFile[] = "/sys/kernel/debug/ec/ec0/io";
constexpr const char kMemFile[] = "/dev/mem";
constexpr std::uintmax_t kMaxMemOffset = static_cast<std::uintmax_t>(std::numeric_limits<off_t>::max());

// Where our side of 0x62/0x66 stands.
enum class Ec62 {
    Idle,            // no exchange of ours open; an answer read from the file may wait
    FileReadIndex,   // 0x80 taken for the file, index next
    FileWriteIndex,  // 0x81 taken for the file, index next
    FileWriteValue,  // 0x81 and index taken, value next
    Raw,             // a command of ours went to the EC: its parameters, then its answer
    HeldBack,        // a byte of our exchange was held back: the rest of it is dropped
};

struct State {
    std::mutex mutex;  // one port access at a time, as on the bus
    bool portAccess = false;
    bool viaIopl = false;
#if defined(HWTK3_PROVIDER_TESTING)
    std::string root;
    Hwtk3PortIn in = nullptr;
    Hwtk3PortOut out = nullptr;
#endif
    int ecReadFd = -1;
    int ecWriteFd = -1;
    Ec62 ec62 = Ec62::Idle;
    bool fileAnswer = false;  // `latch` came from the file and waits for the host
    std::uint8_t latch = 0;
    std::uint8_t writeIndex = 0;
    int rawParameters = 0;         // parameter bytes our raw command still takes
    int rawAnswerBytes = 0;        // answer bytes the EC may still send us for it
    bool rawAnswerIsText = false;  // that answer ends at its NUL
    Hwtk3ProviderReport report{};
};

State& S() {
    static State state;
    return state;
}

// The folder every file we read lies under: the machine's own, except in
// the test build.
std::string Root(const State& s) {
#if defined(HWTK3_PROVIDER_TESTING)
    return s.root;
#else
    (void)s;
    return "";
#endif
}

bool FakePorts(const State& s) {
#if defined(HWTK3_PROVIDER_TESTING)
    return s.in != nullptr && s.out != nullptr;
#else
    (void)s;
    return false;
#endif
}

void CopyText(char* to, std::size_t size, const std::string& text) {
    std::snprintf(to, size, "%s", text.c_str());
}

std::uint8_t RawIn(const State& s, std::uint16_t port) {
#if defined(HWTK3_PROVIDER_TESTING)
    if (FakePorts(s)) return s.in(port);
#endif
#if defined(HWTK3_HAVE_PORT_IO)
    if (s.viaIopl) return inb(port);
#endif
    (void)s;
    (void)port;
    return kNoAnswer;
}

void RawOut(const State& s, std::uint16_t port, std::uint8_t value) {
#if defined(HWTK3_PROVIDER_TESTING)
    if (FakePorts(s)) {
        s.out(port, value);
        return;
    }
#endif
#if defined(HWTK3_HAVE_PORT_IO)
    if (s.viaIopl) outb(value, port);
#endif
    (void)s;
    (void)port;
    (void)value;
}

void CloseEcFile(State& s) {
    if (s.ecReadFd >= 0) close(s.ecReadFd);
    if (s.ecWriteFd >= 0 && s.ecWriteFd != s.ecReadFd) close(s.ecWriteFd);
    s.ecReadFd = s.ecWriteFd = -1;
}

void OpenEcFile(State& s) {
    const std::string path = Root(s) + kEcIoFile;
    CopyText(s.report.ecIoPath, sizeof s.report.ecIoPath, path);
    s.ecWriteFd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    s.ecReadFd = s.ecWriteFd >= 0 ? s.ecWriteFd : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    s.report.ecIoReadable = s.ecReadFd >= 0;
    s.report.ecIoWritable = s.ecWriteFd >= 0;
}

void ForgetExchange(State& s) {
    s.ec62 = Ec62::Idle;
    s.fileAnswer = false;
    s.rawParameters = s.rawAnswerBytes = 0;
}

void EcFileRead(State& s, std::uint8_t index) {
    std::uint8_t byte = 0;
    if (pread(s.ecReadFd, &byte, 1, index) == 1) {
        s.latch = byte;
        s.fileAnswer = true;
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

// The EC has taken every byte written to it (IBF clear), and no answer
// waits in the data port for its reader (OBF clear).
bool Free(std::uint8_t status) { return (status & (kIbf | kObf)) == 0; }

// The EC's status as the host sees it while no answer of ours is due: a
// byte in the data port then belongs to the kernel's exchange, so the
// channel is busy for us until it is taken, and the host's stale-byte
// drain never sees OBF for it.
std::uint8_t StatusWithoutOurAnswer(std::uint8_t status) {
    return Free(status) ? status : static_cast<std::uint8_t>((status & ~kObf) | kIbf);
}

bool OurAnswerDue(const State& s) { return s.ec62 == Ec62::Raw && s.rawParameters == 0 && s.rawAnswerBytes > 0; }

void HoldBack(State& s) {
    ForgetExchange(s);
    s.ec62 = Ec62::HeldBack;
    ++s.report.rawEcBytesHeldBack;
}

void SendRawCommand(State& s, std::uint8_t command) {
    // A command starts an exchange: none of the kernel's may be under way.
    if (!Free(RawIn(s, kEcCommand))) {
        HoldBack(s);
        return;
    }
    RawOut(s, kEcCommand, command);
    ++s.report.rawEcCommands;
    s.ec62 = Ec62::Raw;
    s.rawParameters = command == kReadEc ? kReadEcParameters : command == kWriteEc ? kWriteEcParameters : 0;
    s.rawAnswerBytes = command == kReadEc ? kReadEcAnswerBytes : command == kWriteEc ? 0 : kMaxTextAnswerBytes;
    s.rawAnswerIsText = command != kReadEc && command != kWriteEc;
}

void SendRawParameter(State& s, std::uint8_t value) {
    if (s.rawParameters == 0) return;  // our command takes none: never sent into another exchange
    if ((RawIn(s, kEcCommand) & kIbf) != 0) {
        HoldBack(s);
        return;
    }
    RawOut(s, kEcData, value);
    if (--s.rawParameters == 0 && s.rawAnswerBytes == 0) s.ec62 = Ec62::Idle;
}

// A byte of our raw command's answer. It counts as taken only when OBF was
// set: one that comes later is still ours, for the host's stale-byte drain.
std::uint8_t TakeRawAnswer(State& s) {
    const bool full = (RawIn(s, kEcCommand) & kObf) != 0;
    const std::uint8_t byte = RawIn(s, kEcData);
    if (full && (--s.rawAnswerBytes == 0 || (s.rawAnswerIsText && byte == kTextEnd))) ForgetExchange(s);
    return byte;
}

std::uint8_t EcIn(State& s, std::uint16_t port) {
    if (port == kEcCommand) {
        switch (s.ec62) {
            case Ec62::FileReadIndex:
            case Ec62::FileWriteIndex:
            case Ec62::FileWriteValue:
                return kFileReady;
            case Ec62::Idle:
                if (s.fileAnswer) return kObf;
                break;
            case Ec62::Raw:
            case Ec62::HeldBack:
                break;
        }
        const std::uint8_t status = RawIn(s, kEcCommand);
        return OurAnswerDue(s) ? status : StatusWithoutOurAnswer(status);
    }
    if (s.ec62 == Ec62::Idle && s.fileAnswer) {
        s.fileAnswer = false;
        return s.latch;
    }
    return OurAnswerDue(s) ? TakeRawAnswer(s) : kNoAnswer;  // nothing of ours there to take
}

void EcOut(State& s, std::uint16_t port, std::uint8_t value) {
    if (port == kEcCommand) {
        ForgetExchange(s);  // a command ends whatever exchange of ours was open
        if (s.ecReadFd >= 0 && (value == kReadEc || value == kWriteEc)) {
            s.ec62 = value == kReadEc ? Ec62::FileReadIndex : Ec62::FileWriteIndex;
            return;
        }
        SendRawCommand(s, value);
        return;
    }
    switch (s.ec62) {
        case Ec62::Raw:
            SendRawParameter(s, value);
            return;
        case Ec62::FileReadIndex:
            s.ec62 = Ec62::Idle;
            EcFileRead(s, value);
            return;
        case Ec62::FileWriteIndex:
            s.writeIndex = value;
            s.ec62 = Ec62::FileWriteValue;
            return;
        case Ec62::FileWriteValue:
            s.ec62 = Ec62::Idle;
            EcFileWrite(s, s.writeIndex, value);
            return;
        case Ec62::Idle:
        case Ec62::HeldBack:
            return;  // no command of ours waits for it: never sent into another exchange
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
    ForgetExchange(s);
    s.portAccess = false;
    const std::string lockdown = Hwtk3KernelLockdownMode(Root(s));
    CopyText(s.report.lockdown, sizeof s.report.lockdown, lockdown);
    if (Hwtk3LockdownForbidsPortIo(lockdown)) {
        s.report.refusal = kHwtk3RefusedLockdown;
        return 0;
    }
    if (FakePorts(s)) {
        s.portAccess = true;
    } else {
#if defined(HWTK3_HAVE_PORT_IO)
        s.viaIopl = s.viaIopl || iopl(kIoplGranted) == 0;
        s.portAccess = s.viaIopl;
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
    if (s.viaIopl) iopl(kIoplNone);
#endif
    s.viaIopl = false;
    CloseEcFile(s);
    s.portAccess = false;
    ForgetExchange(s);
}

PROVIDER_EXPORT std::uint8_t ReadIoPortByte(std::uint16_t port) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.portAccess) return kNoAnswer;
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

// The address is the offset in /dev/mem. Fewer bytes than asked for come
// back when the range runs past what the kernel lets us read.
PROVIDER_EXPORT std::uint32_t ReadPhysicalMemory(std::uintptr_t address, std::uint8_t* buffer,
                                                 std::uint32_t count, std::uint32_t unitSize) {
    if (buffer == nullptr || unitSize == 0 || count % unitSize != 0) return 0;
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.portAccess) return 0;  // refused as the ports are
    if (address > kMaxMemOffset || count > kMaxMemOffset - address) return 0;
    ++s.report.physicalMemoryReads;
    const int fd = open((Root(s) + kMemFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t got = pread(fd, buffer + done, count - done, static_cast<off_t>(address + done));
        if (got < 0 && errno == EINTR) continue;
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

#if defined(HWTK3_PROVIDER_TESTING)
PROVIDER_EXPORT void Hwtk3ProviderUseFakeMachine(const char* root, Hwtk3PortIn in, Hwtk3PortOut out) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.root = root != nullptr ? root : "";
    s.in = in;
    s.out = out;
}
#endif
