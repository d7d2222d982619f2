#include "sim/battery_model.h"

#include <cstring>

namespace hwtk3::sim {
namespace {

namespace bc = platform::battery;

// Interface paths as the Setup API spells them: bus, instance, class GUID.
constexpr const char kAcpiBatteryPath[] = "\\\\?\\acpi#pnp0c0a#";
constexpr const char kUpsPath[] = "\\\\?\\hid#vid_051d&pid_0002#";
constexpr const char kBatteryClassSuffix[] = "#{72631e54-78a4-11d0-bcf7-00aa00b7b32a}";
// Handles of battery devices come from a range of their own, so the device
// host can tell them from the other devices' handles.
constexpr std::uintptr_t kFirstHandle = 0xBA770000;
constexpr std::uint8_t kWriteEc = 0x81;  // ACPI WR_EC, on 0x62/0x66 and 0x25C/0x25D
constexpr platform::DWORD kErrorNoSuchDevice = 433;  // ERROR_NO_SUCH_DEVICE: tag no longer valid
constexpr platform::DWORD kErrorNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY

std::string PathFor(const char* prefix, int number) {
    return prefix + std::to_string(number) + kBatteryClassSuffix;
}

template <typename Record>
platform::BOOL Answer(const Record& record, void* out, platform::DWORD outSize, platform::DWORD* bytesReturned,
                      platform::DWORD& error) {
    if (out == nullptr || outSize < sizeof(Record)) {
        error = platform::kErrorInsufficientBuffer;
        return 0;
    }
    std::memcpy(out, &record, sizeof(Record));
    if (bytesReturned != nullptr) *bytesReturned = sizeof(Record);
    return 1;
}

}  // namespace

BatteryDevice SystemBattery(int number) {
    BatteryDevice device;
    device.path = PathFor(kAcpiBatteryPath, number);
    device.information.Capabilities = bc::kSystemBattery;
    device.information.Technology = bc::kTechnologyRechargeable;
    std::memcpy(device.information.Chemistry, "LION", 4);
    device.information.DesignedCapacity = 48840;
    device.information.FullChargedCapacity = 44400;
    device.status.PowerState = bc::kDischarging;
    device.status.Capacity = 22200;
    device.status.Voltage = 11100;
    device.status.Rate = -9000;
    return device;
}

BatteryDevice UpsBattery(int number) {
    BatteryDevice device;
    device.path = PathFor(kUpsPath, number);
    device.information.Capabilities = bc::kSystemBattery | bc::kIsShortTerm;
    device.information.Technology = bc::kTechnologyRechargeable;
    std::memcpy(device.information.Chemistry, "PbAc", 4);
    device.information.DesignedCapacity = 86400;
    device.information.FullChargedCapacity = 86400;
    device.status.PowerState = bc::kPowerOnLine;
    device.status.Capacity = 86400;
    device.status.Voltage = 24000;
    return device;
}

Batteries::Batteries() : devices{SystemBattery(1)}, nextHandle_(kFirstHandle) {}

std::vector<std::string> Batteries::Interfaces() const {
    std::vector<std::string> paths;
    for (const BatteryDevice& device : devices) paths.push_back(device.path);
    return paths;
}

bool Batteries::Serves(const std::string& path) const {
    for (const BatteryDevice& device : devices) {
        if (device.path == path) return true;
    }
    return false;
}

bool Batteries::Owns(platform::HANDLE handle) const {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return value >= kFirstHandle && value < nextHandle_;
}

platform::DWORD Batteries::SetupApiFault(platform::testing::DeviceHost::SetupApiStep step, platform::DWORD index) {
    using Step = platform::testing::DeviceHost::SetupApiStep;
    if (step == Step::ClassDevs) return deviceInfoSetFails ? kErrorNotEnoughMemory : 0;
    if (step == Step::LocalAlloc) index = lastDetailSizeIndex_;
    if (index >= devices.size()) return 0;
    if (step == Step::DetailSize) lastDetailSizeIndex_ = index;
    const BatteryDevice& device = devices[index];
    switch (step) {
        case Step::EnumInterface: return device.enumFails ? kErrorNotEnoughMemory : 0;
        case Step::DetailSize: return device.detailSizeQueryFails ? kErrorNotEnoughMemory : 0;
        case Step::DetailSizeShort: return device.detailSizeShort ? 1 : 0;
        case Step::Detail: return device.detailFails ? kErrorNoSuchDevice : 0;
        case Step::LocalAlloc: return device.detailAllocationFails ? kErrorNotEnoughMemory : 0;
        default: return 0;
    }
}

int Batteries::DeviceIndex(platform::HANDLE handle) const {
    const auto open = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return open == handles_.end() ? -1 : static_cast<int>(open->second);
}

platform::HANDLE Batteries::Open(const std::string& path, platform::DWORD& error) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].path != path) continue;
        if (devices[i].openFails) break;
        ++opens;
        const std::uintptr_t handle = nextHandle_++;
        handles_[handle] = i;
        return reinterpret_cast<platform::HANDLE>(handle);
    }
    error = platform::kErrorFileNotFound;
    return platform::kInvalidHandleValue;
}

