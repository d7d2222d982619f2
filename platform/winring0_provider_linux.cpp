// The port-I/O library for a real Linux machine: the six entry points over
// iopl() with inb/outb for I/O ports and /dev/mem for physical memory.
// Built as libWinRing0.so beside the library. Without the privilege for
// port I/O, InitializeOls returns 0 and GetDllStatus reports an error, so
// Diag_InitHWIO fails cleanly instead of faulting on the first port access.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#  include <sys/io.h>
#  define HWTK3_HAVE_PORT_IO 1
#endif

#define PROVIDER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr std::uint32_t kStatusOk = 0;
constexpr std::uint32_t kStatusNoPortAccess = 1;  // iopl() refused or not tried yet

bool g_portAccess = false;

}  // namespace

PROVIDER_EXPORT std::uint32_t GetDllStatus(void) {
    return g_portAccess ? kStatusOk : kStatusNoPortAccess;
}

PROVIDER_EXPORT int InitializeOls(void) {
#if defined(HWTK3_HAVE_PORT_IO)
    g_portAccess = iopl(3) == 0;
#endif
    return g_portAccess ? 1 : 0;
}

PROVIDER_EXPORT void DeinitializeOls(void) {
#if defined(HWTK3_HAVE_PORT_IO)
    if (g_portAccess) iopl(0);
#endif
    g_portAccess = false;
}

PROVIDER_EXPORT std::uint8_t ReadIoPortByte(std::uint16_t port) {
#if defined(HWTK3_HAVE_PORT_IO)
    if (g_portAccess) return inb(port);
#endif
    (void)port;
    return 0xFF;
}

PROVIDER_EXPORT void WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
#if defined(HWTK3_HAVE_PORT_IO)
    if (g_portAccess) outb(value, port);
#endif
    (void)port;
    (void)value;
}

PROVIDER_EXPORT std::uint32_t ReadPhysicalMemory(std::uintptr_t address, std::uint8_t* buffer,
                                                 std::uint32_t count, std::uint32_t unitSize) {
    if (buffer == nullptr || unitSize == 0 || count % unitSize != 0) return 0;
    const int fd = open("/dev/mem", O_RDONLY | O_CLOEXEC);
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
