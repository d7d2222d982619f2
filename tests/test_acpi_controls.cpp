// The eleven ACPI device-control exports: method, argument, outputs,
// pause, result, and the device's open and close around each.
#include <functional>
#include <string>
#include <vector>

#include "acpi/acpi_channel.h"
#include "tests/acpi_support.h"

namespace hwtk3::test {
namespace {

using sim::AcpiName;
using Sleeps = std::vector<std::uint32_t>;

// Everything an export may write, preset to values no export produces.
struct Outputs {
    tDiagWifiBTPowerState power{0x80, 0x55, 0x7F};
    unsigned char brightness = 0xEE;
    unsigned char modeHigh = 0xEE;
    unsigned char modeLow = 0xEE;
    bool wlan = false;
    bool bluetooth = false;
    bool camera = false;
};

void ExpectSame(const Outputs& actual, const Outputs& expected) {
    EXPECT_EQ(actual.power.bWifi, expected.power.bWifi);
    EXPECT_EQ(actual.power.bBT, expected.power.bBT);
    EXPECT_EQ(actual.power.bCam, expected.power.bCam);
    EXPECT_EQ(actual.brightness, expected.brightness);
    EXPECT_EQ(actual.modeHigh, expected.modeHigh);
    EXPECT_EQ(actual.modeLow, expected.modeLow);
    EXPECT_EQ(actual.wlan, expected.wlan);
    EXPECT_EQ(actual.bluetooth, expected.bluetooth);
    EXPECT_EQ(actual.camera, expected.camera);
}

struct Export {
    const char* name;
    std::function<bool(Outputs&)> run;
    std::uint32_t delayMs;
};

// Each export once, on the preset outputs.
const std::vector<Export>& AllExports() {
    static const std::vector<Export> exports = {
        {"GetPanelBrightness", [](Outputs& o) { return Diag_GetPanelBrightness(&o.brightness); }, 50},
        {"SetPanelBrightness", [](Outputs&) { return Diag_SetPanelBrightness(40); }, 50},
        {"GetCPUMode", [](Outputs& o) { return Diag_GetCPUMode(&o.modeHigh, &o.modeLow); }, 50},
        {"SetCPUMode", [](Outputs&) { return Diag_SetCPUMode(2); }, 50},
        {"SetWifiState", [](Outputs& o) { return Diag_SetWifiState(&o.power); }, 50},
        {"GetWifiState", [](Outputs& o) { return Diag_GetWifiState(&o.power); }, 100},
        {"SetBTState", [](Outputs& o) { return Diag_SetBTState(&o.power); }, 50},
        {"GetBTState", [](Outputs& o) { return Diag_GetBTState(&o.power); }, 100},
        {"SetCamState", [](Outputs& o) { return Diag_SetCamState(&o.power); }, 50},
        {"GetCamState", [](Outputs& o) { return Diag_GetCamState(&o.power); }, 100},
        {"GetACPISupportMethods",
         [](Outputs& o) { return Diag_GetACPISupportMethods(&o.wlan, &o.bluetooth, &o.camera); }, 0},
    };
    return exports;
}

Sleeps DelayOf(std::uint32_t ms) { return ms == 0 ? Sleeps{} : Sleeps{ms}; }

TEST_F(AcpiTest, ExportTable) {
    struct Case {
        const char* what;
        std::function<bool(Outputs&)> run;
        const char* method;
        bool hasArgument;
        std::uint32_t argument;
        std::uint32_t answer;  // what the firmware returns
        std::function<void(Outputs&)> expect;  // changes to the preset outputs
        std::uint32_t delayMs;
        bool ok;
        std::string printed;
    };
    const auto none = [](Outputs&) {};
    const Case cases[] = {
        {"brightness low byte", [](Outputs& o) { return Diag_GetPanelBrightness(&o.brightness); }, "PBLG", false,
         0, 0x1234, [](Outputs& o) { o.brightness = 0x34; }, 50, true, ""},
        {"brightness 0", [](Outputs& o) { return Diag_GetPanelBrightness(&o.brightness); }, "PBLG", false, 0, 0,
         [](Outputs& o) { o.brightness = 0; }, 50, true, ""},
        {"set brightness 255", [](Outputs&) { return Diag_SetPanelBrightness(255); }, "PBLS", true, 0xFF, 1, none,
         50, true, ""},
        {"set brightness refused", [](Outputs&) { return Diag_SetPanelBrightness(7); }, "PBLS", true, 7, 0, none,
         50, false, ""},
        {"CPU mode bytes", [](Outputs& o) { return Diag_GetCPUMode(&o.modeHigh, &o.modeLow); }, "CFVG", false, 0,
         0xABCD1234, [](Outputs& o) { o.modeHigh = 0x12, o.modeLow = 0x34; }, 50, true, ""},
        {"CPU mode 0", [](Outputs& o) { return Diag_GetCPUMode(&o.modeHigh, &o.modeLow); }, "CFVG", false, 0, 0,
         none, 50, false, ""},
        {"set CPU mode all bits", [](Outputs&) { return Diag_SetCPUMode(0xFFFFFFFFul); }, "CFVS", true,
         0xFFFFFFFF, 5, none, 50, true, ""},
        {"set CPU mode refused", [](Outputs&) { return Diag_SetCPUMode(2); }, "CFVS", true, 2, 0, none, 50, false,
         ""},
        {"wifi on from 0x80", [](Outputs& o) { return Diag_SetWifiState(&o.power); }, "WLDS", true, 1, 1, none, 50,
         true, ""},
        {"wifi off", [](Outputs& o) { o.power.bWifi = 0; return Diag_SetWifiState(&o.power); }, "WLDS", true, 0, 1,
         [](Outputs& o) { o.power.bWifi = 0; }, 50, true, ""},
        {"BT on refused", [](Outputs& o) { return Diag_SetBTState(&o.power); }, "BTHS", true, 1, 0, none, 50, false,
         ""},
        {"camera on", [](Outputs& o) { return Diag_SetCamState(&o.power); }, "CAMS", true, 1, 7, none, 50, true,
         ""},
        {"wifi reads on", [](Outputs& o) { return Diag_GetWifiState(&o.power); }, "WLDG", false, 0, 1,
         [](Outputs& o) { o.power.bWifi = 1; }, 100, true, ""},
        {"BT 2 reads off", [](Outputs& o) { return Diag_GetBTState(&o.power); }, "BTHG", false, 0, 2,
         [](Outputs& o) { o.power.bBT = 0; }, 100, true, ""},
        {"camera 0x101 reads off", [](Outputs& o) { return Diag_GetCamState(&o.power); }, "CAMG", false, 0, 0x101,
         [](Outputs& o) { o.power.bCam = 0; }, 100, true, ""},
        {"camera reads on", [](Outputs& o) { return Diag_GetCamState(&o.power); }, "CAMG", false, 0, 1,
         [](Outputs& o) { o.power.bCam = 1; }, 100, true, ""},
        {"capabilities 0x13",
         [](Outputs& o) { return Diag_GetACPISupportMethods(&o.wlan, &o.bluetooth, &o.camera); }, "CMSG", false, 0,
         0x13, [](Outputs& o) { o.wlan = o.bluetooth = o.camera = true; }, 0, true,
         "acpi wlan supported\nacpi bluetooth supported\nacpi camera supported\n"},
        {"capabilities 0x0C",
         [](Outputs& o) { return Diag_GetACPISupportMethods(&o.wlan, &o.bluetooth, &o.camera); }, "CMSG", false, 0,
         0x0C, none, 0, true, ""},
        {"capabilities bluetooth only",
         [](Outputs& o) { return Diag_GetACPISupportMethods(&o.wlan, &o.bluetooth, &o.camera); }, "CMSG", false, 0,
         0xFFFFFFEE, [](Outputs& o) { o.bluetooth = true; }, 0, true, "acpi bluetooth supported\n"},
    };
    Capture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ForgetActivity();
        firmware().forcedResults = {{AcpiName(c.method), c.answer}};
        Outputs actual;
        Outputs expected;
        c.expect(expected);
        Output();
        EXPECT_EQ(c.run(actual), c.ok);
        EXPECT_EQ(Output(), c.printed);
        ExpectSame(actual, expected);

        ASSERT_EQ(driver().calls.size(), 1u);
        const sim::AcpiDriverCall& call = driver().calls[0];
        EXPECT_TRUE(call.accepted);
        EXPECT_EQ(call.method, AcpiName(c.method));
        EXPECT_EQ(call.hasArgument, c.hasArgument);
        EXPECT_EQ(call.argumentValue, c.argument);
        EXPECT_EQ(nb().trace.Sleeps(), DelayOf(c.delayMs));
        EXPECT_EQ(driver().opens, 1);
        EXPECT_EQ(driver().maxOpenHandles, 1);
        ASSERT_EQ(driver().closeTimesMs.size(), 1u);
        EXPECT_EQ(driver().closeTimesMs[0] - call.atMs, c.delayMs);  // the pause comes before the close
        EXPECT_EQ(driver().OpenHandles(), 0);
        EXPECT_EQ(acpi::AcpiDeviceHandle(), nullptr);
    }
}

// A call that delivers no result fails every export, queries included,
// and writes nothing; the pause and the close still happen.
TEST_F(AcpiTest, FailedMethodCallFailsEveryExport) {
    struct Fault {
        const char* what;
        void (*apply)(sim::AcpiDriverFaults&);
    };
    const Fault faults[] = {
        {"I/O control fails", [](sim::AcpiDriverFaults& f) { f.ioControlFails = true; }},
        {"101 data bytes",
         [](sim::AcpiDriverFaults& f) {
             f.forceReply = true;
             f.replyDataLength = 101;
             f.replyData.assign(101, 1);
         }},
    };
    Capture();
    for (const Fault& fault : faults) {
        driver().faults = sim::AcpiDriverFaults{};
        fault.apply(driver().faults);
        for (const Export& e : AllExports()) {
            SCOPED_TRACE(std::string(fault.what) + ", " + e.name);
            ForgetActivity();
            Outputs actual;
            Output();
            EXPECT_FALSE(e.run(actual));
            EXPECT_EQ(Output(), "");
            ExpectSame(actual, Outputs{});
            EXPECT_EQ(driver().calls.size(), 1u);
            EXPECT_EQ(nb().trace.Sleeps(), DelayOf(e.delayMs));
            EXPECT_EQ(driver().closes, 1);
            EXPECT_EQ(driver().OpenHandles(), 0);
        }
    }
}

TEST_F(AcpiTest, NullOutputsAreRefusedBeforeOpening) {
    unsigned char byte = 0;
    const std::function<bool()> calls[] = {
        [] { return Diag_GetPanelBrightness(nullptr); },
        [&] { return Diag_GetCPUMode(nullptr, &byte); },
        [&] { return Diag_GetCPUMode(&byte, nullptr); },
        [] { return Diag_SetWifiState(nullptr); },
        [] { return Diag_GetWifiState(nullptr); },
        [] { return Diag_SetBTState(nullptr); },
        [] { return Diag_GetBTState(nullptr); },
        [] { return Diag_SetCamState(nullptr); },
        [] { return Diag_GetCamState(nullptr); },
    };
    for (const auto& call : calls) EXPECT_FALSE(call());
    EXPECT_EQ(driver().opens, 0);
    EXPECT_TRUE(nb().trace.Sleeps().empty());
}

// The capability query only skips the write through a null output: the
// call, its lines, the other outputs and the result are as with valid
// pointers.
TEST_F(AcpiTest, SupportMethodsSkipNullOutputs) {
    struct Case {
        const char* what;
        bool nullWlan, nullBluetooth, nullCamera;
        std::uint32_t answer;
        bool ioControlFails;
        bool ok;
        std::string printed;
    };
    const std::string all = "acpi wlan supported\nacpi bluetooth supported\nacpi camera supported\n";
    const Case cases[] = {
        {"wlan null", true, false, false, 0x13, false, true, all},
        {"bluetooth null", false, true, false, 0x13, false, true, all},
        {"camera null", false, false, true, 0x13, false, true, all},
        {"all null", true, true, true, 0x13, false, true, all},
        {"wlan null, bluetooth listed", true, false, false, 0x02, false, true, "acpi bluetooth supported\n"},
        {"camera null, nothing listed", false, false, true, 0x0C, false, true, ""},
        {"bluetooth null, call fails", false, true, false, 0x13, true, false, ""},
    };
    Capture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ForgetActivity();
        driver().faults.ioControlFails = c.ioControlFails;
        firmware().forcedResults = {{AcpiName("CMSG"), c.answer}};
        Outputs actual;
        Outputs expected;
        if (c.ok) {
            expected.wlan = !c.nullWlan && (c.answer & 0x01) != 0;
            expected.bluetooth = !c.nullBluetooth && (c.answer & 0x02) != 0;
            expected.camera = !c.nullCamera && (c.answer & 0x10) != 0;
        }
        Output();
        EXPECT_EQ(Diag_GetACPISupportMethods(c.nullWlan ? nullptr : &actual.wlan,
                                             c.nullBluetooth ? nullptr : &actual.bluetooth,
                                             c.nullCamera ? nullptr : &actual.camera),
                  c.ok);
        EXPECT_EQ(Output(), c.printed);
        ExpectSame(actual, expected);
        ASSERT_EQ(driver().calls.size(), 1u);
        if (!c.ioControlFails) EXPECT_EQ(driver().calls[0].method, AcpiName("CMSG"));
        EXPECT_EQ(driver().opens, 1);
        EXPECT_EQ(driver().closes, 1);
        EXPECT_TRUE(nb().trace.Sleeps().empty());
    }
    // Without the device nothing is called, as with valid pointers.
    driver().faults = sim::AcpiDriverFaults{};
    driver().faults.absent = true;
    ForgetActivity();
    bool flag = false;
    EXPECT_FALSE(Diag_GetACPISupportMethods(nullptr, &flag, nullptr));
    EXPECT_FALSE(flag);
    EXPECT_TRUE(driver().calls.empty());
}

