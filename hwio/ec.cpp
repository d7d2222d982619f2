#include "hwio/ec.h"

#include "hwio/port_io.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace hwtk3::ec {
namespace {

// Pause inside Ec62Read after the command and after the index.
constexpr std::uint32_t kEc62ReadCommandPauseMs = 10;
constexpr std::uint32_t kEc62ReadIndexPauseMs = 20;
// Pause inside Ec62Write after the command and after the index.
constexpr std::uint32_t kEc62WritePauseMs = 1;

platform::CriticalSection& EcLock() {
    static platform::CriticalSection lock;
    return lock;
}

// Guarded by EcLock: how deep the current holder's transactions nest, and
// whether its outermost one got the shared mutex.
int g_transactionDepth = 0;
bool g_sharedMutexHeld = false;
platform::HANDLE g_sharedMutex = nullptr;
bool g_sharedMutexUnavailable = false;

void AcquireSharedMutex() {
    if (g_sharedMutex == nullptr && !g_sharedMutexUnavailable) {
        g_sharedMutex = platform::CreateMutexA(nullptr, 0, kSharedEcMutexName);
        g_sharedMutexUnavailable = g_sharedMutex == nullptr;
    }
    if (g_sharedMutex == nullptr) return;
    const platform::DWORD wait = platform::WaitForSingleObject(g_sharedMutex, kSharedEcMutexWaitMs);
    g_sharedMutexHeld = wait == platform::kWaitObject0 || wait == platform::kWaitAbandoned;
}

bool StatusHas(const CommandChannel& channel, std::uint8_t mask, bool wanted) {
    return ((hwio::ReadPort(channel.command) & mask) != 0) == wanted;
}

bool PollUntil(const CommandChannel& channel, std::uint8_t mask, bool wanted) {
    for (int poll = 0; poll < kWaitPollLimit; ++poll) {
        if (StatusHas(channel, mask, wanted)) return true;
        platform::Sleep(kPollPauseMs);
    }
    return false;
}

int CountedPoll(int count, std::uint8_t mask, bool wanted) {
    for (int poll = 0; poll < count; ++poll) {
        if (StatusHas(EcPort62, mask, wanted)) return 0;
        platform::Sleep(kBoundedPollPauseMs);
    }
    return -1;
}

}  // namespace

Transaction::Transaction() {
    EcLock().Enter();
    if (g_transactionDepth++ == 0) AcquireSharedMutex();
}

Transaction::~Transaction() {
    if (--g_transactionDepth == 0 && g_sharedMutexHeld) {
        platform::ReleaseMutex(g_sharedMutex);
        g_sharedMutexHeld = false;
    }
    EcLock().Leave();
}

bool WaitIBF(const CommandChannel& channel) { return PollUntil(channel, kStatusIBF, false); }
bool WaitOBF(const CommandChannel& channel) { return PollUntil(channel, kStatusOBF, true); }

int WaitIBFTimeout(int count) { return CountedPoll(count, kStatusIBF, false); }
int WaitOBFTimeout(int count) { return CountedPoll(count, kStatusOBF, true); }

void Exchange::SendCommand(std::uint8_t command) {
    if (answered_ && (answered_ = WaitIBF(channel_))) hwio::WritePort(channel_.command, command);
}

void Exchange::WriteData(std::uint8_t value) {
    if (answered_ && (answered_ = WaitIBF(channel_))) hwio::WritePort(channel_.data, value);
}

std::uint8_t Exchange::ReadData() {
    if (answered_ && (answered_ = WaitOBF(channel_))) return hwio::ReadPort(channel_.data);
    return kNoAnswer;
}

std::uint8_t Ec62Read(std::uint8_t index) {
    std::uint8_t value = kNoAnswer;
    Ec62TryRead(index, value);
    return value;
}

