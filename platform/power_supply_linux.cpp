// Battery class devices over /sys/class/power_supply. Each battery (type
// "Battery") or UPS (type "UPS") directory is a device whose path is the
// directory itself; its handle answers the three battery class queries the
// way a Windows battery driver would, in mWh and mV. The kernel reports
// micro-units, and a battery that counts charge (µAh) rather than energy
// is converted with its design voltage.
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/battery_class.h"
#include "platform/handle_table.h"
#include "platform/linux_services.h"

namespace hwtk3::platform::internal {
namespace {

namespace bc = battery;

constexpr const char kDefaultRoot[] = "/sys/class/power_supply";
constexpr const char kTypeBattery[] = "Battery";
constexpr const char kTypeUps[] = "UPS";
constexpr const char kScopeDevice[] = "Device";  // a peripheral's own battery, not the system's
constexpr const char kStatusCharging[] = "Charging";
constexpr const char kStatusDischarging[] = "Discharging";
constexpr const char kStatusFull[] = "Full";
constexpr const char kStatusNotCharging[] = "Not charging";
constexpr const char kLevelCritical[] = "Critical";

// One tag for every battery that is present: a Linux power supply keeps its
// directory while the battery is out, so there is no insertion to count.
constexpr std::uint32_t kPresentTag = 1;

constexpr std::int64_t kMicroPerMilli = 1000;
constexpr std::int64_t kMicroAmpMicroVoltPerMilliWatt = 1000000000;  // µA·µV -> mW, µAh·µV -> mWh

struct PowerSupply {
    std::string directory;
};

std::string g_root = kDefaultRoot;
HandleTable<PowerSupply> g_handles;

std::optional<std::string> ReadText(const std::string& directory, const char* name) {
    std::ifstream file(directory + "/" + name);
    std::string text;
    if (!file || !std::getline(file, text)) return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) text.pop_back();
    return text;
}

std::optional<std::int64_t> ReadNumber(const std::string& directory, const char* name) {
    const std::optional<std::string> text = ReadText(directory, name);
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    const long long value = std::strtoll(text->c_str(), &end, 10);
    if (end == text->c_str() || *end != '\0') return std::nullopt;
    return static_cast<std::int64_t>(value);
}

bool IsBatteryType(const std::string& directory) {
    const std::optional<std::string> type = ReadText(directory, "type");
    return type && (*type == kTypeBattery || *type == kTypeUps);
}

// Clamps a non-negative count into the 32 bits of the Windows records, below
// the "unknown" value.
std::uint32_t ToRecord(std::int64_t value) {
    if (value <= 0) return 0;
    const std::int64_t top = static_cast<std::int64_t>(bc::kUnknownCapacity) - 1;
    return static_cast<std::uint32_t>(std::min(value, top));
}

// |value|, without the undefined negation of the most negative value.
std::int64_t Magnitude(std::int64_t value) {
    if (value == INT64_MIN) return INT64_MAX;
    return value < 0 ? -value : value;
}

// Micro-amperes (or µAh) times micro-volts, in mW (or mWh). The kernel's
// values are whatever a driver put there: a product that leaves 64 bits is
// far beyond what the records hold and stops at the top; a negative factor
// gives nothing.
std::int64_t MilliFromMicroProduct(std::int64_t micro, std::int64_t microVolts) {
    if (micro <= 0 || microVolts <= 0) return 0;
    std::int64_t product = 0;
    if (__builtin_mul_overflow(micro, microVolts, &product)) return INT64_MAX;
    return product / kMicroAmpMicroVoltPerMilliWatt;
}

// Energy in mWh from energy_<name> (µWh), or from charge_<name> (µAh) and
// the design voltage; nullopt when the supply reports neither.
std::optional<std::uint32_t> EnergyMilliWattHours(const std::string& directory, const std::string& name) {
    if (auto energy = ReadNumber(directory, ("energy_" + name).c_str())) {
        return ToRecord(*energy / kMicroPerMilli);
    }
    auto charge = ReadNumber(directory, ("charge_" + name).c_str());
    auto volts = ReadNumber(directory, "voltage_min_design");
    if (!volts) volts = ReadNumber(directory, "voltage_now");
    if (!charge || !volts) return std::nullopt;
    return ToRecord(MilliFromMicroProduct(*charge, *volts));
}

bc::BATTERY_INFORMATION Information(const std::string& directory) {
    bc::BATTERY_INFORMATION info{};
    const std::optional<std::string> scope = ReadText(directory, "scope");
    if (!(scope && *scope == kScopeDevice)) info.Capabilities |= bc::kSystemBattery;
    const std::optional<std::string> type = ReadText(directory, "type");
    if (type && *type == kTypeUps) info.Capabilities |= bc::kIsShortTerm;
    info.Technology = bc::kTechnologyRechargeable;
    info.DesignedCapacity = EnergyMilliWattHours(directory, "full_design").value_or(0);
    info.FullChargedCapacity = EnergyMilliWattHours(directory, "full").value_or(0);
    if (auto cycles = ReadNumber(directory, "cycle_count")) info.CycleCount = ToRecord(*cycles);
    return info;
}

bc::BATTERY_STATUS Status(const std::string& directory) {
    bc::BATTERY_STATUS status{};
    const std::string text = ReadText(directory, "status").value_or("");
    if (text == kStatusCharging) {
        status.PowerState = bc::kCharging | bc::kPowerOnLine;
    } else if (text == kStatusDischarging) {
        status.PowerState = bc::kDischarging;
    } else if (text == kStatusFull || text == kStatusNotCharging) {
        status.PowerState = bc::kPowerOnLine;
    }
    if (ReadText(directory, "capacity_level").value_or("") == kLevelCritical) status.PowerState |= bc::kCritical;

    status.Capacity = EnergyMilliWattHours(directory, "now").value_or(bc::kUnknownCapacity);
    // Without voltage_now the voltage is unknown. The battery status export
    // takes the voltage as reported, so BATTERY_UNKNOWN_VOLTAGE would read
    // as 4,294,967 V there; 0 mV is what it treats as no voltage (and then
    // converts no capacity to mAh).
    const std::optional<std::int64_t> microVolts = ReadNumber(directory, "voltage_now");
    status.Voltage = microVolts ? ToRecord(*microVolts / kMicroPerMilli) : 0;

    std::optional<std::int64_t> milliWatts;
    if (auto power = ReadNumber(directory, "power_now")) {
        milliWatts = Magnitude(*power) / kMicroPerMilli;
    } else if (auto current = ReadNumber(directory, "current_now"); current && microVolts) {
        milliWatts = MilliFromMicroProduct(Magnitude(*current), *microVolts);
    }
    if (!milliWatts) {
        status.Rate = bc::kUnknownRate;
    } else {
        const std::int32_t rate = static_cast<std::int32_t>(std::min<std::int64_t>(*milliWatts, INT32_MAX));
        status.Rate = (status.PowerState & bc::kDischarging) != 0 ? -rate : rate;
    }
    return status;
}

template <typename Record>
BOOL Answer(const Record& record, void* out, DWORD outSize, DWORD* bytesReturned, DWORD& error) {
    if (out == nullptr || outSize < sizeof(Record)) {
        error = kErrorInsufficientBuffer;
        return 0;
    }
    std::memcpy(out, &record, sizeof(Record));
    if (bytesReturned != nullptr) *bytesReturned = sizeof(Record);
    return 1;
}

}  // namespace

