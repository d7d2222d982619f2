// Two listeners for every test of the suite.
//
// The library's state is process-wide by design (binding, firmware text,
// identity record, machine type). Each test starts from the state of a
// freshly loaded library, so the suite gives the same results whether ctest
// runs each test in a process of its own or one process runs them all.
//
// The library's standard output is captured during the tests, and
// GoogleTest reports failures on standard output too: echo every failure to
// standard error as well, so none is lost in a capture.
#include <gtest/gtest.h>

#include <cstdio>

#include "acpi/acpi_channel.h"
#include "acpi/nb_acpi.h"
#include "hwio/ec_firmware.h"
#include "hwio/port_io.h"
#include "platform/linux_services.h"
#include "platform/testing.h"
#include "smbios/dmi_decode.h"
#include "smbios/identity.h"
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

// The stand-ins an earlier test installed and left in place may point into
// a notebook that is gone by now.
void RemoveStandIns() {
    platform::testing::SetDeviceHost(nullptr);
    platform::testing::SetFirmwareTableHost(nullptr);
    platform::testing::SetFirmwareTableDirectory(nullptr);
    platform::testing::SetNamedMutexHost(nullptr);
    platform::testing::SetSleepHook(nullptr, nullptr);
    platform::internal::SetPowerSupplyRoot(nullptr);
}

}  // namespace hwtk3::test

namespace {

class FreshLibrary : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        hwtk3::test::ResetLibrary();
        hwtk3::test::RemoveStandIns();
    }
};

class FailuresToStderr : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed()) return;
        std::fprintf(stderr, "%s:%d: failure\n%s\n", result.file_name() ? result.file_name() : "?",
                     result.line_number(), result.summary());
    }
};

const bool g_registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshLibrary);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresToStderr);
    return true;
}();

}  // namespace
