// Serves the ACPI control driver of the current virtual notebook to the
// library's device calls. Every other path is absent. Install it with
// platform::testing::SetDeviceHost.
#ifndef HWTK3_SIM_ACPI_DEVICE_HOST_H
#define HWTK3_SIM_ACPI_DEVICE_HOST_H

#include <string>
#include <vector>

#include "platform/testing.h"

namespace hwtk3::sim {

class AcpiDeviceHost : public platform::testing::DeviceHost {
public:
    platform::HANDLE Open(const std::string& path, platform::DWORD desiredAccess, platform::DWORD& error) override;
    platform::BOOL IoControl(platform::HANDLE device, platform::DWORD code, const void* in, platform::DWORD inSize,
                             void* out, platform::DWORD outSize, platform::DWORD* bytesReturned,
                             platform::DWORD& error) override;
    platform::BOOL Close(platform::HANDLE device) override;
    std::vector<std::string> BatteryInterfaces() override { return {}; }
};

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_ACPI_DEVICE_HOST_H
