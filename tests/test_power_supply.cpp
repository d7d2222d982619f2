// Battery status on Linux from a power-supply tree: energy and charge
// counters mapped to the Windows units, and what is not a system battery.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "include/hwtk3.h"
#include "platform/linux_services.h"
#include "platform/testing.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using Files = std::map<std::string, std::string>;

class PowerSupplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hwtk3-power-supply-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        platform::internal::SetPowerSupplyRoot(root_.c_str());
    }
    void TearDown() override {
        platform::internal::SetPowerSupplyRoot(nullptr);
        std::filesystem::remove_all(root_);
    }
    void Supply(const std::string& name, const Files& files) {
        const std::string dir = root_ + "/" + name;
        std::filesystem::create_directories(dir);
        for (const auto& [file, text] : files) std::ofstream(dir + "/" + file) << text << "\n";
    }
    void ExpectReleased() {
        EXPECT_EQ(platform::internal::OpenPowerSupplyHandles(), 0);
        const auto resources = platform::testing::OutstandingSetupApiResources();
        EXPECT_EQ(resources.deviceInfoSets, 0);
        EXPECT_EQ(resources.localAllocations, 0);
    }
    std::string root_;
};

TEST_F(PowerSupplyTest, EnergyAndChargeCountersGiveTheSameReport) {
    struct Case {
        const char* name;
        Files files;
        const char* state;
    };
    const Case cases[] = {
        {"energy in uWh",
         {{"type", "Battery"}, {"status", "Discharging"}, {"voltage_now", "11100000"},
          {"energy_full_design", "48840000"}, {"energy_full", "44400000"}, {"energy_now", "22200000"}},
         "discharging"},
        {"charge in uAh at the design voltage",
         {{"type", "Battery"}, {"status", "Full"}, {"voltage_now", "11100000"},
          {"voltage_min_design", "11100000"}, {"charge_full_design", "4400000"}, {"charge_full", "4000000"},
          {"charge_now", "2000000"}},
         "charged"},
        {"charging, critical level",
         {{"type", "Battery"}, {"status", "Charging"}, {"capacity_level", "Critical"}, {"voltage_now", "11100000"},
          {"energy_full_design", "48840000"}, {"energy_full", "44400000"}, {"energy_now", "22200000"}},
         "charging"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root_ + "/BAT0");
        Supply("AC", {{"type", "Mains"}, {"online", "1"}});
        Supply("BAT0", c.files);
        tBattery b;
        ASSERT_TRUE(Diag_BatteryState(&b));
        EXPECT_EQ(b.state, c.state);
        EXPECT_DOUBLE_EQ(b.voltage, 11.1);
        EXPECT_EQ(b.designCapacity, 4400);
        EXPECT_EQ(b.fullChargeCapacity, 4000);
        EXPECT_EQ(b.remainingCapacity, 2000);
        EXPECT_EQ(b.remainingPercentage, 50);
        ExpectReleased();
    }
}

TEST_F(PowerSupplyTest, MissingRemainingEnergyIsUnknownCapacity) {
    Supply("BAT1", {{"type", "Battery"}, {"status", "Not charging"}, {"voltage_now", "7400000"},
                    {"energy_full_design", "29600000"}, {"energy_full", "29600000"}});
    tBattery b;
    ASSERT_TRUE(Diag_BatteryState(&b));
    EXPECT_EQ(b.state, "charged");
    EXPECT_EQ(b.fullChargeCapacity, 4000);
    EXPECT_EQ(b.remainingCapacity, 0);
    EXPECT_EQ(b.remainingPercentage, 0);
}

TEST_F(PowerSupplyTest, OnlySystemBatteriesThatArePresentCount) {
    const Files battery = {{"type", "Battery"}, {"voltage_now", "11100000"}, {"energy_now", "1000000"}};
    struct Case {
        const char* name;
        Files extra;
    };
    const Case cases[] = {
        {"a UPS", {{"type", "UPS"}}},
        {"a peripheral's battery", {{"scope", "Device"}}},
        {"an empty slot", {{"present", "0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root_ + "/BAT0");
        Files files = battery;
        for (const auto& [file, text] : c.extra) files[file] = text;
        Supply("BAT0", files);
        tBattery b;
        b.state = "untouched";
        EXPECT_FALSE(Diag_BatteryState(&b));
        EXPECT_EQ(b.state, "untouched");
        ExpectReleased();
    }
}

TEST_F(PowerSupplyTest, OnlyBatteryDirectoriesUnderTheRootOpen) {
    Supply("BAT0", {{"type", "Battery"}});
    Supply("AC", {{"type", "Mains"}});
    EXPECT_EQ(platform::internal::PowerSupplyInterfaces(), std::vector<std::string>{root_ + "/BAT0"});
    EXPECT_EQ(platform::CreateFileA((root_ + "/AC").c_str(), platform::kGenericRead, 0, nullptr,
                                    platform::kOpenExisting, 0, nullptr),
              platform::kInvalidHandleValue);
    EXPECT_EQ(platform::CreateFileA("/etc/passwd", platform::kGenericRead, 0, nullptr, platform::kOpenExisting, 0,
                                    nullptr),
              platform::kInvalidHandleValue);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
}

}  // namespace
}  // namespace hwtk3::test
