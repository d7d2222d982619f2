#include "sim/device_host.h"

#include "sim/notebook.h"

namespace hwtk3::sim {

// Each device model is asked in turn whether it serves the path (on open)
// or owns the handle (afterwards): the batteries, then the ACPI control
// driver, which answers every other path as absent.
platform::HANDLE NotebookDeviceHost::Open(const std::string& path, platform::DWORD desiredAccess,
                                          platform::DWORD& error) {
    Notebook::Access access(notebook_);
    if (notebook_.batteries.Serves(path)) return notebook_.batteries.Open(path, error);
    return acpi_.Open(path, desiredAccess, error);
}

platform::BOOL NotebookDeviceHost::IoControl(platform::HANDLE device, platform::DWORD code, const void* in,
                                             platform::DWORD inSize, void* out, platform::DWORD outSize,
                                             platform::DWORD* bytesReturned, platform::DWORD& error) {
    Notebook::Access access(notebook_);
    if (notebook_.batteries.Owns(device)) {
        return notebook_.batteries.IoControl(device, code, in, inSize, out, outSize, bytesReturned, error);
    }
    if (notebook_.acpi.driver.Owns(device)) {
        return acpi_.IoControl(device, code, in, inSize, out, outSize, bytesReturned, error);
    }
    ++strayHandleUses;
    error = platform::kErrorInvalidHandle;
    return 0;
}

platform::BOOL NotebookDeviceHost::Close(platform::HANDLE device) {
    Notebook::Access access(notebook_);
    if (notebook_.batteries.Owns(device)) return notebook_.batteries.Close(device);
    if (notebook_.acpi.driver.Owns(device)) return acpi_.Close(device);
    ++strayHandleUses;
    return 0;
}

std::vector<std::string> NotebookDeviceHost::BatteryInterfaces() {
    Notebook::Access access(notebook_);
    return notebook_.batteries.Interfaces();
}

}  // namespace hwtk3::sim
