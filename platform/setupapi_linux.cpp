// The Setup API over the battery class, and LocalAlloc/LocalFree, for
// Linux. A device information set is a snapshot of the battery device
// paths: the device host's when one is set, otherwise the power supplies
// of /sys/class/power_supply. Only the battery interface class has members.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/battery_class.h"
#include "platform/handle_table.h"
#include "platform/linux_services.h"
#include "platform/platform.h"
#include "platform/testing.h"

namespace hwtk3::platform {
namespace {

struct DeviceInfoSet {
    std::vector<std::string> paths;
};

internal::HandleTable<DeviceInfoSet> g_sets;
std::atomic<int> g_localAllocations{0};

using Step = testing::DeviceHost::SetupApiStep;

// The error a device host makes this step fail with; 0 without a host.
DWORD HostFault(Step step, DWORD index) {
    testing::DeviceHost* host = testing::CurrentDeviceHost();
    return host != nullptr ? host->SetupApiFault(step, index) : 0;
}

}  // namespace

namespace testing {
SetupApiResources OutstandingSetupApiResources() {
    return SetupApiResources{g_sets.Count(), g_localAllocations.load()};
}
}  // namespace testing

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char*, void*, DWORD flags) {
    if ((flags & kDigcfDeviceInterface) == 0 || classGuid == nullptr) {
        // Sets of device classes rather than interfaces are not modelled.
        SetLastError(kErrorInvalidParameter);
        return kInvalidHandleValue;
    }
    if (const DWORD fault = HostFault(Step::ClassDevs, 0)) {
        SetLastError(fault);
        return kInvalidHandleValue;
    }
    DeviceInfoSet set;
    if (*classGuid == battery::kBatteryClassGuid) {
        testing::DeviceHost* host = testing::CurrentDeviceHost();
        set.paths = host != nullptr ? host->BatteryInterfaces() : internal::PowerSupplyInterfaces();
    }
    return g_sets.Add(std::move(set));
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO handle, void*, const GUID* interfaceClassGuid, DWORD memberIndex,
                                 SP_DEVICE_INTERFACE_DATA* interfaceData) {
    DeviceInfoSet* set = g_sets.Find(handle);
    if (set == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return 0;
    }
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        interfaceClassGuid == nullptr) {
        SetLastError(kErrorInvalidUserBuffer);
        return 0;
    }
    if (!(*interfaceClassGuid == battery::kBatteryClassGuid) || memberIndex >= set->paths.size()) {
        SetLastError(kErrorNoMoreItems);
        return 0;
    }
    if (const DWORD fault = HostFault(Step::EnumInterface, memberIndex)) {
        SetLastError(fault);
        return 0;
    }
    interfaceData->InterfaceClassGuid = *interfaceClassGuid;
    interfaceData->Flags = kSpintActive;
    interfaceData->Reserved = static_cast<std::uintptr_t>(memberIndex) + 1;  // 0 marks "not from us"
    return 1;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                                      DWORD* requiredSize, void*) {
    DeviceInfoSet* set = g_sets.Find(handle);
    if (set == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return 0;
    }
    if (interfaceData == nullptr || interfaceData->Reserved == 0 || interfaceData->Reserved > set->paths.size()) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    const auto index = static_cast<DWORD>(interfaceData->Reserved - 1);
    const std::string& path = set->paths[index];
    std::size_t needed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
    if (detail == nullptr) {
        if (const DWORD fault = HostFault(Step::DetailSize, index)) {
            SetLastError(fault);
            return 0;
        }
        if (HostFault(Step::DetailSizeShort, index) != 0) needed = 1;
    } else if (const DWORD fault = HostFault(Step::Detail, index)) {
        SetLastError(fault);
        return 0;
    }
    if (requiredSize != nullptr) *requiredSize = static_cast<DWORD>(needed);
    if (detail == nullptr) {
        SetLastError(detailSize == 0 ? kErrorInsufficientBuffer : kErrorInvalidUserBuffer);
        return 0;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        SetLastError(kErrorInvalidUserBuffer);
        return 0;
    }
    if (detailSize < needed) {
        SetLastError(kErrorInsufficientBuffer);
        return 0;
    }
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return 1;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    if (!g_sets.Release(handle)) {
        SetLastError(kErrorInvalidHandle);
        return 0;
    }
    return 1;
}

HLOCAL LocalAlloc(DWORD flags, std::size_t bytes) {
    // Every block is zero-filled; LPTR asks for that, and the others do not
    // mind. A request for 0 bytes still yields a block of its own.
    (void)flags;
    if (const DWORD fault = HostFault(Step::LocalAlloc, 0)) {
        SetLastError(fault);
        return nullptr;
    }
    void* block = std::calloc(bytes != 0 ? bytes : 1, 1);
    if (block == nullptr) {
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    ++g_localAllocations;
    return block;
}

HLOCAL LocalFree(HLOCAL memory) {
    if (memory != nullptr) {
        --g_localAllocations;
        std::free(memory);
    }
    return nullptr;
}

}  // namespace hwtk3::platform
