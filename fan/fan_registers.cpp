// The per-platform fan and CPU temperature exports and the machine-type
// operations: register addresses, EC commands, unit conversions, the 10 ms
// pause after each register step, and the operator lines.
#include "fan/fan_registers.h"

#include "hwio/ec.h"
#include "hwio/port_io.h"
#include "include/hwtk3.h"
#include "platform/platform.h"
#include "smbios/identity.h"

namespace hwtk3::fan {
namespace {

// Operator lines.
constexpr const char kMsgReadFan0Flag[] = "Read Fan0 Ctrl Flag: %X\n";
constexpr const char kMsgSetFan0Flag[] = "Set Fan0 Ctrl Flag: %X\n";
constexpr const char kMsgZlkdTacho[] = "tacho msb: 0x%X, lsb: 0x%X\n";
constexpr const char kMsgZlkdCount[] = "tacho: %u\n";
constexpr const char kMsgZlkdTarget[] = "Tacho_temp:%u Tacho:%u %x MSB:%x LSB:%x\n";
constexpr const char kMsgZlkdPortWrite[] = "Set 0x%X to port 0x%X\n";
constexpr const char kMsgFan0Duty[] = "Set Fan0 Duty: %u\n";
constexpr const char kMsgTachoHigh[] = "MSB: %X\n";
constexpr const char kMsgTachoLow[] = "LSB: %X\n";
constexpr const char kMsgTachoCount[] = "Tacho: %x\n";
constexpr const char kMsgTachoRpm[] = "RPM: %d\n";
constexpr const char kMsgCpuTemp[] = "CPU Temp: %d\n";

// Every register step is followed by this pause, giving the EC time to act.
constexpr platform::DWORD kStepPauseMs = 10;

// EC RAM registers shared by the AMD and PWM maps (each behind its own window).
constexpr std::uint16_t kRegCpuTemperature = 0xF451;
constexpr std::uint16_t kRegTachometerHigh = 0xF466;
constexpr std::uint16_t kRegTachometerLow = 0xF467;
// AMD map: fan speed target as a 12-bit inverted count.
constexpr std::uint16_t kRegAmdTargetHigh = 0xF46A;
constexpr std::uint16_t kRegAmdTargetLow = 0xF46B;
// PWM map: fan speed setting and the fan control bits.
constexpr std::uint16_t kRegPwmSpeedSetting = 0xF463;
constexpr std::uint16_t kRegPwmFanControl = 0xF4D3;
constexpr std::uint8_t kPwmManualBit = 0x02;  // set: manual fan control
constexpr std::uint32_t kPwmMaxSetting = 100;
// Machine-type map: tachometer count in EC RAM, and the Fan0 control flag.
constexpr std::uint16_t kRegMachineTachometerHigh = 0x181F;
constexpr std::uint16_t kRegMachineTachometerLow = 0x181E;
constexpr std::uint8_t kFan0EcControlBit = 0x80;  // set: the EC runs the fan

// The AMD and ZLKD tachometers report a 12-bit count, every bit inverted; a
// register pair of 0xFF, 0xFF is a count of 0 (no pulse seen).
constexpr std::uint32_t kCountMask = 0x0FFF;
// count × RPM for those tachometers, and the forms the two maps compute it
// in: the AMD map in integers, the ZLKD map from its timer tick in floating
// point (62.5 per tick, two pulses per turn).
constexpr std::int32_t kAmdTicksPerMinute = 960000;
constexpr std::int32_t kAmdPulsesPerTurn = 2;
constexpr double kZlkdMicrosecondsPerMinute = 60000000.0;
constexpr double kZlkdTickMicroseconds = 62.5;
constexpr double kZlkdPulsesPerTurn = 2.0;
// count × RPM of the machine-type tachometer, as that EC's formula has it.
constexpr std::uint32_t kMachineTicksPerMinute = 4312500;
constexpr std::uint32_t kMachinePulsesPerTurn = 2;

std::uint32_t InvertedCount(std::uint8_t high, std::uint8_t low) {
    const std::uint32_t value = static_cast<std::uint32_t>(high) << 8 | low;
    return ~value & kCountMask;
}

std::uint8_t HighByte(std::uint32_t value) { return static_cast<std::uint8_t>(value >> 8 & 0xFF); }
std::uint8_t LowByte(std::uint32_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

// The AMD reading is delivered as a signed 16-bit value: the quotients of
// counts 1 to 14 (above 32767, far beyond any notebook fan) arrive wrapped.
std::int32_t AmdRpmFromCount(std::uint32_t count) {
    if (count == 0) return 0;
    const std::int32_t rpm = kAmdTicksPerMinute / (kAmdPulsesPerTurn * static_cast<std::int32_t>(count));
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(rpm));
}

// Register value of an AMD target: the requested speed taken modulo 65536
// as a signed 16-bit value, 0 for 0.
std::uint32_t AmdRegisterFromRpm(std::int32_t requested) {
    const std::int32_t rpm = static_cast<std::int16_t>(static_cast<std::uint16_t>(requested));
    if (rpm == 0) return 0;
    const std::int32_t count = kAmdTicksPerMinute / (kAmdPulsesPerTurn * rpm);
    return ~static_cast<std::uint32_t>(count) & kCountMask;
}

std::int32_t ZlkdRpmFromCount(std::uint32_t count) {
    if (count == 0) return 0;
    return static_cast<std::int32_t>(kZlkdMicrosecondsPerMinute /
                                     (count * kZlkdTickMicroseconds * kZlkdPulsesPerTurn));
}

// Tachometer count belonging to a ZLKD target; 0 for 0 RPM (the quotient
// would be infinite) and for speeds above 480000 RPM (it is below 1).
std::uint32_t ZlkdCountFromRpm(std::uint32_t rpm) {
    if (rpm == 0) return 0;
    return static_cast<std::uint32_t>(kZlkdMicrosecondsPerMinute /
                                      (rpm * kZlkdTickMicroseconds * kZlkdPulsesPerTurn));
}

std::int32_t MachineRpmFromCount(std::uint32_t count) {
    return static_cast<std::int32_t>(kMachineTicksPerMinute / (kMachinePulsesPerTurn * count));
}

std::uint32_t TachometerRegister(const ec::RamWindow& window) {
    const std::uint8_t high = ec::WindowRead(window, kRegTachometerHigh);
    const std::uint8_t low = ec::WindowRead(window, kRegTachometerLow);
    return static_cast<std::uint32_t>(high) << 8 | low;
}

// The EC RAM bit and the Fan0 control flag have opposite polarities: a set
// 0x02 in 0xF4D3 means manual control, a set 0x80 in the flag EC control.
// The read-modify-write is one EC session, so no other program can change
// the register between our read and our write. The flag is written back
// only when the EC answered its read: the other seven bits are the EC's
// own (fan and charging firmware flags), and a byte it never sent would
// overwrite them. Its line is printed once the byte went out; the result
// says whether the EC took it. False when the switch was not made.
bool SwitchFanControl(bool manual) {
    ec::Session session;
    if (!session.Bound()) return false;
    if (smbios::MachineType() == 0) {
        const std::uint8_t control = ec::WindowRead(ec::EcRamWindow381, kRegPwmFanControl);
        const std::uint8_t updated = manual ? static_cast<std::uint8_t>(control | kPwmManualBit)
                                            : static_cast<std::uint8_t>(control & ~kPwmManualBit);
        ec::WindowWrite(ec::EcRamWindow381, kRegPwmFanControl, updated);
        return true;
    }
    std::uint8_t flag = 0;
    if (!ec::Fan0ControlFlagRead(flag)) return false;
    platform::Printf(kMsgReadFan0Flag, flag);
    const std::uint8_t updated = manual ? static_cast<std::uint8_t>(flag & ~kFan0EcControlBit)
                                        : static_cast<std::uint8_t>(flag | kFan0EcControlBit);
    const ec::Delivery delivery = ec::Fan0ControlFlagWrite(updated);
    if (delivery.sent) platform::Printf(kMsgSetFan0Flag, updated);
    return delivery.taken;
}

}  // namespace

// Each read reports only what the EC answered: a read the EC did not
// answer fails the operation without its line. A write's line is printed
// once its byte went out; the result says whether the EC took it. Each
// operation is one EC session (the dispatch pauses between them).
bool MachineTypeDutyWrite(std::uint32_t duty) {
    if (!hwio::HwioReady()) return false;
    const ec::Delivery delivery = ec::Fan0DutyWrite(static_cast<std::uint8_t>(duty & 0xFF));
    if (delivery.sent) platform::Printf(kMsgFan0Duty, duty);
    return delivery.taken;
}

bool MachineTypeTachometerRead(std::int32_t& rpm) {
    ec::Session session;  // both halves of the count, back to back
    if (!session.Bound()) return false;
    std::uint8_t high = 0;
    if (!ec::Ec25CRead(kRegMachineTachometerHigh, high)) return false;
    platform::Printf(kMsgTachoHigh, high);
    std::uint8_t low = 0;
    if (!ec::Ec25CRead(kRegMachineTachometerLow, low)) return false;
    platform::Printf(kMsgTachoLow, low);
    const std::uint32_t count = static_cast<std::uint32_t>(high) << 8 | low;
    platform::Printf(kMsgTachoCount, count);
    if (count == 0) {
        rpm = 0;
        return true;
    }
    rpm = MachineRpmFromCount(count);
    platform::Printf(kMsgTachoRpm, rpm);
    return true;
}

bool MachineTypeTemperatureRead(std::int32_t& temperature) {
    if (!hwio::HwioReady()) return false;
    std::uint8_t byte = 0;
    if (!ec::CpuTemperatureRead25C(byte)) return false;
    temperature = static_cast<std::int8_t>(byte);
    platform::Printf(kMsgCpuTemp, temperature);
    return true;
}

}  // namespace hwtk3::fan

