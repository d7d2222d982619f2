// The embedded controller of the virtual notebook: 64 KB of EC RAM behind
// three command channels with the ACPI input/output-buffer handshake
// (0x62/0x66, 0x25C/0x25D, 0x68/0x6C) and two indexed RAM windows
// (0x381-0x383, 0xFD61-0xFD63).
//
// A byte written to a channel sets IBF; the EC takes it `latencyMs` later
// and clears IBF. When a command has all its parameter bytes, its handler
// runs and its answer bytes are handed out one at a time, each
// `answerLatencyMs` (unless set, `latencyMs`) after the previous one was
// read, with OBF set while one waits in the data port. Reading the data port without OBF returns whatever it last held.
// A new command drops the answer bytes the EC had not yet handed out, but a
// byte already in the data port stays there, OBF set, until the host reads
// it, as on real hardware.
//
// The RAM windows are decoded by the EC's bus interface, not its firmware:
// they keep working when the firmware stops answering on the channels.
#ifndef HWTK3_SIM_EC_MODEL_H
#define HWTK3_SIM_EC_MODEL_H

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/clock.h"

namespace hwtk3::sim {

class EcModel {
public:
    enum Channel { k62 = 0, k25C = 1, k68 = 2 };
    using Bytes = std::vector<std::uint8_t>;
    // Runs when a command has all its parameter bytes; returns the answer.
    using Handler = std::function<Bytes(const Bytes& parameters)>;

    struct ChannelFaults {
        bool ibfStuck = false;   // the EC never takes a byte
        bool obfNever = false;   // the EC never hands out an answer byte
        // The channel is not there: every port of it reads 0xFF (IBF and
        // OBF both set) and a byte written to it goes nowhere.
        bool floating = false;
    };

    // Late enough that every wait of the library has given up on it.
    static constexpr std::uint32_t kLateMs = 501;

    // A fault that strikes at one host access, counted from ResetAccessCount
    // (every In and Out on a port the EC decodes, windows included).
    struct AccessFault {
        enum class Kind {
            None,
            IbfStuckFrom,   // from access `at` on, no channel takes a byte
            ObfNeverFrom,   // from access `at` on, no channel hands out a byte
            FloatingFrom,   // from access `at` on, every channel floats
            DropAt,         // the answer access `at` waits for or takes is lost
            // That answer comes `delayMs` later instead; a byte written at
            // access `at` is taken `delayMs` after it was written.
            LateAt,
        };
        Kind kind = Kind::None;
        int at = 0;
        std::uint32_t delayMs = kLateMs;
    };


    explicit EcModel(Clock& clock);

    // Host side.
    bool Decodes(std::uint16_t port) const;
    std::uint8_t In(std::uint16_t port);
    void Out(std::uint16_t port, std::uint8_t value);

    // Commands understood on a channel. The ACPI read and write commands on
    // 0x62/0x66 and 0x25C/0x25D and the firmware-version command 0xA1 are
    // built in; platform models add theirs.
    void SetCommand(Channel channel, std::uint8_t command, int parameterBytes, Handler handler);
    void RemoveCommand(Channel channel, std::uint8_t command);

    // EC RAM as the EC firmware sees it. Hooks stand in for registers that
    // are computed (a tachometer) or act when written (a fan target).
    std::uint8_t ReadRam(std::uint16_t address);
    void WriteRam(std::uint16_t address, std::uint8_t value);
    std::uint8_t& Ram(std::uint16_t address) { return ram_[address]; }  // no hooks
    void SetReadHook(std::uint16_t address, std::function<std::uint8_t()> hook);
    void SetWriteHook(std::uint16_t address, std::function<void(std::uint8_t)> hook);

    // Read-modify-write bookkeeping, called by command handlers: a register
    // read (key: the register, in a space of the handler's choosing) and a
    // write of the same register. A write that follows a read of that
    // register on the same channel whose answer the host never took counts
    // in writesFromUnansweredReads: the host wrote back a byte the EC did
    // not send.
    void NoteRegisterRead(Channel channel, std::uint32_t key);
    void NoteRegisterWrite(Channel channel, std::uint32_t key);

