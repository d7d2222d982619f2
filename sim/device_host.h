// The virtual notebook's devices behind the library's device calls: a small
// dispatcher that routes each path, and each handle, to the model serving
// it. Tests and hwtk3-diag install it with platform::testing::SetDeviceHost.
#ifndef HWTK3_SIM_DEVICE_HOST_H
#define HWTK3_SIM_DEVICE_HOST_H

#include <string>
#include <vector>

#include "platform/testing.h"
#include "sim/acpi_device_host.h"

namespace hwtk3::sim {

class Notebook;

class NotebookDeviceHost : public platform::testing::DeviceHost {
public:
    explicit NotebookDeviceHost(Notebook& notebook) : notebook_(notebook) {}

    platform::HANDLE Open(const std::string& path, platform::DWORD desiredAccess, platform::DWORD& error) override;
    platform::BOOL IoControl(platform::HANDLE device, platform::DWORD code, const void* in, platform::DWORD inSize,
                             void* out, platform::DWORD outSize, platform::DWORD* bytesReturned,
                             platform::DWORD& error) override;
    platform::BOOL Close(platform::HANDLE device) override;
    std::vector<std::string> BatteryInterfaces() override;
    platform::DWORD SetupApiFault(SetupApiStep step, platform::DWORD index) override;

    // Handles used after they were closed, or never opened by any model.
    int strayHandleUses = 0;

private:
    Notebook& notebook_;
    AcpiDeviceHost acpi_;  // the ACPI control driver, "\\.\ZORDACPI"
};

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_DEVICE_HOST_H