using namespace hwtk3;
using namespace hwtk3::fan;

// AMD map. Each export's register steps are one EC session; the pause
// after the last step is made with the EC free.

int Diag_AMDSetFanRPM(int rpm) {
    {
        ec::Session session;
        if (!session.Bound()) return 0;
        const std::uint32_t value = AmdRegisterFromRpm(rpm);
        ec::WindowWrite(ec::EcRamWindowFD61, kRegAmdTargetHigh, HighByte(value));
        ec::WindowWrite(ec::EcRamWindowFD61, kRegAmdTargetLow, LowByte(value));
    }
    platform::Sleep(kStepPauseMs);
    return 1;
}

int Diag_AMDGetFanRPM(int* rpm) {
    {
        ec::Session session;
        if (!session.Bound()) return 0;
        const std::uint32_t value = TachometerRegister(ec::EcRamWindowFD61);
        *rpm = AmdRpmFromCount(InvertedCount(HighByte(value), LowByte(value)));
    }
    platform::Sleep(kStepPauseMs);
    return 1;
}

int Diag_AMDGetCpuTemperature(int* temperature) {
    {
        ec::Session session;
        if (!session.Bound()) return 0;
        *temperature = ec::WindowRead(ec::EcRamWindowFD61, kRegCpuTemperature);
    }
    platform::Sleep(kStepPauseMs);
    return 1;
}

