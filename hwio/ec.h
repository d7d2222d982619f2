// The embedded controller's five port interfaces: three command channels
// with the ACPI EC input/output-buffer handshake, and two indexed EC RAM
// windows. These functions do not test HwioReady; the exports that use them
// do.
#ifndef HWTK3_HWIO_EC_H
#define HWTK3_HWIO_EC_H

#include <cstdint>

#include "hwio/port_io.h"

namespace hwtk3::ec {

struct CommandChannel {
    std::uint16_t data;     // parameter and result bytes
    std::uint16_t command;  // status on read, command byte on write
};

struct RamWindow {
    std::uint16_t addressHigh;
    std::uint16_t addressLow;
    std::uint16_t data;
};

inline constexpr CommandChannel EcPort62{0x62, 0x66};
inline constexpr CommandChannel EcPort25C{0x25C, 0x25D};
inline constexpr CommandChannel EcPort68{0x68, 0x6C};
inline constexpr RamWindow EcRamWindow381{0x381, 0x382, 0x383};
inline constexpr RamWindow EcRamWindowFD61{0xFD61, 0xFD62, 0xFD63};

// Status byte of a command channel.
inline constexpr std::uint8_t kStatusOBF = 0x01;  // a result byte waits in the data port
inline constexpr std::uint8_t kStatusIBF = 0x02;  // the EC has not taken our last byte yet

// ACPI EC read/write commands (one index byte on 0x62/0x66, a two-byte
// address on 0x25C/0x25D).
inline constexpr std::uint8_t kCmdReadEc = 0x80;
inline constexpr std::uint8_t kCmdWriteEc = 0x81;
// Platform EC firmware commands.
inline constexpr std::uint8_t kCmdFirmwareVersion = 0xA1;  // 0x62/0x66
inline constexpr std::uint8_t kCmdFan0DutyWrite = 0x84;    // 0x25C/0x25D
inline constexpr std::uint8_t kCmdReadCpuTemp25C = 0x90;   // 0x25C/0x25D, index 0xA0
inline constexpr std::uint8_t kCmdFan0FlagRead = 0x94;     // 0x25C/0x25D, index 0x21
inline constexpr std::uint8_t kCmdFan0FlagWrite = 0x95;    // 0x25C/0x25D, index 0x21
inline constexpr std::uint8_t kCmdTachometerRead = 0x23;   // 0x68/0x6C
inline constexpr std::uint8_t kCmdTachometerWrite = 0x24;  // 0x68/0x6C
inline constexpr std::uint8_t kCmdReadCpuTemp68 = 0x2D;    // 0x68/0x6C
inline constexpr std::uint8_t kFan0FlagIndex = 0x21;
inline constexpr std::uint8_t kFan0DutyIndex = 0x00;
inline constexpr std::uint8_t kCpuTempIndex = 0xA0;

// Pauses between status polls, in milliseconds.
inline constexpr std::uint32_t kPollPauseMs = 5;         // the waits of an exchange
inline constexpr std::uint32_t kBoundedPollPauseMs = 1;  // the counted waits on 0x66

// The EC handshake has no bound of its own: a wedged EC would hang the host
// tool. Each exchange gets one budget, shared by all its waits and by its
// stale-byte drain, as an OS EC driver bounds a whole transaction rather
// than each poll, so an exchange costs at most its fixed pauses plus this,
// whatever the EC does. The budget is time, not a poll count: a 5 ms pause
// can take 15.6 ms on a Windows timer. A wait that runs out abandons the
// rest of the exchange.
inline constexpr std::uint32_t kExchangeBudgetMs = 500;
// Backstop: the poll pauses one exchange may make even if the clock stood
// still (as many as the budget holds at the nominal pause).
inline constexpr int kExchangePollLimit = static_cast<int>(kExchangeBudgetMs / kPollPauseMs);

// Byte returned for a read the EC never answered (what a floating bus reads).
inline constexpr std::uint8_t kNoAnswer = 0xFF;

// A byte the EC hands out after we stopped waiting for it stays in the data
// port with OBF set, and would pass for the answer of the next exchange on
// that channel. The opening wait of every exchange reads and drops such
// bytes, at most this many (a bus that floats reads OBF set for ever).
inline constexpr int kMaxStaleBytes = 32;

// Other programs on a factory station (hardware monitors, fan
// controllers) drive the same EC ports and serialise their transactions
// through this named mutex; a transaction of ours interleaved with one of
// theirs would send a byte to the wrong register.
inline constexpr const char kSharedEcMutexName[] = "Global\\Access_EC";
// How long a session waits for the other programs before it goes ahead
// anyway: never worse than not asking at all.
inline constexpr std::uint32_t kSharedEcMutexWaitMs = 50;

// Holds the EC for one session: a run of exchanges with only the short
// step pauses between them (one export, or one phase of an export between
// its long pauses). It holds the binding lock and, where the system has it
// and it can be had in time, the shared mutex above, which is asked for
// once per session, not per exchange; an abandoned mutex counts as held. A
// mutex that could not be opened is asked for again by the next session.
// Sessions nest: an inner one rides on the outer one's hold. The long
// pauses (a fan settling, the charge read-back pauses) are made with no
// session open, so they never block the other programs or our own threads.
//
// Bound() tells whether the port-I/O binding was up when the session
// began; the binding lock keeps it so until the session ends. A session
// that is not bound touches no port.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    bool Bound() const { return bound_; }

private:
    hwio::BindingLock lock_;
    bool bound_;
};

