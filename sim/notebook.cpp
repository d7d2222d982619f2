#include "sim/notebook.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

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

namespace {

// "GetSystemFirmwareTable RSMB 0, 1234 bytes -> 1234"
std::string FirmwareTableCall(std::uint32_t provider, std::uint32_t tableId, const void* buffer,
                              std::uint32_t size, std::uint32_t answer) {
    char text[96];
    std::snprintf(text, sizeof text, "GetSystemFirmwareTable %c%c%c%c %u, %s%u bytes -> %u",
                  static_cast<char>(provider >> 24), static_cast<char>(provider >> 16),
                  static_cast<char>(provider >> 8), static_cast<char>(provider), tableId,
                  buffer == nullptr ? "no buffer, " : "", size, answer);
    return text;
}

}  // namespace

#if defined(_WIN32)
Notebook::Access::Access(Notebook& notebook) : notebook_(notebook) {}
Notebook::Access::~Access() = default;
#else
Notebook::Access::Access(Notebook& notebook) : notebook_(notebook) { notebook_.mutex_.lock(); }
Notebook::Access::~Access() { notebook_.mutex_.unlock(); }
#endif

std::uint32_t Notebook::GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                               std::uint32_t size, std::uint32_t& error) {
    NOTEBOOK_ATOMIC();
    const std::uint32_t answer = AnswerFirmwareTable(provider, tableId, buffer, size, error);
    trace.Note(FirmwareTableCall(provider, tableId, buffer, size, answer), clock.NowMs());
    return answer;
}

std::uint32_t Notebook::AnswerFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
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
        if (firmware.growsAfterSizeQuery != 0) {
            firmware.rsmb.resize(firmware.rsmb.size() + firmware.growsAfterSizeQuery, 0);
            firmware.growsAfterSizeQuery = 0;
        }
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
    const std::uint32_t status = driver.NextCallFails() ? 1 : driver.status;
    trace.Note("GetDllStatus -> " + std::to_string(status), clock.NowMs());
    return status;
}

int Notebook::InitializeOls() {
    NOTEBOOK_ATOMIC();
    ++driver.initializeCalls;
    const bool fails = driver.NextCallFails() || driver.initializeFails;
    trace.Note(fails ? "InitializeOls -> 0" : "InitializeOls -> 1", clock.NowMs());
    if (fails) return 0;
    driver.initialized = true;
    return 1;
}

void Notebook::DeinitializeOls() {
    NOTEBOOK_ATOMIC();
    ++driver.deinitializeCalls;
    trace.Note("DeinitializeOls", clock.NowMs());
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
    Event& read = trace.Events().back();
    std::uint32_t copied = 0;
    if (!driver.NextCallFails() && buffer != nullptr && unitSize != 0 && count % unitSize == 0) {
        copied = memory.Read(address, buffer, count);
    }
    if (copied != count) read.note = std::to_string(copied);
    return copied;
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
