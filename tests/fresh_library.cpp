#include "tests/fresh_library.h"

#include "acpi/acpi_channel.h"
#include "acpi/nb_acpi.h"
#include "hwio/ec_firmware.h"
#include "hwio/port_io.h"
#include "platform/linux_services.h"
#include "platform/testing.h"
#include "smbios/dmi_decode.h"
#include "smbios/identity.h"
#include "sim/notebook.h"
#include "smbios/smbios_acquire.h"

namespace hwtk3::test {

void ResetLibrary() {
    acpi::CloseAcpiDevice();
    acpi::ReleaseNbAcpiInterface();
    hwio::testing::ResetBinding();
    platform::testing::ReleaseAllModules();
    hwio::testing::ResetFirmwareVersion();
    smbios::testing::ResetDmiReady();
    smbios::testing::ResetDmiData();
    smbios::testing::ResetIdentity();
}

void UseNotebookClock() {
    platform::testing::SetSleepHook([](platform::DWORD ms, void*) { sim::Current().Sleep(ms); }, nullptr,
                                    [](void*) { return sim::Current().NowMs(); });
}

void RemoveStandIns() {
    platform::testing::SetDeviceHost(nullptr);
    platform::testing::SetFirmwareTableHost(nullptr);
    platform::testing::SetFirmwareTableDirectory(nullptr);
    platform::testing::SetNamedMutexHost(nullptr);
    platform::testing::SetSleepHook(nullptr, nullptr);
    platform::internal::SetPowerSupplyRoot(nullptr);
}

}  // namespace hwtk3::test