TEST_F(AcpiTest, CpuModeWiderThan32BitsIsRefused) {
    if (sizeof(unsigned long) <= sizeof(std::uint32_t)) GTEST_SKIP() << "unsigned long is 32 bits here";
    const unsigned long wide = static_cast<unsigned long>(0xFFFFFFFFul) + 3;
    EXPECT_FALSE(Diag_SetCPUMode(wide));
    EXPECT_EQ(driver().opens, 0);
}

// The firmware model keeps what the commands set.
TEST_F(AcpiTest, SettingsReadBack) {
    tDiagWifiBTPowerState power{0, 1, 0};
    ASSERT_TRUE(Diag_SetPanelBrightness(30));
    ASSERT_TRUE(Diag_SetCPUMode(2));
    ASSERT_TRUE(Diag_SetWifiState(&power));
    ASSERT_TRUE(Diag_SetCamState(&power));
    tDiagWifiBTPowerState read{9, 9, 9};
    unsigned char brightness = 0, high = 0, low = 0;
    EXPECT_TRUE(Diag_GetPanelBrightness(&brightness));
    EXPECT_TRUE(Diag_GetCPUMode(&high, &low));
    EXPECT_TRUE(Diag_GetWifiState(&read));
    EXPECT_TRUE(Diag_GetBTState(&read));
    EXPECT_TRUE(Diag_GetCamState(&read));
    EXPECT_EQ(brightness, 30);
    EXPECT_EQ(high, 2);
    EXPECT_EQ(read.bWifi, 0);
    EXPECT_EQ(read.bBT, 1);
    EXPECT_EQ(read.bCam, 0);
    EXPECT_EQ(driver().maxOpenHandles, 1);
    EXPECT_EQ(driver().opens, driver().closes);
}

}  // namespace
}  // namespace hwtk3::test
