// Battery status: the enumeration against the notebook's battery class
// devices, the conversions, and every handle and buffer given back.
#include <string>

#include "platform/battery_class.h"
#include "platform/testing.h"
#include "sim/scenario.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

namespace bc = platform::battery;

// A record as the host hands it in; untouched means still this.
tBattery Sentinel() {
    tBattery b;
    b.reserved = 0xCAFEF00D;
    b.state = "untouched";
    b.designCapacity = -1;
    b.fullChargeCapacity = -2;
    b.remainingCapacity = -3;
    b.remainingPercentage = -4;
    b.voltage = -5.0;
    return b;
}

void ExpectUntouched(const tBattery& b) {
    const tBattery s = Sentinel();
    EXPECT_EQ(b.reserved, s.reserved);
    EXPECT_EQ(b.state, s.state);
    EXPECT_EQ(b.designCapacity, s.designCapacity);
    EXPECT_EQ(b.fullChargeCapacity, s.fullChargeCapacity);
    EXPECT_EQ(b.remainingCapacity, s.remainingCapacity);
    EXPECT_EQ(b.remainingPercentage, s.remainingPercentage);
    EXPECT_EQ(b.voltage, s.voltage);
}

class BatteryStatusTest : public NotebookTest {
protected:
    void SetUp() override {
        NotebookTest::SetUp();
        platform::testing::SetDeviceHost(&nb().devices);
        Capture();
    }
    void TearDown() override {
        platform::testing::SetDeviceHost(nullptr);
        NotebookTest::TearDown();
    }
    bc::BATTERY_STATUS& Status(std::size_t i = 0) { return nb().batteries.devices.at(i).status; }
    bc::BATTERY_INFORMATION& Info(std::size_t i = 0) { return nb().batteries.devices.at(i).information; }

    // Everything the enumeration took has been given back.
    void ExpectAllReleased() {
        const auto resources = platform::testing::OutstandingSetupApiResources();
        EXPECT_EQ(resources.deviceInfoSets, 0);
        EXPECT_EQ(resources.localAllocations, 0);
        EXPECT_EQ(nb().batteries.OpenHandles(), 0);
        EXPECT_EQ(nb().batteries.opens, nb().batteries.closes);
        EXPECT_EQ(nb().batteries.badHandleUses, 0);
        EXPECT_EQ(nb().devices.strayHandleUses, 0);
    }
};

TEST_F(BatteryStatusTest, ReportsTheBatteryInMilliampHoursAndVolts) {
    tBattery b = Sentinel();
    ASSERT_TRUE(Diag_BatteryState(&b));
    EXPECT_EQ(b.reserved, 0xCAFEF00Du);
    EXPECT_EQ(b.state, "discharging");
    EXPECT_DOUBLE_EQ(b.voltage, 11.1);
    EXPECT_EQ(b.designCapacity, 4400);
    EXPECT_EQ(b.fullChargeCapacity, 4000);
    EXPECT_EQ(b.remainingCapacity, 2000);
    EXPECT_EQ(b.remainingPercentage, 50);
    EXPECT_EQ(Output(), "");
    ExpectAllReleased();
    const sim::BatteryDevice& d = nb().batteries.devices[0];
    EXPECT_EQ(d.tagQueries, 1);
    EXPECT_EQ(d.informationQueries, 1);
    EXPECT_EQ(d.statusQueries, 1);
}

TEST_F(BatteryStatusTest, StateTextFirstMatchWins) {
    struct Case {
        std::uint32_t powerState;
        const char* text;
    };
    const Case cases[] = {
        {bc::kCharging, "charging"},
        {bc::kCharging | bc::kCritical, "charging"},
        {bc::kCharging | bc::kDischarging | bc::kPowerOnLine, "charging"},
        {bc::kDischarging | bc::kPowerOnLine | bc::kCritical, "discharging"},
        {bc::kPowerOnLine, "charged"},
        {bc::kPowerOnLine | bc::kCritical, "charged"},
        {bc::kCritical, "critical"},
        {0, "unknown"},
        {0x10, "unknown"},
    };
    for (const Case& c : cases) {
        Status().PowerState = c.powerState;
        tBattery b = Sentinel();
        ASSERT_TRUE(Diag_BatteryState(&b));
        EXPECT_EQ(b.state, c.text) << "power state " << c.powerState;
    }
}

