// Fan and CPU temperature registers: conversions both ways on every map,
// the operator lines, the control bits. (The gate on the binding and an EC
// failing under each export are trace-table rows.)
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fan/fan_registers.h"
#include "smbios/identity.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using Lines = std::vector<std::string>;
using Map = sim::FanModel::Map;

std::string Hex(std::uint8_t value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02x", value);
    return text;
}

class FanRegisterTest : public NotebookTest {
protected:
    void SetUp() override {
        NotebookTest::SetUp();
        Bind();
    }
    // Installs a map and forgets what came before.
    void Use(Map map) {
        nb().fan.Install(map);
        Output();
        nb().trace.Clear();
    }
    // The data bytes sent after a command on 0x68/0x6C.
    Lines WritesTo(std::uint16_t port) {
        Lines writes;
        for (const sim::Event& e : nb().trace.Events()) {
            if (e.kind == sim::Event::Kind::PortWrite && e.a == port) writes.push_back(sim::Describe(e));
        }
        return writes;
    }
};

TEST_F(FanRegisterTest, TargetsAreWrittenAsTwelveBitInvertedCounts) {
    struct Case {
        Map map;
        std::int64_t rpm;
        std::uint8_t high, low;
    };
    const Case cases[] = {
        {Map::Amd, 3000, 0x0F, 0x5F},
        {Map::Amd, 0, 0x00, 0x00},
        {Map::Amd, 65536, 0x00, 0x00},         // taken modulo 65536: 0
        {Map::Amd, 65536 + 3000, 0x0F, 0x5F},  // and 3000
        {Map::Amd, -3000, 0x00, 0x9F},         // negative quotient before the inversion
        {Map::Amd, 100, 0x0D, 0x3F},           // count 4800 keeps its low 12 bits
        {Map::Zlkd, 3000, 0x0F, 0x5F},
        {Map::Zlkd, 0, 0x0F, 0xFF},
        {Map::Zlkd, 1, 0x0C, 0xFF},            // count 480000, low 12 bits 0x300
        {Map::Zlkd, 480001, 0x0F, 0xFF},       // count below 1
        {Map::Zlkd, 0xFFFFFFFF, 0x0F, 0xFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "map " << static_cast<int>(c.map) << " rpm " << c.rpm);
        Use(c.map);
        if (c.map == Map::Amd) {
            ASSERT_EQ(Diag_AMDSetFanRPM(static_cast<int>(c.rpm)), 1);
            EXPECT_EQ(nb().trace.Lines(), (Lines{"out fd61 f4", "out fd62 6a", "out fd63 " + Hex(c.high),
                                                 "out fd61 f4", "out fd62 6b", "out fd63 " + Hex(c.low),
                                                 "sleep 10"}));
        } else {
            ASSERT_EQ(Diag_ZLKDSetFanSpeed2(static_cast<unsigned int>(c.rpm)), 1);
            EXPECT_EQ(WritesTo(0x6C), (Lines{"out 6c 24"}));
            EXPECT_EQ(WritesTo(0x68), (Lines{"out 68 " + Hex(c.high), "out 68 " + Hex(c.low)}));
            EXPECT_EQ(nb().trace.Sleeps(), (std::vector<std::uint32_t>{10}));
        }
    }
}