    void ResetAccessCount() { accesses_ = 0; }
    // The notebook's time, for the models behind the EC's registers.
    std::uint64_t NowMs() const { return clock_.NowMs(); }
    int Accesses() const { return accesses_; }
    // All of EC RAM at once, hooks bypassed.
    const std::array<std::uint8_t, 0x10000>& RamBytes() const { return ram_; }

    // Configuration.
    std::uint32_t latencyMs = 0;
    std::int32_t answerLatencyMs = -1;  // >= 0: answer bytes come this slowly instead
    // > 0: from this many accesses since ResetAccessCount on, every fault
    // above ends, so a host that loops on a fault still returns and a test
    // can report how many accesses it made.
    int accessCeiling = 0;
    std::array<ChannelFaults, 3> faults{};
    std::string firmwareVersion = "ZLKD 1.07.02";  // answer to 0xA1, NUL added
    int firmwareSilentAfter = -1;  // >= 0: the answer stops after this many bytes
    bool window381 = true;
    bool windowFD61 = true;
    AccessFault accessFault;
    // A second one at the same time (an EC that stays busy while the late
    // answer of an earlier exchange comes out).
    AccessFault alsoFault;

    // Protocol checks: bytes written while IBF was still set (lost on real
    // hardware), and data bytes no command was waiting for.
    int bytesWhileBusy = 0;
    int strayDataBytes = 0;
    int unknownCommands = 0;
    int writesFromUnansweredReads = 0;

private:
    struct PendingByte {
        bool isCommand;
        std::uint8_t value;
    };
    struct ChannelState {
        std::uint16_t data;
        std::uint16_t command;
        bool ibf = false;
        std::uint64_t ibfClearAt = 0;
        PendingByte pending{false, 0};
        bool obf = false;
        std::uint8_t dataLatch = 0;
        std::uint8_t priorLatch = 0;  // what the data port held before dataLatch
        std::deque<std::uint8_t> output;
        std::uint64_t nextReadyAt = 0;
        std::deque<std::uint8_t> late;  // withdrawn answer bytes still to come
        std::uint64_t lateAt = 0;
        bool readPending = false;       // a register read whose answer the host has not taken
        std::uint32_t readKey = 0xFFFFFFFF;  // none yet
        bool readAnswered = false;
        int activeCommand = -1;
        int parametersExpected = 0;
        Bytes parameters;
        std::map<std::uint8_t, std::pair<int, Handler>> commands;
    };
    struct WindowState {
        std::uint16_t base;
        bool* present;
        std::uint8_t high = 0;
        std::uint8_t low = 0;
    };

    // The fault that loses or delays the answer (or the byte) of this
    // access, if one does.
    const AccessFault* StruckAt(int access) const;
    ChannelFaults FaultsOf(int index) const { return FaultsAt(index, access_); }
    ChannelFaults FaultsAt(int index, int access) const;
    bool FaultsEnded(int access) const { return accessCeiling > 0 && access >= accessCeiling; }
    bool FaultsEnded() const { return FaultsEnded(access_); }
    std::uint32_t AnswerLatency() const {
        return answerLatencyMs >= 0 ? static_cast<std::uint32_t>(answerLatencyMs) : latencyMs;
    }
    void Withdraw(ChannelState& channel, bool statusRead, const AccessFault& fault);
    void Update(ChannelState& channel, const ChannelFaults& channelFaults);
    void Take(ChannelState& channel, std::uint64_t at);
    void Run(ChannelState& channel, std::uint64_t at);
    ChannelState* ChannelFor(std::uint16_t port, int* index);
    WindowState* WindowFor(std::uint16_t port);

    Clock& clock_;
    std::array<std::uint8_t, 0x10000> ram_{};
    std::map<std::uint16_t, std::function<std::uint8_t()>> readHooks_;
    std::map<std::uint16_t, std::function<void(std::uint8_t)>> writeHooks_;
    std::array<ChannelState, 3> channels_;
    std::array<WindowState, 2> windows_;
    int accesses_ = 0;
    int access_ = -1;  // index of the access being served
};

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_EC_MODEL_H
