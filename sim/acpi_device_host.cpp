#include "sim/acpi_device_host.h"

#include <cctype>

#include "sim/notebook.h"

namespace hwtk3::sim {
namespace {

constexpr char kAcpiDevicePath[] = "\\\\.\\ZORDACPI";
constexpr platform::DWORD kErrorInvalidHandle = 6;

// Device names are case-insensitive, as on Windows.
bool SamePath(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == 0;
}

}  // namespace

platform::HANDLE AcpiDeviceHost::Open(const std::string& path, platform::DWORD desiredAccess,
                                      platform::DWORD& error) {
    if (SamePath(path, kAcpiDevicePath)) {
        Notebook::Access access(Current());
        return Current().acpi.driver.Open(desiredAccess, error);
    }
    error = platform::kErrorFileNotFound;
    return platform::kInvalidHandleValue;
}

platform::BOOL AcpiDeviceHost::IoControl(platform::HANDLE device, platform::DWORD code, const void* in,
                                         platform::DWORD inSize, void* out, platform::DWORD outSize,
                                         platform::DWORD* bytesReturned, platform::DWORD& error) {
    Notebook::Access access(Current());
    AcpiDriver& driver = Current().acpi.driver;
    if (!driver.Owns(device)) {
        error = kErrorInvalidHandle;
        return 0;
    }
    return driver.IoControl(device, code, in, inSize, out, outSize, bytesReturned, error);
}

platform::BOOL AcpiDeviceHost::Close(platform::HANDLE device) {
    Notebook::Access access(Current());
    return Current().acpi.driver.Close(device);
}

}  // namespace hwtk3::sim