TEST_F(FanRegisterTest, TachometerReadingsOnEveryMap) {
    struct Case {
        Map map;
        std::uint16_t raw;
        int rpm;
    };
    const Case cases[] = {
        {Map::Amd, 0x0F5F, 3000},   {Map::Amd, 0xFFFF, 0},      {Map::Amd, 0x0FFF, 0},
        {Map::Amd, 0xFF5F, 3000},   {Map::Amd, 0x0000, 117},    // count 4095
        // Counts 1 to 14: the quotient does not fit 16 bits and arrives wrapped.
        {Map::Amd, 0x0FFE, 21248},  {Map::Amd, 0x0FFD, -22144}, {Map::Amd, 0x0FFC, 28928},
        {Map::Amd, 0x0FFB, -11072}, {Map::Amd, 0x0FFA, 30464},  {Map::Amd, 0x0FF9, 14464},
        {Map::Amd, 0x0FF8, 3035},   {Map::Amd, 0x0FF7, -5536},  {Map::Amd, 0x0FF6, -12203},
        {Map::Amd, 0x0FF5, -17536}, {Map::Amd, 0x0FF4, -21900}, {Map::Amd, 0x0FF3, -25536},
        {Map::Amd, 0x0FF2, -28613}, {Map::Amd, 0x0FF1, -31251}, {Map::Amd, 0x0FF0, 32000},
        {Map::Zlkd, 0x0F5F, 3000},  {Map::Zlkd, 0xFFFF, 0},     {Map::Zlkd, 0x0FFE, 480000},
        {Map::Zlkd, 0x0FF1, 34285}, {Map::Zlkd, 0x0000, 117},
        {Map::Pwm, 0xFFFF, 65535},  {Map::Pwm, 0x0BB8, 3000},   {Map::Pwm, 0x0000, 0},
        {Map::MachineType, 0x0000, 0},  {Map::MachineType, 0xFFFF, 32},
        {Map::MachineType, 0x01AF, 5002}, {Map::MachineType, 0x0001, 2156250},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "map " << static_cast<int>(c.map) << " raw " << c.raw);
        Use(c.map);
        nb().fan.tachometerOverride = c.raw;
        int rpm = -99999;
        int temperature = 0;
        std::int32_t machineRpm = -99999;
        switch (c.map) {
            case Map::Amd: ASSERT_EQ(Diag_AMDGetFanRPM(&rpm), 1); break;
            case Map::Zlkd: ASSERT_EQ(Diag_ZLKDGetFanSpeed2(&rpm), 1); break;
            case Map::Pwm: ASSERT_TRUE(Diag_FanState2(&temperature, &rpm)); break;
            case Map::MachineType:
                ASSERT_TRUE(fan::MachineTypeTachometerRead(machineRpm));
                rpm = machineRpm;
                break;
        }
        EXPECT_EQ(rpm, c.rpm);
    }
}

TEST_F(FanRegisterTest, SpeedSettingIsClampedToOneHundred) {
    const std::pair<unsigned int, std::uint8_t> cases[] = {
        {0, 0}, {55, 55}, {100, 100}, {101, 100}, {150, 100}, {0xFFFFFFFF, 100}};
    Use(Map::Pwm);
    for (const auto& [speed, written] : cases) {
        nb().trace.Clear();
        ASSERT_EQ(Diag_SetFanSpeed2(speed), 1);
        EXPECT_EQ(nb().trace.Lines(), (Lines{"out 381 f4", "out 382 63", "out 383 " + Hex(written), "sleep 10"}))
            << speed;
    }
}

// The 3000 RPM lines are in the fan test's path table; these are the stop
// target and the machine-type edge cases.
TEST_F(FanRegisterTest, LinesForZeroTargetsAndCounts) {
    Use(Map::Zlkd);
    ASSERT_EQ(Diag_ZLKDSetFanSpeed2(0), 1);
    EXPECT_EQ(Output(),
              "Tacho_temp:0 Tacho:4095 fff MSB:f LSB:ff\n"
              "Set 0x24 to port 0x6C\n"
              "Set 0xF to port 0x68\n"
              "Set 0xFF to port 0x68\n");

    Use(Map::MachineType);
    nb().fan.tachometerOverride = 0;
    std::int32_t value = 0;
    ASSERT_TRUE(fan::MachineTypeTachometerRead(value));
    EXPECT_EQ(Output(), "MSB: 0\nLSB: 0\nTacho: 0\n");  // no RPM line for a count of 0
    nb().trace.Clear();
    ASSERT_TRUE(fan::MachineTypeDutyWrite(306));
    EXPECT_EQ(Output(), "Set Fan0 Duty: 306\n");
    EXPECT_EQ(WritesTo(0x25C), (Lines{"out 25c 00", "out 25c 32"}));  // the low 8 bits only
    EXPECT_EQ(nb().trace.Sleeps().size(), 0u);  // the dispatch does the pausing
}

