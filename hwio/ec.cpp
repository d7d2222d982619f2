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

// Guarded by the binding lock: how deep the current holder's sessions
// nest, and whether its outermost one got the shared mutex.
int g_sessionDepth = 0;
bool g_sharedMutexHeld = false;

// The handle to the shared mutex, opened by the first session that finds
// none and closed when the binding is released, or at the latest when the
// library is unloaded, so loading and unloading us leaks nothing.
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

std::uint64_t Since(std::uint64_t start) {
    const std::uint64_t now = platform::GetTickCount64();
    return now > start ? now - start : 0;
}

bool Holds(std::uint8_t status, std::uint8_t mask, bool wanted) { return ((status & mask) != 0) == wanted; }

// The EC took our last byte.
bool Taken(std::uint8_t status) { return (status & kStatusIBF) == 0; }
// The EC answered: it took our last byte and put its answer in the data
// port. An EC has taken the byte before it answers it, so OBF and IBF both
// set is no answer; it is what a channel that is not there reads (0xFF).
bool Answered(std::uint8_t status) { return (status & kStatusOBF) != 0 && Taken(status); }

// The published counted waits: `count` polls, 1 ms apart. The IBF wait
// opens the firmware-version exchange and drops stale bytes as it polls.
// A wait also ends once its count of milliseconds has passed: on a Windows
// timer a 1 ms pause lasts 15.6 ms, and 500 of them would make one wait
// last 7.8 s instead of half a second.
int CountedPoll(int count, std::uint8_t mask, bool wanted, bool drain) {
    const std::uint64_t start = platform::GetTickCount64();
    const std::uint64_t limitMs = static_cast<std::uint64_t>(count < 0 ? 0 : count) * kBoundedPollPauseMs;
    int staleBytes = 0;
    for (int poll = 0; poll < count; ++poll) {
        std::uint8_t status = hwio::ReadPort(EcPort62.command);
        while (drain && (status & kStatusOBF) != 0 && staleBytes < kMaxStaleBytes) {
            ++staleBytes;
            hwio::ReadPort(EcPort62.data);
            status = hwio::ReadPort(EcPort62.command);
        }
        if (Holds(status, mask, wanted)) return 0;
        platform::Sleep(kBoundedPollPauseMs);
        if (Since(start) >= limitMs) break;
    }
    return -1;
}

}  // namespace

Session::Session() {
    bound_ = hwio::HwioReady();
    if (g_sessionDepth++ == 0 && bound_) AcquireSharedMutex();
}

Session::~Session() {
    if (--g_sessionDepth == 0 && g_sharedMutexHeld) {
        platform::ReleaseMutex(g_sharedMutex.Get());
        g_sharedMutexHeld = false;
    }
}

void CloseSharedMutex() {
    hwio::BindingLock lock;
    if (g_sessionDepth == 0) g_sharedMutex.Close();
}

int WaitIBFTimeout(int count) { return CountedPoll(count, kStatusIBF, false, true); }
int WaitOBFTimeout(int count) { return CountedPoll(count, kStatusOBF, true, false); }

ExchangeDeadline::ExchangeDeadline() : start_(platform::GetTickCount64()) {}

bool ExchangeDeadline::AllowsPause(std::uint32_t milliseconds) const {
    return pauses_ < kExchangePollLimit && Since(start_) + milliseconds <= kExchangeBudgetMs;
}

void ExchangeDeadline::PollPause(std::uint32_t milliseconds) {
    ++pauses_;
    platform::Sleep(milliseconds);
}

bool ExchangeDeadline::Expired() const {
    return pauses_ >= kExchangePollLimit || Since(start_) >= kExchangeBudgetMs;
}

bool ExchangeDeadline::TakeStaleByte() {
    if (staleBytes_ >= kMaxStaleBytes || Expired()) return false;
    ++staleBytes_;
    return true;
}

// The deadline starts once the session is held: the wait for the shared
// mutex is the session's, not the exchange's.
Exchange::Exchange(const CommandChannel& channel) : channel_(channel), live_(session_.Bound()) {}

