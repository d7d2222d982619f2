#include "sim/fan_model.h"

#include <algorithm>
#include <cmath>

namespace hwtk3::sim {
namespace {

// EC RAM.
constexpr std::uint16_t kCpuTemperature = 0xF451;
constexpr std::uint16_t kSetting = 0xF463;
constexpr std::uint16_t kTachometerHigh = 0xF466;
constexpr std::uint16_t kTachometerLow = 0xF467;
constexpr std::uint16_t kAmdTargetHigh = 0xF46A;
constexpr std::uint16_t kAmdTargetLow = 0xF46B;
constexpr std::uint16_t kFanControl = 0xF4D3;
constexpr std::uint16_t kMachineTachometerHigh = 0x181F;
constexpr std::uint16_t kMachineTachometerLow = 0x181E;

// EC commands.
constexpr std::uint8_t kZlkdTachometerRead = 0x23;
constexpr std::uint8_t kZlkdTargetWrite = 0x24;
constexpr std::uint8_t kZlkdTemperatureRead = 0x2D;
constexpr std::uint8_t kFan0DutyWrite = 0x84;
constexpr std::uint8_t kTemperatureRead = 0x90;
constexpr std::uint8_t kFan0FlagRead = 0x94;
constexpr std::uint8_t kFan0FlagWrite = 0x95;
constexpr std::uint8_t kFan0FlagIndex = 0x21;
constexpr std::uint8_t kCpuTemperatureIndex = 0xA0;
// Read-modify-write bookkeeping of the Fan0 flags, apart from EC RAM
// addresses on the same channel.
constexpr std::uint32_t kFan0FlagKey = 0x10000;

// 12-bit inverted tachometer: count × RPM = 480000.
constexpr double kCountRpm = 480000.0;
constexpr std::uint32_t kCountMask = 0x0FFF;
// Machine-type tachometer: count × RPM = 2156250; the duty byte drives the
// fan at 20 RPM per step.
constexpr double kMachineCountRpm = 2156250.0;
constexpr double kRpmPerDuty = 20.0;
// PWM map: the setting is a percentage of the fan's top speed.
constexpr double kPwmTopRpm = 5000.0;
constexpr std::uint8_t kPwmMaxSetting = 100;
// Other sensors the ZLKD temperature command reports after the CPU.
constexpr std::uint8_t kZlkdBoardTemperature = 38;
constexpr std::uint8_t kZlkdReserved = 0;
// Fan control bits the notebook starts with, besides the manual bit.
constexpr std::uint8_t kInitialFanControl = 0x41;

double RpmOfCount(std::uint32_t count) { return count == 0 ? 0.0 : kCountRpm / count; }

std::uint16_t InvertedCountOf(double rpm) {
    if (rpm <= 0.0) return kCountMask;  // no pulses: count 0
    const long count = std::clamp(std::lround(kCountRpm / rpm), 1L, static_cast<long>(kCountMask));
    return static_cast<std::uint16_t>(~static_cast<std::uint32_t>(count) & kCountMask);
}

}  // namespace

FanModel::FanModel(EcModel& ec, Clock& clock) : ec_(ec), clock_(clock) {
    ec_.Ram(kSetting) = static_cast<std::uint8_t>(kIdleRpm / kPwmTopRpm * kPwmMaxSetting);
    ec_.Ram(kFanControl) = kInitialFanControl;

    // EC RAM registers: hooks stay in place and answer for the map installed.
    ec_.SetReadHook(kCpuTemperature, [this] {
        return map_ == Map::Amd || map_ == Map::Pwm ? TemperatureByte() : ec_.Ram(kCpuTemperature);
    });
    ec_.SetReadHook(kTachometerHigh, [this] {
        return map_ == Map::Amd || map_ == Map::Pwm ? static_cast<std::uint8_t>(TachometerValue() >> 8)
                                                    : ec_.Ram(kTachometerHigh);
    });
    ec_.SetReadHook(kTachometerLow, [this] {
        return map_ == Map::Amd || map_ == Map::Pwm ? static_cast<std::uint8_t>(TachometerValue() & 0xFF)
                                                    : ec_.Ram(kTachometerLow);
    });
    ec_.SetReadHook(kMachineTachometerHigh, [this] {
        return map_ == Map::MachineType ? static_cast<std::uint8_t>(TachometerValue() >> 8)
                                        : ec_.Ram(kMachineTachometerHigh);
    });
    ec_.SetReadHook(kMachineTachometerLow, [this] {
        return map_ == Map::MachineType ? static_cast<std::uint8_t>(TachometerValue() & 0xFF)
                                        : ec_.Ram(kMachineTachometerLow);
    });
    // The AMD target takes effect with its low byte, which comes last.
    ec_.SetWriteHook(kAmdTargetLow, [this](std::uint8_t low) {
        if (map_ != Map::Amd) return;
        const std::uint32_t value = static_cast<std::uint32_t>(ec_.Ram(kAmdTargetHigh)) << 8 | low;
        Command(RpmOfCount(~value & kCountMask));
    });
    ec_.SetWriteHook(kSetting, [this](std::uint8_t setting) {
        if (map_ != Map::Pwm) return;
        Command(std::min(setting, kPwmMaxSetting) * kPwmTopRpm / kPwmMaxSetting);
    });

    Install(Map::Zlkd);
}

void FanModel::WithdrawCommands() {
    for (std::uint8_t command : {kZlkdTachometerRead, kZlkdTargetWrite, kZlkdTemperatureRead}) {
        ec_.RemoveCommand(EcModel::k68, command);
    }
    for (std::uint8_t command : {kFan0DutyWrite, kTemperatureRead, kFan0FlagRead, kFan0FlagWrite}) {
        ec_.RemoveCommand(EcModel::k25C, command);
    }
}

// Each map's EC decodes only its own RAM window, so a fan export that used
// the other one reads an undecoded port (0xFF) and writes nowhere.
void FanModel::Install(Map map) {
    WithdrawCommands();
    map_ = map;
    ec_.window381 = map == Map::Pwm;
    ec_.windowFD61 = map == Map::Amd;
    using Bytes = EcModel::Bytes;
    switch (map) {
        case Map::Zlkd:
            ec_.SetCommand(EcModel::k68, kZlkdTachometerRead, 0, [this](const Bytes&) {
                const std::uint16_t value = TachometerValue();
                return Bytes{static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
            });
            ec_.SetCommand(EcModel::k68, kZlkdTargetWrite, 2, [this](const Bytes& p) {
                const std::uint32_t value = static_cast<std::uint32_t>(p[0]) << 8 | p[1];
                Command(RpmOfCount(~value & kCountMask));
                return Bytes{};
            });
            ec_.SetCommand(EcModel::k68, kZlkdTemperatureRead, 0, [this](const Bytes&) {
                return Bytes{TemperatureByte(), kZlkdBoardTemperature, kZlkdReserved};
            });
            break;
        case Map::MachineType:
            ec_.SetCommand(EcModel::k25C, kFan0DutyWrite, 2, [this](const Bytes& p) {
                fan0Duty = p[1];
                Command(fan0Duty * kRpmPerDuty);
                return Bytes{};
            });
            ec_.SetCommand(EcModel::k25C, kTemperatureRead, 1, [this](const Bytes& p) {
                return Bytes{p[0] == kCpuTemperatureIndex ? TemperatureByte() : std::uint8_t{0}};
            });
            ec_.SetCommand(EcModel::k25C, kFan0FlagRead, 1, [this](const Bytes& p) {
                ec_.NoteRegisterRead(EcModel::k25C, kFan0FlagKey | p[0]);
                return Bytes{p[0] == kFan0FlagIndex ? fan0ControlFlag : std::uint8_t{0}};
            });
            ec_.SetCommand(EcModel::k25C, kFan0FlagWrite, 2, [this](const Bytes& p) {
                ec_.NoteRegisterWrite(EcModel::k25C, kFan0FlagKey | p[0]);
                if (p[0] == kFan0FlagIndex) fan0ControlFlag = p[1];
                return Bytes{};
            });
            break;
        case Map::Amd:
        case Map::Pwm:
            break;  // EC RAM only: the hooks above
    }
}

double FanModel::Rpm() const {
    const std::uint64_t elapsed = clock_.NowMs() - changedAtMs_;
    if (settleMs == 0 || elapsed >= settleMs) return toRpm_;
    return fromRpm_ + (toRpm_ - fromRpm_) * static_cast<double>(elapsed) / settleMs;
}

void FanModel::Command(double rpm) {
    fromRpm_ = Rpm();
    toRpm_ = rpm;
    changedAtMs_ = clock_.NowMs();
}

std::uint16_t FanModel::TachometerValue() const {
    if (tachometerOverride) return *tachometerOverride;
    const double rpm = Rpm();
    switch (map_) {
        case Map::Zlkd:
        case Map::Amd:
            return InvertedCountOf(rpm);
        case Map::Pwm:
            return static_cast<std::uint16_t>(std::lround(std::clamp(rpm, 0.0, 65535.0)));
        case Map::MachineType:
            if (rpm <= 0.0) return 0;
            return static_cast<std::uint16_t>(std::clamp(std::lround(kMachineCountRpm / rpm), 1L, 0xFFFFL));
    }
    return 0;
}

}  // namespace hwtk3::sim
