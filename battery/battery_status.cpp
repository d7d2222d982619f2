// Diag_BatteryState: the battery's charge state, capacities in mAh, charge
// in percent and voltage, from the battery class driver. Prints nothing.
#include "battery/battery_status.h"

#include <cstddef>
#include <cstdint>

#include "include/hwtk3.h"
#include "platform/platform.h"

namespace hwtk3::battery {
namespace {

namespace pf = platform;
namespace bc = platform::battery;

constexpr const char kStateCharging[] = "charging";
constexpr const char kStateDischarging[] = "discharging";
constexpr const char kStateCharged[] = "charged";
constexpr const char kStateCritical[] = "critical";
constexpr const char kStateUnknown[] = "unknown";

constexpr pf::DWORD kClassFlags = pf::kDigcfPresent | pf::kDigcfDeviceInterface;
constexpr std::uint32_t kTagWaitNone = 0;  // answer at once, do not wait for a battery
constexpr double kMilliPerUnit = 1000.0;
constexpr double kPercent = 100.0;

// The answers of one device, gathered before any of them is believed.
struct DeviceAnswers {
    bool isBattery = false;  // system battery, not short-term
    bool hasStatus = false;
    bc::BATTERY_INFORMATION information{};
    bc::BATTERY_STATUS status{};
};

// Steps 5 to 8 of the enumeration on an open device.
DeviceAnswers QueryDevice(pf::HANDLE device) {
    DeviceAnswers answers;
    pf::DWORD returned = 0;

    std::uint32_t wait = kTagWaitNone;
    std::uint32_t tag = 0;
    if (!pf::DeviceIoControl(device, bc::kIoctlQueryTag, &wait, sizeof wait, &tag, sizeof tag, &returned, nullptr) ||
        tag == 0) {
        return answers;
    }

    bc::BATTERY_QUERY_INFORMATION query{tag, bc::kLevelBatteryInformation, 0};
    if (!pf::DeviceIoControl(device, bc::kIoctlQueryInformation, &query, sizeof query, &answers.information,
                             sizeof answers.information, &returned, nullptr) ||
        (answers.information.Capabilities & bc::kSystemBattery) == 0) {
        return answers;
    }
    answers.isBattery = (answers.information.Capabilities & bc::kIsShortTerm) == 0;
    if (!answers.isBattery) return answers;  // a UPS: its status is of no use to us

    bc::BATTERY_WAIT_STATUS waitStatus{};
    waitStatus.BatteryTag = tag;
    answers.hasStatus = pf::DeviceIoControl(device, bc::kIoctlQueryStatus, &waitStatus, sizeof waitStatus,
                                            &answers.status, sizeof answers.status, &returned, nullptr) != 0;
    return answers;
}

// Opens the device behind one interface index and queries it; releases
// everything it took on every path.
DeviceAnswers QueryInterface(pf::HDEVINFO set, std::uint32_t index, bool& noMoreItems) {
    DeviceAnswers answers;
    pf::SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (!pf::SetupDiEnumDeviceInterfaces(set, nullptr, &bc::kBatteryClassGuid, index, &interfaceData)) {
        noMoreItems = pf::GetLastError() == pf::kErrorNoMoreItems;
        return answers;
    }

    pf::DWORD required = 0;
    pf::SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
    if (pf::GetLastError() != pf::kErrorInsufficientBuffer) return answers;
    // A size that cannot hold even the fixed part would have us write the
    // size field past the end of the block.
    if (required < sizeof(pf::SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return answers;

    auto* detail = static_cast<pf::SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(pf::LocalAlloc(pf::kLptr, required));
    if (detail == nullptr) return answers;
    detail->cbSize = sizeof(pf::SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (pf::SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr, nullptr)) {
        pf::HANDLE device = pf::CreateFileA(detail->DevicePath, pf::kGenericRead | pf::kGenericWrite,
                                            pf::kFileShareRead | pf::kFileShareWrite, nullptr, pf::kOpenExisting,
                                            pf::kFileAttributeNormal, nullptr);
        if (device != pf::kInvalidHandleValue) {
            answers = QueryDevice(device);
            pf::CloseHandle(device);
        }
    }
    pf::LocalFree(detail);
    return answers;
}

// mWh over volts, truncated toward zero. Without a voltage there is no
// charge to speak of, and a result beyond the record's range is pinned to
// its top rather than left undefined.
std::int32_t MilliAmpHours(std::uint32_t milliWattHours, double volts) {
    if (!(volts > 0.0)) return 0;
    const double value = static_cast<double>(milliWattHours) / volts;
    if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

std::int32_t Percentage(std::uint32_t remaining, std::uint32_t full) {
    if (full == 0) return 0;
    const double value = static_cast<double>(remaining) / static_cast<double>(full) * kPercent;
    if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

const char* StateText(std::uint32_t powerState) {
    if (powerState & bc::kCharging) return kStateCharging;
    if (powerState & bc::kDischarging) return kStateDischarging;
    if (powerState & bc::kPowerOnLine) return kStateCharged;
    if (powerState & bc::kCritical) return kStateCritical;
    return kStateUnknown;
}

}  // namespace

// Only a device that qualifies as the notebook's battery contributes its
// answers: a UPS or a peripheral's battery enumerated after it must not
// overwrite what the battery said. Among several batteries the last one
// that answered its status query is reported; one whose status query
// failed is reported (without status) only when no battery answered it.
BatteryAnswers EnumerateBatteries() {
    BatteryAnswers result;
    pf::HDEVINFO set = pf::SetupDiGetClassDevsA(&bc::kBatteryClassGuid, nullptr, nullptr, kClassFlags);
    if (set == pf::kInvalidHandleValue) return result;

    for (std::uint32_t index = 0; index < kMaxInterfaceIndex; ++index) {
        bool noMoreItems = false;
        const DeviceAnswers answers = QueryInterface(set, index, noMoreItems);
        if (noMoreItems) break;
        if (!answers.isBattery) continue;
        if (answers.hasStatus || !result.hasStatus) {
            result.information = answers.information;
            result.status = answers.hasStatus ? answers.status : bc::BATTERY_STATUS{0, bc::kUnknownCapacity, 0, 0};
            result.hasStatus = answers.hasStatus;
        }
        result.found = true;
    }
    pf::SetupDiDestroyDeviceInfoList(set);
    return result;
}

}  // namespace hwtk3::battery

using namespace hwtk3;

bool Diag_BatteryState(tBattery* battery) {
    const battery::BatteryAnswers answers = battery::EnumerateBatteries();
    if (!answers.found || battery == nullptr) return false;

    const double volts = answers.status.Voltage / battery::kMilliPerUnit;
    battery->state = battery::StateText(answers.status.PowerState);
    battery->voltage = volts;
    battery->designCapacity = battery::MilliAmpHours(answers.information.DesignedCapacity, volts);
    battery->fullChargeCapacity = battery::MilliAmpHours(answers.information.FullChargedCapacity, volts);
    if (answers.status.Capacity == platform::battery::kUnknownCapacity) {
        battery->remainingCapacity = 0;
        battery->remainingPercentage = 0;
        return true;
    }
    battery->remainingCapacity = battery::MilliAmpHours(answers.status.Capacity, volts);
    battery->remainingPercentage =
        battery::Percentage(answers.status.Capacity, answers.information.FullChargedCapacity);
    return true;
}
