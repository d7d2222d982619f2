#include "hwio/ec.h"

#include "platform/platform.h"
#include "platform/sync.h"

namespace hwtk3::ec {
namespace {

// Pause inside Ec62Read after the command and after the index.
constexpr std::uint32_t kEc62ReadCommandPauseMs = 10;
constexpr std::uint32_t kEc62ReadIndexPauseMs = 20;
// Pause inside Ec62Write after the command and after the index.
constexpr std::uint32_t kEc62WritePauseMs = 1;

// Guarded by the binding lock: how deep the current holder's transactions
// nest, and whether its outermost one got the shared mutex.
int g_transactionDepth = 0;
bool g_sharedMutexHeld = false;

// The handle to the shared mutex, opened by the first transaction that
// finds none and closed when the binding is released, or at the latest when
// the library is unloaded, so loading and unloading us leaks nothing.
class SharedMutex {
public:
    ~SharedMutex() { Close(); }
    platform::HANDLE Get() {
        if (handle_ == nullptr) handle_ = platform::CreateMutexA(nullptr, 0, kSharedEcMutexName);
        return handle_;
    }
    void Close() {
        if (handle_ != nullptr) platform::CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    platform::HANDLE handle_ = nullptr;
};

SharedMutex g_sharedMutex;

void AcquireSharedMutex() {
    const platform::HANDLE mutex = g_sharedMutex.Get();
    if (mutex == nullptr) return;
    const platform::DWORD wait = platform::WaitForSingleObject(mutex, kSharedEcMutexWaitMs);
    g_sharedMutexHeld = wait == platform::kWaitObject0 || wait == platform::kWaitAbandoned;
}

bool Holds(std::uint8_t status, std::uint8_t mask, bool wanted) { return ((status & mask) != 0) == wanted; }

// One poll of a wait. The poll that opens an exchange also reads and drops
// answer bytes left in the data port by an exchange we gave up on: OBF set
// before we have sent anything can only be such a byte. Nothing waiting
// costs nothing: the status read is the one the wait makes anyway.
std::uint8_t PollStatus(const CommandChannel& channel, int* staleBudget) {
    std::uint8_t status = hwio::ReadPort(channel.command);
    while (staleBudget != nullptr && *staleBudget > 0 && (status & kStatusOBF) != 0) {
        --*staleBudget;
        hwio::ReadPort(channel.data);
        status = hwio::ReadPort(channel.command);
    }
    return status;
}

bool PollUntil(const CommandChannel& channel, std::uint8_t mask, bool wanted, int* staleBudget = nullptr) {
    for (int poll = 0; poll < kWaitPollLimit; ++poll) {
        if (Holds(PollStatus(channel, staleBudget), mask, wanted)) return true;
        platform::Sleep(kPollPauseMs);
    }
    return false;
}

int CountedPoll(int count, std::uint8_t mask, bool wanted, int* staleBudget = nullptr) {
    for (int poll = 0; poll < count; ++poll) {
        if (Holds(PollStatus(EcPort62, staleBudget), mask, wanted)) return 0;
        platform::Sleep(kBoundedPollPauseMs);
    }
    return -1;
}

// The IBF wait that opens an exchange.
bool OpeningWaitIBF(const CommandChannel& channel) {
    int staleBudget = kMaxStaleBytes;
    return PollUntil(channel, kStatusIBF, false, &staleBudget);
}

// Ec62Read and Ec62ReadAnswered up to the data read; false when the EC did
// not take the command or the index.
bool Ec62SendRead(std::uint8_t index) {
    if (!OpeningWaitIBF(EcPort62)) return false;
    hwio::WritePort(EcPort62.command, kCmdReadEc);
    platform::Sleep(kEc62ReadCommandPauseMs);
    if (!WaitIBF(EcPort62)) return false;
    hwio::WritePort(EcPort62.data, index);
    platform::Sleep(kEc62ReadIndexPauseMs);
    return true;
}

}  // namespace

Transaction::Transaction() {
    bound_ = hwio::HwioReady();
    if (g_transactionDepth++ == 0 && bound_) AcquireSharedMutex();
}

Transaction::~Transaction() {
    if (--g_transactionDepth == 0 && g_sharedMutexHeld) {
        platform::ReleaseMutex(g_sharedMutex.Get());
        g_sharedMutexHeld = false;
    }
}

void CloseSharedMutex() {
    hwio::BindingLock lock;
    if (g_transactionDepth == 0) g_sharedMutex.Close();
}

bool WaitIBF(const CommandChannel& channel) { return PollUntil(channel, kStatusIBF, false); }
bool WaitOBF(const CommandChannel& channel) { return PollUntil(channel, kStatusOBF, true); }

int WaitIBFTimeout(int count) {
    int staleBudget = kMaxStaleBytes;
    return CountedPoll(count, kStatusIBF, false, &staleBudget);
}
int WaitOBFTimeout(int count) { return CountedPoll(count, kStatusOBF, true); }

Exchange::Exchange(const CommandChannel& channel) : channel_(channel), answered_(transaction_.Bound()) {}

bool Exchange::SendCommand(std::uint8_t command) {
    if (!answered_) return false;
    answered_ = opened_ ? WaitIBF(channel_) : OpeningWaitIBF(channel_);
    opened_ = true;
    if (answered_) hwio::WritePort(channel_.command, command);
    return answered_;
}

bool Exchange::WriteData(std::uint8_t value) {
    if (answered_ && (answered_ = WaitIBF(channel_))) hwio::WritePort(channel_.data, value);
    return answered_;
}

bool Exchange::Confirm() {
    if (answered_) answered_ = WaitIBF(channel_);
    return answered_;
}

bool Exchange::ReadData(std::uint8_t& value) {
    value = kNoAnswer;
    if (answered_ && (answered_ = WaitOBF(channel_))) value = hwio::ReadPort(channel_.data);
    return answered_;
}

std::uint8_t Ec62Read(std::uint8_t index) {
    Transaction transaction;
    if (!transaction.Bound() || !Ec62SendRead(index)) return kNoAnswer;
    return hwio::ReadPort(EcPort62.data);
}

bool Ec62ReadAnswered(std::uint8_t index, std::uint8_t& value) {
    Transaction transaction;
    value = kNoAnswer;
    if (!transaction.Bound() || !Ec62SendRead(index)) return false;
    const bool answered = (hwio::ReadPort(EcPort62.command) & kStatusOBF) != 0;
    value = hwio::ReadPort(EcPort62.data);
    return answered;
}

bool Ec62Write(std::uint8_t index, std::uint8_t value) {
    Transaction transaction;
    if (!transaction.Bound() || !OpeningWaitIBF(EcPort62)) return false;
    hwio::WritePort(EcPort62.command, kCmdWriteEc);
    platform::Sleep(kEc62WritePauseMs);
    if (!WaitIBF(EcPort62)) return false;
    hwio::WritePort(EcPort62.data, index);
    platform::Sleep(kEc62WritePauseMs);
    if (!WaitIBF(EcPort62)) return false;
    hwio::WritePort(EcPort62.data, value);
    return true;
}

bool Ec25CRead(std::uint16_t address, std::uint8_t& value) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdReadEc);
    exchange.WriteData(static_cast<std::uint8_t>(address >> 8));
    exchange.WriteData(static_cast<std::uint8_t>(address & 0xFF));
    return exchange.ReadData(value);
}

