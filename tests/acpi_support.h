// Fixture of the ACPI suites: the notebook fixture with the virtual ACPI
// control driver serving the library's device calls.
#ifndef HWTK3_TESTS_ACPI_SUPPORT_H
#define HWTK3_TESTS_ACPI_SUPPORT_H

#include "acpi/acpi_channel.h"
#include "acpi/nb_acpi.h"
#include "sim/acpi_device_host.h"
#include "tests/support.h"

namespace hwtk3::test {

class AcpiTest : public NotebookTest {
protected:
    void SetUp() override {
        NotebookTest::SetUp();
        platform::testing::SetDeviceHost(&host_);
    }
    void TearDown() override {
        acpi::CloseAcpiDevice();  // a test that opened the device directly
        acpi::ReleaseNbAcpiInterface();
        platform::testing::SetDeviceHost(nullptr);
        NotebookTest::TearDown();
    }

    sim::AcpiDriver& driver() { return nb().acpi.driver; }
    sim::AcpiFirmware& firmware() { return nb().acpi.firmware; }
    sim::AcpiInterfaceObjects& objects() { return nb().acpi.objects; }

    // Forgets what the library did so far; the faults and firmware stay.
    void ForgetActivity() {
        driver().calls.clear();
        driver().closeTimesMs.clear();
        driver().opens = driver().failedOpens = driver().closes = driver().maxOpenHandles = 0;
        nb().trace.Clear();
    }

private:
    sim::AcpiDeviceHost host_;
};

}  // namespace hwtk3::test

#endif  // HWTK3_TESTS_ACPI_SUPPORT_H
