// The ACPI interface object exports: presence bits of "HWRS", the "BLED"
// switch, and the object's creation and release around every call.
#include <string>

#include "acpi/nb_acpi.h"
#include "tests/acpi_support.h"

namespace hwtk3::test {
namespace {

using sim::AcpiName;

class NbAcpiTest : public AcpiTest {
protected:
    void ExpectNoObjectLeft() {
        EXPECT_EQ(acpi::NbAcpiInterface(), nullptr);
        EXPECT_TRUE(objects().live.empty());
        EXPECT_EQ(objects().constructed, objects().destroyed);
        EXPECT_EQ(objects().strayCalls, 0);
    }
};

TEST_F(NbAcpiTest, PresenceFromHwrsBits) {
    struct Case {
        std::uint32_t hwrs;
        bool bluetooth;
        bool wlan;
    };
    const Case cases[] = {{0x180, true, true}, {0x7F, false, false}, {0x100, true, false}, {0x80, false, true},
                          {0xFFFFFE7F, false, false}};
    Capture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hwrs);
        objects() = sim::AcpiInterfaceObjects{};
        firmware().hardware = c.hwrs;
        bool bluetooth = !c.bluetooth;
        bool wlan = !c.wlan;
        EXPECT_EQ(Diag_AcpiNBQueryBTDevice(bluetooth), 0);
        EXPECT_EQ(Output(), std::string("Success for HWRS method!\n") +
                                (c.bluetooth ? "bios reported BT is existed\n" : ""));
        EXPECT_EQ(Diag_AcpiNBQueryWifiDevice(wlan), 0);
        EXPECT_EQ(Output(), std::string("Success for HWRS method!\n") +
                                (c.wlan ? "bios reported Wifi is existed\n" : ""));
        EXPECT_EQ(bluetooth, c.bluetooth);
        EXPECT_EQ(wlan, c.wlan);
        EXPECT_EQ(objects().constructed, 2);
        ASSERT_EQ(objects().invocations.size(), 2u);
        for (const auto& invocation : objects().invocations) {
            EXPECT_EQ(invocation.method, 0x53525748u);
            EXPECT_FALSE(invocation.hasArgument);
        }
        ExpectNoObjectLeft();
    }
}

// Whatever the object writes back for "BLED" has no bearing on the result.
TEST_F(NbAcpiTest, BluetoothPowerSwitch) {
    struct Case {
        bool on;
        unsigned long echo;
        std::uint32_t argument;
    };
    const Case cases[] = {{true, 0, 1}, {false, 0, 0}, {true, 0xFFFFFFFFul, 1}, {false, 1, 0}};
    Capture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.on);
        objects() = sim::AcpiInterfaceObjects{};
        objects().commandEcho = c.echo;
        firmware().bluetoothPower = !c.on;
        EXPECT_EQ(Diag_AcpiNBSetBTPowerOn(c.on), 0);
        EXPECT_EQ(Output(), "Success for BLED method!\n");
        ASSERT_EQ(objects().invocations.size(), 1u);
        EXPECT_EQ(objects().invocations[0].method, 0x44454C42u);
        EXPECT_TRUE(objects().invocations[0].hasArgument);
        EXPECT_EQ(objects().invocations[0].argument, c.argument);
        EXPECT_EQ(firmware().bluetoothPower, c.on);
        EXPECT_EQ(objects().constructed, 1);
        ExpectNoObjectLeft();
    }
}

TEST_F(NbAcpiTest, FailedInvokeReleasesTheObject) {
    struct Case {
        const char* name;
        int (*run)(bool& output);
    };
    const Case cases[] = {
        {"SetBTPowerOn", [](bool& output) { return Diag_AcpiNBSetBTPowerOn(output); }},
        {"QueryBTDevice", [](bool& output) { return Diag_AcpiNBQueryBTDevice(output); }},
        {"QueryWifiDevice", [](bool& output) { return Diag_AcpiNBQueryWifiDevice(output); }},
    };
    Capture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        objects() = sim::AcpiInterfaceObjects{};
        objects().invokeFails = true;
        const bool before = firmware().bluetoothPower;
        bool output = false;  // nothing the firmware reports: 0x180 would set true
        EXPECT_EQ(c.run(output), -1);
        EXPECT_EQ(Output(), "Fail!\n");
        EXPECT_FALSE(output);
        EXPECT_EQ(firmware().bluetoothPower, before);
        EXPECT_EQ(objects().constructed, 1);
        ExpectNoObjectLeft();

        // The next call starts with a new object.
        objects().invokeFails = false;
        output = true;
        EXPECT_EQ(c.run(output), 0);
        Output();
        EXPECT_EQ(objects().constructed, 2);
        ExpectNoObjectLeft();
    }
}