// PWM map.

bool Diag_FanState2(int* temperature, int* rpm) {
    {
        ec::Session session;
        if (!session.Bound()) return false;
        *temperature = ec::WindowRead(ec::EcRamWindow381, kRegCpuTemperature);
        platform::Sleep(kStepPauseMs);
        *rpm = static_cast<std::int32_t>(TachometerRegister(ec::EcRamWindow381));
    }
    platform::Sleep(kStepPauseMs);
    return true;
}

int Diag_GetFanCurState2(tFanState* state) {
    {
        ec::Session session;
        if (!session.Bound()) return 0;
        const std::uint8_t control = ec::WindowRead(ec::EcRamWindow381, kRegPwmFanControl);
        state->manual = (control & kPwmManualBit) != 0 ? 1 : 0;
        platform::Sleep(kStepPauseMs);
        state->speed = ec::WindowRead(ec::EcRamWindow381, kRegPwmSpeedSetting);
        platform::Sleep(kStepPauseMs);
        state->rpm = TachometerRegister(ec::EcRamWindow381);
    }
    platform::Sleep(kStepPauseMs);
    return 1;
}

int Diag_SetFanSpeed2(unsigned int speed) {
    {
        ec::Session session;
        if (!session.Bound()) return 0;
        const std::uint32_t setting = speed > kPwmMaxSetting ? kPwmMaxSetting : speed;
        ec::WindowWrite(ec::EcRamWindow381, kRegPwmSpeedSetting, static_cast<std::uint8_t>(setting));
    }
    platform::Sleep(kStepPauseMs);
    return 1;
}

