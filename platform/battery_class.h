// The battery class driver's published interface: its device interface
// class, its I/O control codes and the records they carry, laid out exactly
// as Windows lays them out. The battery status export sends them, our Linux
// layer answers them from /sys/class/power_supply, and the virtual notebook
// answers them from its battery models.
#ifndef HWTK3_PLATFORM_BATTERY_CLASS_H
#define HWTK3_PLATFORM_BATTERY_CLASS_H

#include <cstdint>

#include "platform/platform.h"

namespace hwtk3::platform::battery {

// {72631E54-78A4-11D0-BCF7-00AA00B7B32A}: GUID_DEVCLASS_BATTERY, which is
// also the battery device interface class GUID_DEVICE_BATTERY.
inline constexpr GUID kBatteryClassGuid{0x72631E54, 0x78A4, 0x11D0, {0xBC, 0xF7, 0x00, 0xAA, 0x00, 0xB7, 0xB3, 0x2A}};

inline constexpr DWORD kIoctlQueryTag = 0x294040;          // IOCTL_BATTERY_QUERY_TAG
inline constexpr DWORD kIoctlQueryInformation = 0x294044;  // IOCTL_BATTERY_QUERY_INFORMATION
inline constexpr DWORD kIoctlQueryStatus = 0x29404C;       // IOCTL_BATTERY_QUERY_STATUS

// BATTERY_QUERY_INFORMATION_LEVEL: only the static information is asked for.
inline constexpr std::uint32_t kLevelBatteryInformation = 0;  // BatteryInformation

// BATTERY_INFORMATION.Capabilities
inline constexpr std::uint32_t kSystemBattery = 0x80000000;  // BATTERY_SYSTEM_BATTERY
inline constexpr std::uint32_t kIsShortTerm = 0x20000000;    // BATTERY_IS_SHORT_TERM (a UPS)

// BATTERY_STATUS.PowerState
inline constexpr std::uint32_t kPowerOnLine = 0x1;   // BATTERY_POWER_ON_LINE
inline constexpr std::uint32_t kDischarging = 0x2;   // BATTERY_DISCHARGING
inline constexpr std::uint32_t kCharging = 0x4;      // BATTERY_CHARGING
inline constexpr std::uint32_t kCritical = 0x8;      // BATTERY_CRITICAL

inline constexpr std::uint32_t kUnknownCapacity = 0xFFFFFFFF;  // BATTERY_UNKNOWN_CAPACITY
inline constexpr std::uint32_t kUnknownVoltage = 0xFFFFFFFF;   // BATTERY_UNKNOWN_VOLTAGE
inline constexpr std::int32_t kUnknownRate = INT32_MIN;        // BATTERY_UNKNOWN_RATE

// Technology byte of BATTERY_INFORMATION: rechargeable.
inline constexpr std::uint8_t kTechnologyRechargeable = 1;

struct BATTERY_QUERY_INFORMATION {
    std::uint32_t BatteryTag;
    std::uint32_t InformationLevel;
    std::int32_t AtRate;
};

struct BATTERY_INFORMATION {
    std::uint32_t Capabilities;
    std::uint8_t Technology;
    std::uint8_t Reserved[3];
    std::uint8_t Chemistry[4];
    std::uint32_t DesignedCapacity;     // mWh
    std::uint32_t FullChargedCapacity;  // mWh
    std::uint32_t DefaultAlert1;
    std::uint32_t DefaultAlert2;
    std::uint32_t CriticalBias;
    std::uint32_t CycleCount;
};

struct BATTERY_WAIT_STATUS {
    std::uint32_t BatteryTag;
    std::uint32_t Timeout;
    std::uint32_t PowerState;
    std::uint32_t LowCapacity;
    std::uint32_t HighCapacity;
};

struct BATTERY_STATUS {
    std::uint32_t PowerState;
    std::uint32_t Capacity;  // mWh
    std::uint32_t Voltage;   // mV
    std::int32_t Rate;       // mW, negative while discharging
};

static_assert(sizeof(BATTERY_QUERY_INFORMATION) == 12, "BATTERY_QUERY_INFORMATION layout");
static_assert(sizeof(BATTERY_INFORMATION) == 36, "BATTERY_INFORMATION layout");
static_assert(sizeof(BATTERY_WAIT_STATUS) == 20, "BATTERY_WAIT_STATUS layout");
static_assert(sizeof(BATTERY_STATUS) == 16, "BATTERY_STATUS layout");

}  // namespace hwtk3::platform::battery

#endif  // HWTK3_PLATFORM_BATTERY_CLASS_H