// Closes the shared EC mutex, if we hold a handle to it. Called when the
// binding is released; the next session opens it again.
void CloseSharedMutex();

// Counted waits on EcPort62: at most `count` status reads, each failing one
// followed by a 1 ms pause. 0 when the condition was met, -1 otherwise.
// The IBF wait opens the firmware-version exchange, so it also drops stale
// answer bytes (see kMaxStaleBytes).
int WaitIBFTimeout(int count);
int WaitOBFTimeout(int count);

// The time one exchange may still spend waiting: kExchangeBudgetMs from
// its start, fixed pauses included, and kExchangePollLimit poll pauses.
class ExchangeDeadline {
public:
    ExchangeDeadline();
    // True when a poll pause of `milliseconds` still ends within the budget.
    bool AllowsPause(std::uint32_t milliseconds) const;
    void PollPause(std::uint32_t milliseconds);
    bool Expired() const;
    // The drain's share: true while another stale byte may be dropped.
    bool TakeStaleByte();

private:
    std::uint64_t start_;
    int pauses_ = 0;
    int staleBytes_ = 0;
};

// Whether a write went out, and whether the EC took it.
struct Delivery {
    bool sent = false;   // the last byte was written to the port
    bool taken = false;  // and a status read showed the EC took it
};

// One exchange on a command channel, a session of its own unless one is
// open. The steps run in order; once a wait runs out the exchange is
// abandoned: later steps send nothing, pause not, and reads yield
// kNoAnswer. Each step tells whether it went through: a write whether the
// EC was ready to take the byte, a read whether the EC answered.
class Exchange {
public:
    explicit Exchange(const CommandChannel& channel);

    bool SendCommand(std::uint8_t command);  // EcSendCommand
    bool WriteData(std::uint8_t value);      // EcWriteData
    // EcReadData; kNoAnswer when unanswered. An answer is OBF set with IBF
    // clear: a floating bus, which reads 0xFF, answers nothing.
    bool ReadData(std::uint8_t& value);
    // Waits for the EC to take the last byte written. Nothing else tells
    // that a write's last byte arrived; a caller that reports the write as
    // made asks for it.
    bool Confirm();
    // A fixed pause of the sequence (the EcPort62 exchanges have them).
    void Pause(std::uint32_t milliseconds);
    // Takes the data port as it is, without waiting for OBF: true when the
    // exchange got this far. With `lookAtObf`, one status read just before
    // decides instead: true only when it showed an answer, as ReadData
    // counts one (the byte is the EC's).
    bool ReadDataUnwaited(std::uint8_t& value, bool lookAtObf);

private:
    bool Wait(bool (*done)(std::uint8_t status));

    Session session_;
    const CommandChannel& channel_;
    ExchangeDeadline deadline_;
    bool opened_ = false;
    bool live_;
};

// EC RAM on 0x62/0x66 through the ACPI read and write commands.
//
// Ec62Read takes the data port 20 ms after the index without looking at
// OBF: with a slow EC that is whatever the port holds. It is true when the
// EC took the command and the index went out (the data port was read);
// otherwise nothing was read and `value` is kNoAnswer. Ec62ReadAnswered
// makes the same exchange with one status read just before the data read,
// and is true only when that read showed OBF, i.e. when the byte is the
// EC's answer; a caller that prints the byte, writes back a byte derived
// from it, or judges a write by it, needs this.
bool Ec62Read(std::uint8_t index, std::uint8_t& value);
bool Ec62ReadAnswered(std::uint8_t index, std::uint8_t& value);
// True when every byte went out (the published sequence has no status read
// after the value).
bool Ec62Write(std::uint8_t index, std::uint8_t value);

// EC RAM above 0xFF through 0x25C/0x25D, address high byte first. The read
// is true when the EC answered (value kNoAnswer otherwise), the write when
// the EC was ready for every byte.
bool Ec25CRead(std::uint16_t address, std::uint8_t& value);
bool Ec25CWrite(std::uint16_t address, std::uint8_t value);

// Fixed exchanges of the machine-type EC on 0x25C/0x25D; same rule. The
// two writes end with Confirm.
bool Fan0ControlFlagRead(std::uint8_t& flag);
Delivery Fan0ControlFlagWrite(std::uint8_t flag);
Delivery Fan0DutyWrite(std::uint8_t duty);
bool CpuTemperatureRead25C(std::uint8_t& temperature);

// Fixed exchanges of the ZLKD EC on 0x68/0x6C; same rule.
bool CpuTemperatureRead68(std::uint8_t& temperature);  // three bytes come back; the first counts
bool TachometerRead68(std::uint8_t& high, std::uint8_t& low);

// Indexed EC RAM windows: address high, address low, then the data port.
// A window has no handshake: the EC cannot tell us it did not answer. Each
// access is a session of its own unless one is open.
std::uint8_t WindowRead(const RamWindow& window, std::uint16_t address);
void WindowWrite(const RamWindow& window, std::uint16_t address, std::uint8_t value);

}  // namespace hwtk3::ec

#endif  // HWTK3_HWIO_EC_H