// 0 also when the machine-type EC did not answer the flag's read or take
// its write: the fan is then not known to be in the mode asked for.
int Diag_SetFanManual2(int manual) {
    if (!SwitchFanControl(manual != 0)) return 0;
    platform::Sleep(kStepPauseMs);
    return 1;
}

// ZLKD map.

// The ZLKD exports fail (0, no line, output untouched) when the EC did not
// answer or did not take a byte: a reading made of bytes the EC never sent
// is no reading.
int Diag_ZLKDGetCpuTemperature2(int* temperature) {
    if (!hwio::HwioReady()) return 0;
    std::uint8_t byte = 0;
    if (!ec::CpuTemperatureRead68(byte)) return 0;
    *temperature = byte;
    platform::Sleep(kStepPauseMs);
    return 1;
}

int Diag_ZLKDGetFanSpeed2(int* rpm) {
    if (!hwio::HwioReady()) return 0;
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (!ec::TachometerRead68(high, low)) return 0;
    platform::Printf(kMsgZlkdTacho, high, low);
    const std::uint32_t count = InvertedCount(high, low);
    platform::Printf(kMsgZlkdCount, count);
    *rpm = ZlkdRpmFromCount(count);
    platform::Sleep(kStepPauseMs);
    return 1;
}

// Each byte of the target is announced as it goes out, so the exchange is
// driven step by step; a byte the EC was not ready for is not sent and not
// announced, and the export fails, as it does when the EC does not take
// the last byte in time.
int Diag_ZLKDSetFanSpeed2(unsigned int rpm) {
    if (!hwio::HwioReady()) return 0;
    const std::uint32_t count = ZlkdCountFromRpm(rpm);
    const std::uint32_t value = ~count & kCountMask;
    const std::uint8_t high = HighByte(value);
    const std::uint8_t low = LowByte(value);
    platform::Printf(kMsgZlkdTarget, count, value, value, high, low);

    {
        // One EC session; the pause after it is made with the EC free.
        ec::Exchange exchange(ec::EcPort68);
        if (exchange.SendCommand(ec::kCmdTachometerWrite)) {
            platform::Printf(kMsgZlkdPortWrite, ec::kCmdTachometerWrite, ec::EcPort68.command);
        }
        if (exchange.WriteData(high)) platform::Printf(kMsgZlkdPortWrite, high, ec::EcPort68.data);
        if (exchange.WriteData(low)) platform::Printf(kMsgZlkdPortWrite, low, ec::EcPort68.data);
        if (!exchange.Confirm()) return 0;
    }
    platform::Sleep(kStepPauseMs);
    return 1;
}
