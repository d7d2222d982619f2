// Diag_FanCpu and Diag_FanCpuGetValue: the platform path, the order of the
// register operations, the settle and spacing pauses, and the lines.
#include "fan/fan_dispatch.h"

#include <cstdint>

#include "fan/fan_registers.h"
#include "hwio/ec_firmware.h"
#include "include/hwtk3.h"
#include "platform/platform.h"
#include "smbios/identity.h"

namespace hwtk3::fan {
namespace {

constexpr const char kMsgZlkd[] = "ec ZLKD\n";
constexpr const char kMsgSetRpm[] = "Set rpm to %d\n";
constexpr const char kMsgGotRpm[] = "Get fan speed %d\n";
constexpr const char kMsgPwm[] = "old ec, fan uses pwm control\n";
constexpr const char kMsgSetFailed[] = "Error while setting fan speed!\n";
constexpr const char kMsgGetRpmFailed[] = "Error while getting fan speed!\n";
constexpr const char kMsgGetTempFailed[] = "Error while getting CPU temperature!\n";
constexpr const char kMsgPwmGetFailed[] = "Error while getting Fan speed/CPU temperature!\n";
constexpr const char kMsgAmdSetFailed[] = "Error while setting fan speed of AMD platform!\n";
constexpr const char kMsgAmdGetRpmFailed[] = "Error while getting fan speed of AMD platform!\n";
constexpr const char kMsgAmdGetTempFailed[] = "Error while getting CPU temperature of AMD platform!\n";

// Firmware family tag of the ECs with the ZLKD register map, matched
// case-sensitively anywhere in the version text.
constexpr const char kZlkdTag[] = "ZLKD";

// The fan needs this long to reach a new speed; the reads after it are
// spaced by the shorter pause.
constexpr platform::DWORD kSettlePauseMs = 3000;
constexpr platform::DWORD kReadPauseMs = 200;

// Duty value of a machine-type duty level: twice the level plus 50. Done in
// unsigned arithmetic so that any level wraps as the 32-bit value would.
constexpr std::uint32_t kDutyPerLevel = 2;
constexpr std::uint32_t kDutyBase = 50;

// Outputs on failure, on every path: an output delivered by an earlier step
// of the call stays written; the failing step's outputs and those of every
// later step keep the caller's values. Every step writes its outputs only
// when it succeeds.
//
// The machine-type path. Its operations fail while the port-I/O binding is
// down (the first one then fails before any port access) or when the EC does
// not answer; the path then returns false at once, with no line of its own.
bool MachineTypeRead(int* rpm, int* temperature) {
    std::int32_t speed = 0;
    if (!MachineTypeTachometerRead(speed)) return false;
    *rpm = speed;
    platform::Sleep(kReadPauseMs);
    std::int32_t celsius = 0;
    if (!MachineTypeTemperatureRead(celsius)) return false;
    *temperature = celsius;
    platform::Sleep(kReadPauseMs);
    return true;
}

bool ZlkdRead(int* rpm, int* temperature, bool announce) {
    if (Diag_ZLKDGetFanSpeed2(rpm) == 0) {
        platform::PutText(kMsgGetRpmFailed);
        return false;
    }
    if (announce) platform::Printf(kMsgGotRpm, *rpm);
    platform::Sleep(kReadPauseMs);
    if (Diag_ZLKDGetCpuTemperature2(temperature) == 0) {
        platform::PutText(kMsgGetTempFailed);
        return false;
    }
    platform::Sleep(kReadPauseMs);
    return true;
}

bool PwmRead(int* rpm, int* temperature) {
    if (!Diag_FanState2(temperature, rpm)) {
        platform::PutText(kMsgPwmGetFailed);
        return false;
    }
    platform::Sleep(kReadPauseMs);
    return true;
}

bool AmdRead(int* rpm, int* temperature) {
    if (Diag_AMDGetFanRPM(rpm) == 0) {
        platform::PutText(kMsgAmdGetRpmFailed);
        return false;
    }
    platform::Sleep(kReadPauseMs);
    if (Diag_AMDGetCpuTemperature(temperature) == 0) {
        platform::PutText(kMsgAmdGetTempFailed);
        return false;
    }
    platform::Sleep(kReadPauseMs);
    return true;
}

}  // namespace

FanPath ChooseFanPath(bool ecPlatform) {
    if (smbios::MachineType() != 0) return FanPath::MachineType;
    if (!ecPlatform) return FanPath::Amd;
    return hwio::EcFirmwareVersionContains(kZlkdTag) ? FanPath::Zlkd : FanPath::Pwm;
}

}  // namespace hwtk3::fan

using namespace hwtk3;
using namespace hwtk3::fan;

// Argument 1 drives the ZLKD and AMD targets, argument 2 the machine-type
// duty; on the PWM map the setting comes in through *rpm itself.
bool Diag_FanCpu(int targetRpm, int dutyLevel, int* rpm, int* temperature, bool ecPlatform) {
    switch (ChooseFanPath(ecPlatform)) {
        case FanPath::MachineType: {
            const std::uint32_t duty = static_cast<std::uint32_t>(dutyLevel) * kDutyPerLevel + kDutyBase;
            if (!MachineTypeDutyWrite(duty)) return false;
            platform::Sleep(kSettlePauseMs);
            return MachineTypeRead(rpm, temperature);
        }
        case FanPath::Zlkd:
            platform::PutText(kMsgZlkd);
            platform::Printf(kMsgSetRpm, targetRpm);
            if (Diag_ZLKDSetFanSpeed2(static_cast<unsigned int>(targetRpm)) == 0) {
                platform::PutText(kMsgSetFailed);
                return false;
            }
            platform::Sleep(kSettlePauseMs);
            return ZlkdRead(rpm, temperature, true);
        case FanPath::Pwm:
            platform::PutText(kMsgPwm);
            if (Diag_SetFanSpeed2(static_cast<unsigned int>(*rpm)) == 0) {
                platform::PutText(kMsgSetFailed);
                return false;
            }
            platform::Sleep(kSettlePauseMs);
            return PwmRead(rpm, temperature);
        case FanPath::Amd:
            if (Diag_AMDSetFanRPM(targetRpm) == 0) {
                platform::PutText(kMsgAmdSetFailed);
                return false;
            }
            platform::Sleep(kSettlePauseMs);
            return AmdRead(rpm, temperature);
    }
    return false;
}

bool Diag_FanCpuGetValue(int* rpm, int* temperature, bool ecPlatform) {
    switch (ChooseFanPath(ecPlatform)) {
        case FanPath::MachineType:
            return MachineTypeRead(rpm, temperature);
        case FanPath::Zlkd:
            return ZlkdRead(rpm, temperature, false);
        case FanPath::Pwm:
            return PwmRead(rpm, temperature);
        case FanPath::Amd:
            return AmdRead(rpm, temperature);
    }
    return false;
}