TEST_F(BatteryStatusTest, ConversionsTruncateAndSurviveZeros) {
    struct Case {
        const char* name;
        std::uint32_t designed, full, remaining, millivolts;
        int design, fullCap, remainingCap, percent;
        double volts;
    };
    const Case cases[] = {
        {"truncated toward zero", 50000, 45000, 30001, 11400, 4385, 3947, 2631, 66, 11.4},
        {"unknown capacity", 48840, 44400, bc::kUnknownCapacity, 11100, 4400, 4000, 0, 0, 11.1},
        // Choices of ours: no voltage gives no charge in mAh; no full-charged
        // capacity gives no percentage.
        {"voltage 0", 48840, 44400, 22200, 0, 0, 0, 0, 50, 0.0},
        {"full-charged 0", 48840, 0, 22200, 11100, 4400, 0, 2000, 0, 11.1},
        // 1 mV would make billions of mAh: pinned to the field's top.
        {"absurd voltage", 0xFFFFFFF0, 44400, 22200, 1, INT32_MAX, 44400000, 22200000, 50, 0.001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Info().DesignedCapacity = c.designed;
        Info().FullChargedCapacity = c.full;
        Status().Capacity = c.remaining;
        Status().Voltage = c.millivolts;
        tBattery b = Sentinel();
        ASSERT_TRUE(Diag_BatteryState(&b));
        EXPECT_EQ(b.designCapacity, c.design);
        EXPECT_EQ(b.fullChargeCapacity, c.fullCap);
        EXPECT_EQ(b.remainingCapacity, c.remainingCap);
        EXPECT_EQ(b.remainingPercentage, c.percent);
        EXPECT_DOUBLE_EQ(b.voltage, c.volts);
    }
}

TEST_F(BatteryStatusTest, NoUsableBatteryLeavesTheRecordUntouched) {
    struct Case {
        const char* scenario;
        int informationQueries;  // of the first device, if any
    };
    const Case cases[] = {{"no-battery", 0}, {"ups-only", 1}, {"battery-tag0", 0}, {"battery-info-fails", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        nb().batteries = sim::Batteries();
        ASSERT_TRUE(sim::ApplyScenarios(nb(), c.scenario));
        tBattery b = Sentinel();
        EXPECT_FALSE(Diag_BatteryState(&b));
        ExpectUntouched(b);
        ExpectAllReleased();
        if (!nb().batteries.devices.empty()) {
            EXPECT_EQ(nb().batteries.devices[0].informationQueries, c.informationQueries);
        }
    }
    EXPECT_EQ(Output(), "");
}

TEST_F(BatteryStatusTest, DevicesThatCannotBeOpenedOrLackTheSystemBitAreSkipped) {
    nb().batteries.devices[0].openFails = true;
    sim::BatteryDevice peripheral = sim::SystemBattery(2);
    peripheral.information.Capabilities = 0;  // a peripheral's own battery
    nb().batteries.devices.push_back(peripheral);
    tBattery b = Sentinel();
    EXPECT_FALSE(Diag_BatteryState(&b));
    ExpectUntouched(b);
    ExpectAllReleased();
    EXPECT_EQ(nb().batteries.devices[1].statusQueries, 0);
}

TEST_F(BatteryStatusTest, FailedStatusQueryReportsABatteryWithoutStatus) {
    ASSERT_TRUE(sim::ApplyScenarios(nb(), "battery-status-fails"));
    tBattery b = Sentinel();
    ASSERT_TRUE(Diag_BatteryState(&b));
    EXPECT_EQ(b.state, "unknown");
    EXPECT_EQ(b.voltage, 0.0);
    EXPECT_EQ(b.designCapacity, 0);
    EXPECT_EQ(b.fullChargeCapacity, 0);
    EXPECT_EQ(b.remainingCapacity, 0);
    EXPECT_EQ(b.remainingPercentage, 0);
    ExpectAllReleased();
}

TEST_F(BatteryStatusTest, WhichOfSeveralDevicesIsReported) {
    struct Case {
        const char* name;
        const char* scenario;
        void (*extra)(sim::Notebook&);
        const char* state;
        double volts;
        int design;
    };
    const Case cases[] = {
        {"the last battery", "two-batteries", nullptr, "charging", 7.4, 4000},
        {"a UPS after the battery does not overwrite it", "default",
         [](sim::Notebook& n) { n.batteries.devices.push_back(sim::UpsBattery(2)); }, "discharging", 11.1, 4400},
        {"a battery with status wins over a later one without", "two-batteries",
         [](sim::Notebook& n) { n.batteries.devices[1].statusQueryFails = true; }, "discharging", 11.1, 4400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nb().batteries = sim::Batteries();
        ASSERT_TRUE(sim::ApplyScenarios(nb(), c.scenario));
        if (c.extra != nullptr) c.extra(nb());
        tBattery b = Sentinel();
        ASSERT_TRUE(Diag_BatteryState(&b));
        EXPECT_EQ(b.state, c.state);
        EXPECT_DOUBLE_EQ(b.voltage, c.volts);
        EXPECT_EQ(b.designCapacity, c.design);
        ExpectAllReleased();
    }
}

TEST_F(BatteryStatusTest, AtMostOneHundredInterfacesAreExamined) {
    nb().batteries.devices.clear();
    for (int i = 0; i < 150; ++i) {
        sim::BatteryDevice device = sim::SystemBattery(i);
        device.tag = 0;
        nb().batteries.devices.push_back(device);
    }
    nb().batteries.devices[120].tag = 7;  // beyond the limit: never seen
    tBattery b = Sentinel();
    EXPECT_FALSE(Diag_BatteryState(&b));
    EXPECT_EQ(nb().batteries.opens, 100);
    ExpectAllReleased();
}

// The notebook's one device host serves the batteries and the ACPI control
// driver side by side, and tells their handles apart.
TEST_F(BatteryStatusTest, DeviceHostRoutesEachDeviceToItsModel) {
    platform::HANDLE acpi = platform::CreateFileW(L"\\\\.\\ZORDACPI", platform::kGenericRead | platform::kGenericWrite,
                                                  0, nullptr, platform::kOpenExisting, 0, nullptr);
    ASSERT_NE(acpi, platform::kInvalidHandleValue);
    const std::string path = nb().batteries.devices[0].path;
    platform::HANDLE battery = platform::CreateFileA(path.c_str(), platform::kGenericRead, 0, nullptr,
                                                     platform::kOpenExisting, 0, nullptr);
    ASSERT_NE(battery, platform::kInvalidHandleValue);
    EXPECT_EQ(nb().batteries.OpenHandles(), 1);
    EXPECT_TRUE(platform::CloseHandle(acpi));
    EXPECT_EQ(nb().batteries.OpenHandles(), 1);
    EXPECT_TRUE(platform::CloseHandle(battery));
    EXPECT_FALSE(platform::CloseHandle(acpi));  // closed already: nobody's
    EXPECT_EQ(nb().devices.strayHandleUses, 1);
    EXPECT_EQ(platform::CreateFileA("\\\\.\\NOSUCH", platform::kGenericRead, 0, nullptr,
                                    platform::kOpenExisting, 0, nullptr),
              platform::kInvalidHandleValue);
}

}  // namespace
}  // namespace hwtk3::test