bool Ec62TryRead(std::uint8_t index, std::uint8_t& value) {
    Transaction transaction;
    value = kNoAnswer;
    if (!WaitIBF(EcPort62)) return false;
    hwio::WritePort(EcPort62.command, kCmdReadEc);
    platform::Sleep(kEc62ReadCommandPauseMs);
    if (!WaitIBF(EcPort62)) return false;
    hwio::WritePort(EcPort62.data, index);
    platform::Sleep(kEc62ReadIndexPauseMs);
    value = hwio::ReadPort(EcPort62.data);
    return true;
}

void Ec62Write(std::uint8_t index, std::uint8_t value) {
    Transaction transaction;
    if (!WaitIBF(EcPort62)) return;
    hwio::WritePort(EcPort62.command, kCmdWriteEc);
    platform::Sleep(kEc62WritePauseMs);
    if (!WaitIBF(EcPort62)) return;
    hwio::WritePort(EcPort62.data, index);
    platform::Sleep(kEc62WritePauseMs);
    if (!WaitIBF(EcPort62)) return;
    hwio::WritePort(EcPort62.data, value);
}

std::uint8_t Ec25CRead(std::uint16_t address) {
    std::uint8_t value = kNoAnswer;
    Ec25CTryRead(address, value);
    return value;
}

bool Ec25CTryRead(std::uint16_t address, std::uint8_t& value) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdReadEc);
    exchange.WriteData(static_cast<std::uint8_t>(address >> 8));
    exchange.WriteData(static_cast<std::uint8_t>(address & 0xFF));
    value = exchange.ReadData();
    return exchange.Answered();
}

void Ec25CWrite(std::uint16_t address, std::uint8_t value) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdWriteEc);
    exchange.WriteData(static_cast<std::uint8_t>(address >> 8));
    exchange.WriteData(static_cast<std::uint8_t>(address & 0xFF));
    exchange.WriteData(value);
}

std::uint8_t Fan0ControlFlagRead() {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdFan0FlagRead);
    exchange.WriteData(kFan0FlagIndex);
    return exchange.ReadData();
}

void Fan0ControlFlagWrite(std::uint8_t flag) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdFan0FlagWrite);
    exchange.WriteData(kFan0FlagIndex);
    exchange.WriteData(flag);
}

void Fan0DutyWrite(std::uint8_t duty) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdFan0DutyWrite);
    exchange.WriteData(kFan0DutyIndex);
    exchange.WriteData(duty);
}

std::uint8_t CpuTemperatureRead25C() {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdReadCpuTemp25C);
    exchange.WriteData(kCpuTempIndex);
    return exchange.ReadData();
}

std::uint8_t CpuTemperatureRead68() {
    Exchange exchange(EcPort68);
    exchange.SendCommand(kCmdReadCpuTemp68);
    const std::uint8_t temperature = exchange.ReadData();
    exchange.ReadData();  // the EC sends two more bytes we do not use
    exchange.ReadData();
    return temperature;
}

void TachometerRead68(std::uint8_t& high, std::uint8_t& low) {
    Exchange exchange(EcPort68);
    exchange.SendCommand(kCmdTachometerRead);
    high = exchange.ReadData();
    low = exchange.ReadData();
}

std::uint8_t WindowRead(const RamWindow& window, std::uint16_t address) {
    Transaction transaction;
    hwio::WritePort(window.addressHigh, static_cast<std::uint8_t>(address >> 8));
    hwio::WritePort(window.addressLow, static_cast<std::uint8_t>(address & 0xFF));
    return hwio::ReadPort(window.data);
}

void WindowWrite(const RamWindow& window, std::uint16_t address, std::uint8_t value) {
    Transaction transaction;
    hwio::WritePort(window.addressHigh, static_cast<std::uint8_t>(address >> 8));
    hwio::WritePort(window.addressLow, static_cast<std::uint8_t>(address & 0xFF));
    hwio::WritePort(window.data, value);
}

}  // namespace hwtk3::ec