platform::BOOL Batteries::IoControl(platform::HANDLE handle, platform::DWORD code, const void* in,
                                    platform::DWORD inSize, void* out, platform::DWORD outSize,
                                    platform::DWORD* bytesReturned, platform::DWORD& error) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    const auto open = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (open == handles_.end()) {
        ++badHandleUses;
        error = platform::kErrorInvalidHandle;
        return 0;
    }
    BatteryDevice& device = devices[open->second];
    switch (code) {
        case bc::kIoctlQueryTag: {
            ++device.tagQueries;
            if (in == nullptr || inSize != sizeof(std::uint32_t)) break;
            if (device.tagQueryFails) {
                error = kErrorNoSuchDevice;
                return 0;
            }
            return Answer(device.tag, out, outSize, bytesReturned, error);
        }
        case bc::kIoctlQueryInformation: {
            ++device.informationQueries;
            bc::BATTERY_QUERY_INFORMATION query{};
            if (in == nullptr || inSize != sizeof query) break;
            std::memcpy(&query, in, sizeof query);
            if (query.InformationLevel != bc::kLevelBatteryInformation) break;
            if (device.informationQueryFails || device.tag == 0 || query.BatteryTag != device.tag) {
                error = kErrorNoSuchDevice;
                return 0;
            }
            return Answer(device.information, out, outSize, bytesReturned, error);
        }
        case bc::kIoctlQueryStatus: {
            ++device.statusQueries;
            bc::BATTERY_WAIT_STATUS wait{};
            if (in == nullptr || inSize != sizeof wait) break;
            std::memcpy(&wait, in, sizeof wait);
            if (device.statusQueryFails || device.tag == 0 || wait.BatteryTag != device.tag) {
                error = kErrorNoSuchDevice;
                return 0;
            }
            return Answer(device.status, out, outSize, bytesReturned, error);
        }
        default:
            error = platform::kErrorInvalidFunction;
            return 0;
    }
    error = platform::kErrorInvalidParameter;
    return 0;
}

platform::BOOL Batteries::Close(platform::HANDLE handle) {
    if (handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
        ++badHandleUses;
        return 0;
    }
    ++closes;
    return 1;
}

ChargeSwitch::ChargeSwitch(EcModel& ec) : ec_(ec) {
    ec_.Ram(kBankIdAddress) = kBankId;
    for (std::uint16_t address : {kRamByte, kMachineTypeByte}) {
        ec_.SetReadHook(address, [this, address] {
            Land(address);
            return ec_.Ram(address);
        });
    }
    ec_.SetCommand(EcModel::k62, kWriteEc, 2, [this](const EcModel::Bytes& p) {
        ec_.NoteRegisterWrite(EcModel::k62, p[0]);
        Write(p[0], p[1]);
        return EcModel::Bytes{};
    });
    ec_.SetCommand(EcModel::k25C, kWriteEc, 3, [this](const EcModel::Bytes& p) {
        const auto address = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
        ec_.NoteRegisterWrite(EcModel::k25C, address);
        Write(address, p[2]);
        return EcModel::Bytes{};
    });
}

int ChargeSwitch::Writes(std::uint16_t address) const {
    return address == kRamByte ? writes_[0] : address == kMachineTypeByte ? writes_[1] : 0;
}

std::uint8_t ChargeSwitch::Value(std::uint16_t address) {
    if (address == kRamByte || address == kMachineTypeByte) Land(address);
    return ec_.Ram(address);
}

void ChargeSwitch::Land(std::uint16_t address) {
    Pending& pending = pending_[Slot(address)];
    if (!pending.waiting || ec_.NowMs() < pending.atMs) return;
    pending.waiting = false;
    ec_.Ram(address) = static_cast<std::uint8_t>((ec_.Ram(address) & ~kChargingOff) | pending.bit);
}

void ChargeSwitch::Write(std::uint16_t address, std::uint8_t value) {
    if (address != kRamByte && address != kMachineTypeByte) {
        ec_.WriteRam(address, value);
        return;
    }
    Land(address);
    const std::uint8_t before = ec_.Ram(address);
    const int write = ++writes_[Slot(address)];
    std::uint8_t stored = value;
    if (sticksFromWrite == 0 || write < sticksFromWrite) {
        stored = static_cast<std::uint8_t>((value & ~kChargingOff) | (before & kChargingOff));
    }
    stored = static_cast<std::uint8_t>(stored ^ flipOnWrite);
    Pending& pending = pending_[Slot(address)];
    pending.waiting = false;
    if (takesEffectAfterMs > 0 && ((stored ^ before) & kChargingOff) != 0) {
        pending = Pending{true, static_cast<std::uint8_t>(stored & kChargingOff), ec_.NowMs() + takesEffectAfterMs};
        stored = static_cast<std::uint8_t>((stored & ~kChargingOff) | (before & kChargingOff));
    }
    ec_.WriteRam(address, stored);
}

}  // namespace hwtk3::sim
