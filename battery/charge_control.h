// The battery charge switch: bit 6 of one EC byte, set = charging off.
// Machines with a nonzero MachineType keep it at EC address 0x04F8 behind
// 0x25C/0x25D; all others at EC RAM 0xD2 behind the ACPI EC on 0x62/0x66.
#ifndef HWTK3_BATTERY_CHARGE_CONTROL_H
#define HWTK3_BATTERY_CHARGE_CONTROL_H

#include <cstdint>

namespace hwtk3::battery {

inline constexpr std::uint8_t kChargeSwitchRamIndex = 0xD2;     // EC RAM, through 0x62/0x66
inline constexpr std::uint16_t kChargeSwitchAddress = 0x04F8;   // EC address, through 0x25C/0x25D
inline constexpr std::uint8_t kEcRamBankIdIndex = 0xFF;         // EC RAM bank identifier
inline constexpr std::uint8_t kChargingOffBit = 0x40;           // set: charging off

// Write and read-back rounds of the switch.
inline constexpr int kReadBacksPerPass = 3;   // EC RAM path: read-backs after each write
inline constexpr int kPasses = 3;             // EC RAM path: writes
inline constexpr int kSwitchAttempts = 3;     // machine-type path: write and read-back rounds
inline constexpr std::uint32_t kRetryPauseMs = 1000;

}  // namespace hwtk3::battery

#endif  // HWTK3_BATTERY_CHARGE_CONTROL_H