bool Ec25CWrite(std::uint16_t address, std::uint8_t value) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdWriteEc);
    exchange.WriteData(static_cast<std::uint8_t>(address >> 8));
    exchange.WriteData(static_cast<std::uint8_t>(address & 0xFF));
    return exchange.WriteData(value);
}

bool Fan0ControlFlagRead(std::uint8_t& flag) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdFan0FlagRead);
    exchange.WriteData(kFan0FlagIndex);
    return exchange.ReadData(flag);
}

bool Fan0ControlFlagWrite(std::uint8_t flag) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdFan0FlagWrite);
    exchange.WriteData(kFan0FlagIndex);
    exchange.WriteData(flag);
    return exchange.Confirm();
}

bool Fan0DutyWrite(std::uint8_t duty) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdFan0DutyWrite);
    exchange.WriteData(kFan0DutyIndex);
    exchange.WriteData(duty);
    return exchange.Confirm();
}

bool CpuTemperatureRead25C(std::uint8_t& temperature) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(kCmdReadCpuTemp25C);
    exchange.WriteData(kCpuTempIndex);
    return exchange.ReadData(temperature);
}

bool CpuTemperatureRead68(std::uint8_t& temperature) {
    Exchange exchange(EcPort68);
    exchange.SendCommand(kCmdReadCpuTemp68);
    exchange.ReadData(temperature);
    std::uint8_t unused = 0;  // the EC sends two more bytes we do not use
    exchange.ReadData(unused);
    return exchange.ReadData(unused);
}

bool TachometerRead68(std::uint8_t& high, std::uint8_t& low) {
    Exchange exchange(EcPort68);
    exchange.SendCommand(kCmdTachometerRead);
    exchange.ReadData(high);
    return exchange.ReadData(low);
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
