// Battery status on Linux from a power-supply tree: energy and charge
// counters mapped to the Windows units, and what is not a system battery.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "include/hwtk3.h"
#include "platform/battery_class.h"
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
        {"charge in uAh at the present voltage, without a design voltage",
         {{"type", "Battery"}, {"status", "Discharging"}, {"voltage_now", "11100000"},
          {"charge_full_design", "4400000"}, {"charge_full", "4000000"}, {"charge_now", "2000000"}},
         "discharging"},
        {"texts with trailing blanks, a cycle count, a counter that is no number",
         {{"type", "Battery \r"}, {"status", "Discharging  "}, {"voltage_now", "11100000"},
          {"energy_full_design", "48840000"}, {"energy_full", "44400000"}, {"energy_now", "22200000"},
          {"cycle_count", "17"}, {"power_now", "n/a"}, {"current_now", ""}},
         "discharging"},
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
    // A machine without the power-supply class at all.
    platform::internal::SetPowerSupplyRoot((root_ + "/none").c_str());
    EXPECT_TRUE(platform::internal::PowerSupplyInterfaces().empty());
}

// Values a driver can put in sysfs whose products leave 64 bits: each stops
// at the top of its record instead of wrapping.
TEST_F(PowerSupplyTest, HugeCountersStopAtTheTopOfTheRecords) {
    namespace bc = platform::battery;
    struct Case {
        const char* name;
        Files files;
        std::uint32_t designed, capacity;
        std::int32_t rate;
    };
    const Files huge = {{"type", "Battery"}, {"status", "Discharging"}, {"voltage_now", "20000000000"},
                        {"voltage_min_design", "20000000000"}, {"charge_full_design", "1000000000000"},
                        {"charge_full", "1000000000000"}, {"charge_now", "500000000000"}};
    auto with = [&](const Files& extra) {
        Files files = huge;
        for (const auto& [file, text] : extra) files[file] = text;
        return files;
    };
    const Case cases[] = {
        {"charge times voltage", with({{"current_now", "-1000000000000"}}), 0xFFFFFFFE, 0xFFFFFFFE, -INT32_MAX},
        {"most negative power", with({{"power_now", "-9223372036854775808"}}), 0xFFFFFFFE, 0xFFFFFFFE, -INT32_MAX},
        {"most negative current", with({{"current_now", "-9223372036854775808"}}), 0xFFFFFFFE, 0xFFFFFFFE,
         -INT32_MAX},
        {"negative charge and voltage",
         {{"type", "Battery"}, {"status", "Discharging"}, {"voltage_now", "-9223372036854775807"},
          {"charge_full_design", "-9223372036854775807"}, {"charge_now", "-2"},
          {"current_now", "-9223372036854775807"}},
         0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root_ + "/BAT0");
        Supply("BAT0", c.files);
        platform::HANDLE device = platform::CreateFileA((root_ + "/BAT0").c_str(), platform::kGenericRead, 0,
                                                        nullptr, platform::kOpenExisting, 0, nullptr);
        ASSERT_NE(device, platform::kInvalidHandleValue);
        platform::DWORD returned = 0;
        bc::BATTERY_QUERY_INFORMATION query{1, bc::kLevelBatteryInformation, 0};
        bc::BATTERY_INFORMATION info{};
        ASSERT_TRUE(platform::DeviceIoControl(device, bc::kIoctlQueryInformation, &query, sizeof query, &info,
                                              sizeof info, &returned, nullptr));
        bc::BATTERY_WAIT_STATUS wait{};
        wait.BatteryTag = 1;
        bc::BATTERY_STATUS status{};
        ASSERT_TRUE(platform::DeviceIoControl(device, bc::kIoctlQueryStatus, &wait, sizeof wait, &status,
                                              sizeof status, &returned, nullptr));
        platform::CloseHandle(device);
        EXPECT_EQ(info.DesignedCapacity, c.designed);
        EXPECT_EQ(status.Capacity, c.capacity);
        EXPECT_EQ(status.Rate, c.rate);
    }
    ExpectReleased();
}

// No voltage_now: the voltage is unknown and no capacity is converted to
// mAh; the percentage needs no voltage and is still given.
TEST_F(PowerSupplyTest, MissingVoltageGivesNoVoltageAndNoMilliAmpHours) {
    struct Case {
        const char* name;
        Files files;
        int percent;
    };
    const Case cases[] = {
        {"energy counters",
         {{"type", "Battery"}, {"status", "Discharging"}, {"energy_full_design", "48840000"},
          {"energy_full", "44400000"}, {"energy_now", "22200000"}},
         50},
        {"charge counters, no voltage at all",
         {{"type", "Battery"}, {"status", "Discharging"}, {"charge_full_design", "4400000"},
          {"charge_full", "4000000"}, {"charge_now", "2000000"}},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root_ + "/BAT0");
        Supply("BAT0", c.files);
        tBattery b;
        ASSERT_TRUE(Diag_BatteryState(&b));
        EXPECT_EQ(b.state, "discharging");
        EXPECT_EQ(b.voltage, 0.0);
        EXPECT_EQ(b.designCapacity, 0);
        EXPECT_EQ(b.fullChargeCapacity, 0);
        EXPECT_EQ(b.remainingCapacity, 0);
        EXPECT_EQ(b.remainingPercentage, c.percent);
    }
}

// The detail size the Setup API asks for holds the device path and its
// terminator, and a block of exactly that size receives both.
TEST_F(PowerSupplyTest, InterfaceDetailFitsExactlyTheSizeItAsksFor) {
    Supply("BAT0", {{"type", "Battery"}});
    Supply("BAT10", {{"type", "Battery"}});
    platform::HDEVINFO set = platform::SetupDiGetClassDevsA(&platform::battery::kBatteryClassGuid, nullptr, nullptr,
                                                            platform::kDigcfPresent | platform::kDigcfDeviceInterface);
    ASSERT_NE(set, platform::kInvalidHandleValue);
    const char* names[] = {"BAT0", "BAT10"};
    for (platform::DWORD index = 0; index < 2; ++index) {
        const std::string path = root_ + "/" + names[index];
        SCOPED_TRACE(path);
        platform::SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        ASSERT_TRUE(platform::SetupDiEnumDeviceInterfaces(set, nullptr, &platform::battery::kBatteryClassGuid, index,
                                                          &data));
        platform::DWORD required = 0;
        EXPECT_FALSE(platform::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
        EXPECT_EQ(platform::GetLastError(), platform::kErrorInsufficientBuffer);
        const std::size_t pathOffset = offsetof(platform::SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        ASSERT_EQ(required, pathOffset + path.size() + 1);

        // A heap block of exactly that size, so that a byte written past it
        // is seen (by the address sanitizer build at once).
        auto* block = static_cast<unsigned char*>(std::malloc(required));
        ASSERT_NE(block, nullptr);
        std::memset(block, 0xEE, required);
        auto* detail = reinterpret_cast<platform::SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block);
        detail->cbSize = sizeof(platform::SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        EXPECT_FALSE(platform::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, nullptr, nullptr));
        EXPECT_EQ(platform::GetLastError(), platform::kErrorInsufficientBuffer);
        EXPECT_TRUE(platform::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(block + pathOffset), path.size()), path);
        EXPECT_EQ(block[required - 1], 0);
        std::free(block);
    }
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(set));
    ExpectReleased();
}

}  // namespace
}  // namespace hwtk3::test
