// The embedded controller's five port interfaces: three command channels
// with the ACPI EC input/output-buffer handshake, and two indexed EC RAM
// windows. These functions do not test HwioReady; the exports that use them
// do.
#ifndef HWTK3_HWIO_EC_H
#define HWTK3_HWIO_EC_H

#include <cstdint>

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
inline constexpr std::uint32_t kPollPauseMs = 5;         // WaitIBF / WaitOBF
inline constexpr std::uint32_t kBoundedPollPauseMs = 1;  // the counted waits on 0x66

// The EC handshake has no bound of its own: a wedged EC would hang the host
// tool. We give up after this many polls (500 ms of pauses) and drop the
// rest of the exchange.
inline constexpr int kWaitPollLimit = 100;

// Byte returned for a read the EC never answered (what a floating bus reads).
inline constexpr std::uint8_t kNoAnswer = 0xFF;

// Other programs on a factory station (hardware monitors, fan
// controllers) drive the same EC ports and serialise their transactions
// through this named mutex; a transaction of ours interleaved with one of
// theirs would send a byte to the wrong register.
inline constexpr const char kSharedEcMutexName[] = "Global\\Access_EC";
// How long a transaction waits for the other programs before it goes ahead
// anyway: never worse than not asking at all.
inline constexpr std::uint32_t kSharedEcMutexWaitMs = 50;

// Holds the EC for one transaction (one command-channel or window sequence,
// the firmware-version read, a read-modify-write): an in-process lock and,
// where the system has it and it can be had in time, the shared mutex
// above; an abandoned mutex counts as held. Transactions nest: an inner one
// rides on the outer one's hold. Pauses between transactions are made with
// no lock held, so a fan settle never blocks the other programs.
class Transaction {
public:
    Transaction();
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
};

// Polls until IBF clears / OBF sets; false when kWaitPollLimit polls pass.
bool WaitIBF(const CommandChannel& channel);
bool WaitOBF(const CommandChannel& channel);

// Counted waits on EcPort62: at most `count` status reads, each failing one
// followed by a 1 ms pause. 0 when the condition was met, -1 otherwise.
int WaitIBFTimeout(int count);
int WaitOBFTimeout(int count);

// One exchange on a command channel. The steps run in order; once a wait
// runs out the exchange is abandoned: later steps send nothing and reads
// yield kNoAnswer, so a dead EC costs one wait, not one per step.
class Exchange {
public:
    explicit Exchange(const CommandChannel& channel) : channel_(channel) {}

    void SendCommand(std::uint8_t command);  // EcSendCommand
    void WriteData(std::uint8_t value);      // EcWriteData
    std::uint8_t ReadData();                 // EcReadData

    bool Answered() const { return answered_; }

private:
    Transaction transaction_;
    const CommandChannel& channel_;
    bool answered_ = true;
};

// EC RAM on 0x62/0x66 through the ACPI read and write commands. The read
// takes the data port 20 ms after the index without waiting for OBF.
std::uint8_t Ec62Read(std::uint8_t index);
void Ec62Write(std::uint8_t index, std::uint8_t value);

// EC RAM above 0xFF through 0x25C/0x25D, address high byte first.
std::uint8_t Ec25CRead(std::uint16_t address);

// The same reads, telling whether the EC took every byte of the request
// (and, on 0x25C/0x25D, handed out its answer). A caller that judges a
// write by reading it back needs this: kNoAnswer has every bit set and can
// look like the value it wrote.
bool Ec62TryRead(std::uint8_t index, std::uint8_t& value);
bool Ec25CTryRead(std::uint16_t address, std::uint8_t& value);
void Ec25CWrite(std::uint16_t address, std::uint8_t value);

// Fixed exchanges of the machine-type EC on 0x25C/0x25D.
std::uint8_t Fan0ControlFlagRead();
void Fan0ControlFlagWrite(std::uint8_t flag);
void Fan0DutyWrite(std::uint8_t duty);
std::uint8_t CpuTemperatureRead25C();

// Fixed exchanges of the ZLKD EC on 0x68/0x6C.
std::uint8_t CpuTemperatureRead68();  // three bytes come back; the first counts
void TachometerRead68(std::uint8_t& high, std::uint8_t& low);

// Indexed EC RAM windows: address high, address low, then the data port.
std::uint8_t WindowRead(const RamWindow& window, std::uint16_t address);
void WindowWrite(const RamWindow& window, std::uint16_t address, std::uint8_t value);

}  // namespace hwtk3::ec

#endif  // HWTK3_HWIO_EC_H
