#include "sim/notebook.h"

#include <cstring>
#include <memory>

#include "sim/smbios_builder.h"

namespace hwtk3::sim {
namespace {
std::unique_ptr<Notebook> g_current;
}  // namespace

#if defined(_WIN32)
#  define NOTEBOOK_ATOMIC()
#else
#  define NOTEBOOK_ATOMIC() std::lock_guard<std::recursive_mutex> guard(mutex_)
#endif

Notebook& Current() {
    if (!g_current) g_current = std::make_unique<Notebook>();
    return *g_current;
}

Notebook& ResetCurrent() {
    g_current = std::make_unique<Notebook>();
    return *g_current;
}

Notebook::Notebook() { InstallMachine(*this, MachineIdentity{}); }

#if defined(_WIN32)
Notebook::Access::Access(Notebook& notebook) : notebook_(notebook) {}
Notebook::Access::~Access() = default;
#else
Notebook::Access::Access(Notebook& notebook) : notebook_(notebook) { notebook_.mutex_.lock(); }
Notebook::Access::~Access() { notebook_.mutex_.unlock(); }
#endif

std::uint32_t Notebook::GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                               std::uint32_t size, std::uint32_t& error) {
    constexpr std::uint32_t kProviderRsmb = 0x52534D42;  // 'RSMB'
    constexpr std::uint32_t kErrorInvalidFunction = 1;
    constexpr std::uint32_t kErrorNotFound = 2;
    constexpr std::uint32_t kErrorInsufficientBuffer = 122;
    (void)tableId;
    NOTEBOOK_ATOMIC();
    ++firmware.calls;
    if (provider != kProviderRsmb) {
        error = kErrorInvalidFunction;
        return 0;
    }
    if (firmware.rsmb.empty()) {
        error = kErrorNotFound;
        return 0;
    }
    const auto needed = static_cast<std::uint32_t>(firmware.rsmb.size());
    if (buffer == nullptr || size < needed) {
        error = kErrorInsufficientBuffer;
        return needed;
    }
    if (firmware.fillFails) {
        error = kErrorNotFound;
        return 0;
    }
    std::memcpy(buffer, firmware.rsmb.data(), needed);
    return needed;
}

std::uint32_t Notebook::GetDllStatus() {
    NOTEBOOK_ATOMIC();
    if (driver.NextCallFails()) return 1;
    return driver.status;
}

int Notebook::InitializeOls() {
    NOTEBOOK_ATOMIC();
    ++driver.initializeCalls;
    if (driver.NextCallFails() || driver.initializeFails) return 0;
    driver.initialized = true;
    return 1;
}

void Notebook::DeinitializeOls() {
    NOTEBOOK_ATOMIC();
    ++driver.deinitializeCalls;
    driver.initialized = false;
}

std::uint8_t Notebook::ReadIoPortByte(std::uint16_t port) {
    NOTEBOOK_ATOMIC();
    if (!driver.initialized) ++driver.accessesUninitialized;
    const std::uint8_t value = ec.Decodes(port) ? ec.In(port) : 0xFF;
    trace.Record(Event::Kind::PortRead, port, value, clock.NowMs());
    return value;
}

void Notebook::WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
    NOTEBOOK_ATOMIC();
    if (!driver.initialized) ++driver.accessesUninitialized;
    trace.Record(Event::Kind::PortWrite, port, value, clock.NowMs());
    if (ec.Decodes(port)) ec.Out(port, value);
}

std::uint32_t Notebook::ReadPhysicalMemory(std::uint32_t address, std::uint8_t* buffer,
                                           std::uint32_t count, std::uint32_t unitSize) {
    NOTEBOOK_ATOMIC();
    if (!driver.initialized) ++driver.accessesUninitialized;
    trace.Record(Event::Kind::PhysicalRead, address, count, clock.NowMs());
    if (driver.NextCallFails()) return 0;
    if (buffer == nullptr || unitSize == 0 || count % unitSize != 0) return 0;
    return memory.Read(address, buffer, count);
}

void Notebook::Sleep(std::uint32_t milliseconds) {
    NOTEBOOK_ATOMIC();
    trace.Record(Event::Kind::Sleep, milliseconds, 0, clock.NowMs());
    clock.Advance(milliseconds);
}

std::uint64_t Notebook::NowMs() {
    NOTEBOOK_ATOMIC();
    return clock.NowMs();
}

}  // namespace hwtk3::sim