void SetPowerSupplyRoot(const char* root) { g_root = root != nullptr ? root : kDefaultRoot; }

int OpenPowerSupplyHandles() { return g_handles.Count(); }

std::vector<std::string> PowerSupplyInterfaces() {
    std::vector<std::string> paths;
    DIR* dir = opendir(g_root.c_str());
    if (dir == nullptr) return paths;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string path = g_root + "/" + entry->d_name;
        if (IsBatteryType(path)) paths.push_back(path);
    }
    closedir(dir);
    std::sort(paths.begin(), paths.end());
    return paths;
}

HANDLE OpenPowerSupply(const char* path, DWORD) {
    if (path == nullptr) return kInvalidHandleValue;
    const std::string directory = path;
    const std::string prefix = g_root + "/";
    if (directory.compare(0, prefix.size(), prefix) != 0 ||
        directory.find('/', prefix.size()) != std::string::npos || !IsBatteryType(directory)) {
        return kInvalidHandleValue;
    }
    return g_handles.Add(PowerSupply{directory});
}

BOOL PowerSupplyIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                          DWORD* bytesReturned, DWORD& error) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    PowerSupply* supply = g_handles.Find(device);
    if (supply == nullptr) {
        error = kErrorInvalidHandle;
        return 0;
    }
    const bool present = ReadNumber(supply->directory, "present").value_or(1) != 0;
    switch (code) {
        case bc::kIoctlQueryTag: {
            if (in == nullptr || inSize < sizeof(std::uint32_t)) break;
            if (!present) {
                error = kErrorFileNotFound;
                return 0;
            }
            return Answer(kPresentTag, out, outSize, bytesReturned, error);
        }
        case bc::kIoctlQueryInformation: {
            bc::BATTERY_QUERY_INFORMATION query{};
            if (in == nullptr || inSize < sizeof query) break;
            std::memcpy(&query, in, sizeof query);
            if (query.InformationLevel != bc::kLevelBatteryInformation) break;
            if (!present || query.BatteryTag != kPresentTag) {
                error = kErrorFileNotFound;
                return 0;
            }
            return Answer(Information(supply->directory), out, outSize, bytesReturned, error);
        }
        case bc::kIoctlQueryStatus: {
            bc::BATTERY_WAIT_STATUS wait{};
            if (in == nullptr || inSize < sizeof wait) break;
            std::memcpy(&wait, in, sizeof wait);
            if (!present || wait.BatteryTag != kPresentTag) {
                error = kErrorFileNotFound;
                return 0;
            }
            return Answer(Status(supply->directory), out, outSize, bytesReturned, error);
        }
        default:
            error = kErrorInvalidFunction;
            return 0;
    }
    error = kErrorInvalidParameter;
    return 0;
}

BOOL ClosePowerSupply(HANDLE device) {
    if (!g_handles.Release(device)) {
        SetLastError(kErrorInvalidHandle);
        return 0;
    }
    return 1;
}

}  // namespace hwtk3::platform::internal
