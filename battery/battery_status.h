// Battery status through the battery class driver: Diag_BatteryState finds
// the battery devices with the Setup API and queries each one.
#ifndef HWTK3_BATTERY_BATTERY_STATUS_H
#define HWTK3_BATTERY_BATTERY_STATUS_H

#include <cstdint>

#include "platform/battery_class.h"

namespace hwtk3::battery {

// Battery class interface indices examined at most.
inline constexpr std::uint32_t kMaxInterfaceIndex = 100;

// What the enumeration found: the answers of the battery that is reported.
struct BatteryAnswers {
    bool found = false;      // a system battery that is not a UPS answered
    bool hasStatus = false;  // ... and its status query succeeded
    platform::battery::BATTERY_INFORMATION information{};
    platform::battery::BATTERY_STATUS status{};
};

BatteryAnswers EnumerateBatteries();

}  // namespace hwtk3::battery

#endif  // HWTK3_BATTERY_BATTERY_STATUS_H
