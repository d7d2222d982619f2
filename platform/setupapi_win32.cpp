// The Setup API and local memory of Windows itself. Our records share the
// Windows layouts (checked in platform.h), so they are passed through.
#include <windows.h>
#include <setupapi.h>

#include "platform/platform.h"

namespace hwtk3::platform {

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == sizeof(::SP_DEVICE_INTERFACE_DATA), "interface data layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == sizeof(::SP_DEVICE_INTERFACE_DETAIL_DATA_A),
              "interface detail layout");
static_assert(sizeof(GUID) == sizeof(::GUID), "GUID layout");

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, void* parentWindow, DWORD flags) {
    return ::SetupDiGetClassDevsA(reinterpret_cast<const ::GUID*>(classGuid), enumerator,
                                  static_cast<HWND>(parentWindow), flags);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* interfaceClassGuid,
                                 DWORD memberIndex, SP_DEVICE_INTERFACE_DATA* interfaceData) {
    return ::SetupDiEnumDeviceInterfaces(set, static_cast<PSP_DEVINFO_DATA>(deviceInfoData),
                                         reinterpret_cast<const ::GUID*>(interfaceClassGuid), memberIndex,
                                         reinterpret_cast<PSP_DEVICE_INTERFACE_DATA>(interfaceData));
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                                      DWORD* requiredSize, void* deviceInfoData) {
    return ::SetupDiGetDeviceInterfaceDetailA(set, reinterpret_cast<PSP_DEVICE_INTERFACE_DATA>(interfaceData),
                                              reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(detail),
                                              detailSize, reinterpret_cast<PDWORD>(requiredSize),
                                              static_cast<PSP_DEVINFO_DATA>(deviceInfoData));
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) { return ::SetupDiDestroyDeviceInfoList(set); }

HLOCAL LocalAlloc(DWORD flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }

HLOCAL LocalFree(HLOCAL memory) { return ::LocalFree(memory); }

}  // namespace hwtk3::platform