TEST_F(FanRegisterTest, TemperatureIsSignedOnlyOnTheMachineTypeMap) {
    struct Case {
        Map map;
        int set;
        int read;
    };
    const Case cases[] = {
        {Map::Amd, 255, 255},       {Map::Zlkd, 255, 255},        {Map::Pwm, 255, 255},
        {Map::MachineType, 255, -1}, {Map::MachineType, -20, -20}, {Map::MachineType, 127, 127},
        {Map::Amd, 52, 52},         {Map::Zlkd, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "map " << static_cast<int>(c.map) << " set " << c.set);
        Use(c.map);
        nb().fan.cpuTemperature = c.set;
        int temperature = -999;
        int rpm = 0;
        std::int32_t machine = -999;
        switch (c.map) {
            case Map::Amd: ASSERT_EQ(Diag_AMDGetCpuTemperature(&temperature), 1); break;
            case Map::Zlkd: ASSERT_EQ(Diag_ZLKDGetCpuTemperature2(&temperature), 1); break;
            case Map::Pwm: ASSERT_TRUE(Diag_FanState2(&temperature, &rpm)); break;
            case Map::MachineType:
                ASSERT_TRUE(fan::MachineTypeTemperatureRead(machine));
                temperature = machine;
                EXPECT_EQ(Output(), "CPU Temp: " + std::to_string(c.read) + "\n");
                break;
        }
        EXPECT_EQ(temperature, c.read);
    }
}

TEST_F(FanRegisterTest, ManualSwitchFollowsMachineTypeWithOppositePolarities) {
    struct Case {
        std::int32_t machineType;
        std::uint8_t before;
        int manual;
        std::uint8_t after;
        std::string lines;
    };
    const Case cases[] = {
        {0, 0x41, 1, 0x43, ""},
        {0, 0x43, 0, 0x41, ""},
        {0, 0xFF, 0, 0xFD, ""},
        {0, 0x02, 7, 0x02, ""},
        {3, 0x85, 1, 0x05, "Read Fan0 Ctrl Flag: 85\nSet Fan0 Ctrl Flag: 5\n"},
        {3, 0x05, 0, 0x85, "Read Fan0 Ctrl Flag: 5\nSet Fan0 Ctrl Flag: 85\n"},
        {-1, 0xFF, -2, 0x7F, "Read Fan0 Ctrl Flag: FF\nSet Fan0 Ctrl Flag: 7F\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "machine type " << c.machineType << " manual " << c.manual);
        smbios::testing::SetMachineType(c.machineType);
        Use(c.machineType == 0 ? Map::Pwm : Map::MachineType);
        nb().ec.Ram(0xF4D3) = c.before;
        nb().fan.fan0ControlFlag = c.before;
        ASSERT_EQ(Diag_SetFanManual2(c.manual), 1);
        EXPECT_EQ(Output(), c.lines);
        EXPECT_EQ(nb().trace.Sleeps(), (std::vector<std::uint32_t>{10}));
        if (c.machineType == 0) {
            // Read and write back to back, the pause only after the write.
            EXPECT_EQ(nb().trace.Lines(), (Lines{"out 381 f4", "out 382 d3", "in 383 " + Hex(c.before),
                                                 "out 381 f4", "out 382 d3", "out 383 " + Hex(c.after),
                                                 "sleep 10"}));
        } else {
            EXPECT_EQ(nb().fan.fan0ControlFlag, c.after);
            EXPECT_EQ(nb().ec.Ram(0xF4D3), c.before);  // EC RAM bit untouched
        }
    }
}

TEST_F(FanRegisterTest, FanStateTakesManualFromBitOneAlone) {
    smbios::testing::SetMachineType(2);  // makes no difference to the state read
    Use(Map::Pwm);
    nb().ec.WriteRam(0xF463, 60);
    nb().fan.tachometerOverride = 0x0BB8;
    for (const auto& [control, manual] : {std::pair{0xFD, 0}, std::pair{0x02, 1}, std::pair{0x00, 0}}) {
        nb().ec.Ram(0xF4D3) = static_cast<std::uint8_t>(control);
        nb().trace.Clear();
        tFanState state{-1, 0xDEAD, 0xDEAD};
        ASSERT_EQ(Diag_GetFanCurState2(&state), 1);
        EXPECT_EQ(state.manual, manual) << control;
        EXPECT_EQ(state.speed, 60u);
        EXPECT_EQ(state.rpm, 3000u);
        EXPECT_EQ(nb().trace.Sleeps(), (std::vector<std::uint32_t>{10, 10, 10}));
    }
}

}  // namespace
}  // namespace hwtk3::test