// One poll: read the status port; the wait that opens the exchange also
// reads and drops answer bytes left in the data port by an exchange we gave
// up on (OBF set before we have sent anything can only be such a byte).
// Nothing waiting costs nothing: the status read is the one the wait makes
// anyway. The first status read happens before any pause, and the last
// one when no further pause fits the budget.
bool Exchange::Wait(bool (*done)(std::uint8_t status)) {
    const bool opening = !opened_;
    opened_ = true;
    for (;;) {
        std::uint8_t status = hwio::ReadPort(channel_.command);
        while (opening && (status & kStatusOBF) != 0 && deadline_.TakeStaleByte()) {
            hwio::ReadPort(channel_.data);
            status = hwio::ReadPort(channel_.command);
        }
        if (done(status)) return true;
        if (!deadline_.AllowsPause(kPollPauseMs)) return false;
        deadline_.PollPause(kPollPauseMs);
    }
}

bool Exchange::SendCommand(std::uint8_t command) {
    if (live_ && (live_ = Wait(Taken))) hwio::WritePort(channel_.command, command);
    return live_;
}

bool Exchange::WriteData(std::uint8_t value) {
    if (live_ && (live_ = Wait(Taken))) hwio::WritePort(channel_.data, value);
    return live_;
}

bool Exchange::Confirm() {
    if (live_) live_ = Wait(Taken);
    return live_;
}

bool Exchange::ReadData(std::uint8_t& value) {
    value = kNoAnswer;
    if (live_ && (live_ = Wait(Answered))) value = hwio::ReadPort(channel_.data);
    return live_;
}

void Exchange::Pause(std::uint32_t milliseconds) {
    if (live_) platform::Sleep(milliseconds);
}

bool Exchange::ReadDataUnwaited(std::uint8_t& value, bool lookAtObf) {
    value = kNoAnswer;
    if (!live_) return false;
    const bool answered = !lookAtObf || Answered(hwio::ReadPort(channel_.command));
    value = hwio::ReadPort(channel_.data);
    live_ = answered;
    return answered;
}

namespace {
// Ec62Read and Ec62ReadAnswered: the published sequence, no OBF wait.
bool Ec62ReadSequence(std::uint8_t index, std::uint8_t& value, bool lookAtObf) {
    Exchange exchange(EcPort62);
    exchange.SendCommand(kCmdReadEc);
    exchange.Pause(kEc62ReadCommandPauseMs);
    exchange.WriteData(index);
    exchange.Pause(kEc62ReadIndexPauseMs);
    return exchange.ReadDataUnwaited(value, lookAtObf);
}
}  // namespace

bool Ec62Read(std::uint8_t index, std::uint8_t& value) { return Ec62ReadSequence(index, value, false); }

bool Ec62ReadAnswered(std::uint8_t index, std::uint8_t& value) { return Ec62ReadSequence(index, value, true); }

bool Ec62Write(std::uint8_t index, std::uint8_t value) {
    Exchange exchange(EcPort62);
    exchange.SendCommand(kCmdWriteEc);
    exchange.Pause(kEc62WritePauseMs);
    exchange.WriteData(index);
    exchange.Pause(kEc62WritePauseMs);
    return exchange.WriteData(value);
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

namespace {
// A three-byte write on 0x25C/0x25D that reports whether its last byte went
// out and whether the EC took it.
Delivery Write25C(std::uint8_t command, std::uint8_t index, std::uint8_t value) {
    Exchange exchange(EcPort25C);
    exchange.SendCommand(command);
    exchange.WriteData(index);
    Delivery delivery;
    delivery.sent = exchange.WriteData(value);
    delivery.taken = exchange.Confirm();
    return delivery;
}
}  // namespace

Delivery Fan0ControlFlagWrite(std::uint8_t flag) { return Write25C(kCmdFan0FlagWrite, kFan0FlagIndex, flag); }

Delivery Fan0DutyWrite(std::uint8_t duty) { return Write25C(kCmdFan0DutyWrite, kFan0DutyIndex, duty); }

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
    Session session;
    hwio::WritePort(window.addressHigh, static_cast<std::uint8_t>(address >> 8));
    hwio::WritePort(window.addressLow, static_cast<std::uint8_t>(address & 0xFF));
    return hwio::ReadPort(window.data);
}

void WindowWrite(const RamWindow& window, std::uint16_t address, std::uint8_t value) {
    Session session;
    hwio::WritePort(window.addressHigh, static_cast<std::uint8_t>(address >> 8));
    hwio::WritePort(window.addressLow, static_cast<std::uint8_t>(address & 0xFF));
    hwio::WritePort(window.data, value);
}

}  // namespace hwtk3::ec