// The outside class may throw from any member. Nothing crosses our exports:
// a throwing constructor leaves no object, a throwing method call fails, a
// throwing destructor keeps the method's result; the object is released
// every time (its storage too, which the leak check of the sanitizer suite
// holds us to) and the next call makes a new one.
TEST_F(NbAcpiTest, ExceptionsOfTheOutsideClassStopAtOurExports) {
    struct Member {
        const char* name;
        bool sim::AcpiInterfaceObjects::*throws;
        bool called;     // the method call was made
        bool succeeds;   // the export reports the method's success
    };
    const Member members[] = {
        {"constructor", &sim::AcpiInterfaceObjects::constructorThrows, false, false},
        {"InvokeMethod", &sim::AcpiInterfaceObjects::invokeThrows, true, false},
        {"destructor", &sim::AcpiInterfaceObjects::destructorThrows, true, true},
    };
    struct Export {
        const char* name;
        int (*run)(bool& output);
        const char* successLines;
        bool writesOutput;
    };
    const Export exports[] = {
        {"SetBTPowerOn", [](bool&) { return Diag_AcpiNBSetBTPowerOn(true); }, "Success for BLED method!\n", false},
        {"QueryBTDevice", [](bool& output) { return Diag_AcpiNBQueryBTDevice(output); },
         "Success for HWRS method!\nbios reported BT is existed\n", true},
        {"QueryWifiDevice", [](bool& output) { return Diag_AcpiNBQueryWifiDevice(output); },
         "Success for HWRS method!\nbios reported Wifi is existed\n", true},
    };
    Capture();
    for (const Member& m : members) {
        for (const Export& e : exports) {
            SCOPED_TRACE(std::string(m.name) + " throws, " + e.name);
            objects() = sim::AcpiInterfaceObjects{};
            objects().*m.throws = true;
            bool output = false;  // the firmware reports both devices: true once written
            int result = 1;
            EXPECT_NO_THROW(result = e.run(output));
            EXPECT_EQ(result, m.succeeds ? 0 : -1);
            EXPECT_EQ(Output(), m.succeeds ? e.successLines : m.called ? "Fail!\n" : "");
            EXPECT_EQ(output, m.succeeds && e.writesOutput);
            EXPECT_EQ(objects().invocations.size(), m.called ? 1u : 0u);
            EXPECT_EQ(objects().constructed, m.called ? 1 : 0);
            ExpectNoObjectLeft();

            objects().*m.throws = false;
            EXPECT_EQ(e.run(output), 0);
            Output();
            EXPECT_EQ(objects().constructed, m.called ? 2 : 1);
            ExpectNoObjectLeft();
        }
    }
}

TEST_F(NbAcpiTest, ObjectStillHeldIsReusedAndThenReleased) {
    ASSERT_TRUE(acpi::AcquireNbAcpiInterface());
    CVQMITF* held = acpi::NbAcpiInterface();
    ASSERT_TRUE(acpi::AcquireNbAcpiInterface());
    EXPECT_EQ(acpi::NbAcpiInterface(), held);
    EXPECT_EQ(objects().constructed, 1);

    bool bluetooth = false;
    Capture();
    EXPECT_EQ(Diag_AcpiNBQueryBTDevice(bluetooth), 0);
    EXPECT_TRUE(bluetooth);
    EXPECT_EQ(objects().constructed, 1);
    ExpectNoObjectLeft();

    acpi::ReleaseNbAcpiInterface();  // nothing held: nothing happens
    EXPECT_EQ(objects().destroyed, 1);
}

}  // namespace
}  // namespace hwtk3::test
