// Fan and CPU temperature registers: conversions both ways on every map,
// the operator lines, the control bits, and the gate on the binding.
#include <cstdint>
#include <cstdio>
#include <functional>
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

// An EC that stops answering on its command channels, or takes a byte too
// late: the exports that use them fail, write no output, print no line for
// a byte the EC did not answer nor for one never written, and the Fan0
// control flag, a read-modify-write whose other bits are the EC's own, is
// not written from a byte the EC never sent.
TEST_F(FanRegisterTest, SilentEcFailsTheChannelExportsAndWritesNothing) {
    using Kind = sim::EcModel::AccessFault::Kind;
    struct Case {
        const char* name;
        Map map;
        std::int32_t machineType;
        Kind kind;
        int at;
        std::function<int(int&)> run;
        std::string lines;
    };
    const Case cases[] = {
        {"Fan0 flag read never answered", Map::MachineType, 1, Kind::ObfNeverFrom, 0,
         [](int&) { return Diag_SetFanManual2(1); }, ""},
        {"Fan0 flag read answer lost", Map::MachineType, 1, Kind::DropAt, 4,
         [](int&) { return Diag_SetFanManual2(0); }, ""},
        // A write's line once its byte went out; the result whether the EC
        // took it in time.
        {"Fan0 flag byte never taken", Map::MachineType, 1, Kind::IbfStuckFrom, 11,
         [](int&) { return Diag_SetFanManual2(1); }, "Read Fan0 Ctrl Flag: 85\nSet Fan0 Ctrl Flag: 5\n"},
        {"Fan0 flag byte taken after the wait", Map::MachineType, 1, Kind::LateAt, 11,
         [](int&) { return Diag_SetFanManual2(1); }, "Read Fan0 Ctrl Flag: 85\nSet Fan0 Ctrl Flag: 5\n"},
        {"Fan0 flag write's command not taken", Map::MachineType, 1, Kind::IbfStuckFrom, 7,
         [](int&) { return Diag_SetFanManual2(1); }, "Read Fan0 Ctrl Flag: 85\n"},
        {"ZLKD target, low byte not taken", Map::Zlkd, 0, Kind::IbfStuckFrom, 4,
         [](int&) { return Diag_ZLKDSetFanSpeed2(3000); },
         "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f\nSet 0x24 to port 0x6C\nSet 0xF to port 0x68\n"},
        {"ZLKD target, last byte taken after the wait", Map::Zlkd, 0, Kind::LateAt, 5,
         [](int&) { return Diag_ZLKDSetFanSpeed2(3000); },
         "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f\nSet 0x24 to port 0x6C\nSet 0xF to port 0x68\n"
         "Set 0x5F to port 0x68\n"},
        {"ZLKD target, last byte never taken", Map::Zlkd, 0, Kind::IbfStuckFrom, 5,
         [](int&) { return Diag_ZLKDSetFanSpeed2(3000); },
         "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f\nSet 0x24 to port 0x6C\nSet 0xF to port 0x68\n"
         "Set 0x5F to port 0x68\n"},
        {"ZLKD tachometer low byte lost", Map::Zlkd, 0, Kind::DropAt, 4,
         [](int& out) { return Diag_ZLKDGetFanSpeed2(&out); }, ""},
        {"ZLKD temperature never answered", Map::Zlkd, 0, Kind::ObfNeverFrom, 0,
         [](int& out) { return Diag_ZLKDGetCpuTemperature2(&out); }, ""},
        {"machine-type duty, index not taken", Map::MachineType, 1, Kind::IbfStuckFrom, 3,
         [](int&) { return fan::MachineTypeDutyWrite(250) ? 1 : 0; }, ""},
        {"machine-type duty taken after the wait", Map::MachineType, 1, Kind::LateAt, 5,
         [](int&) { return fan::MachineTypeDutyWrite(250) ? 1 : 0; }, "Set Fan0 Duty: 250\n"},
        {"machine-type tachometer low byte lost", Map::MachineType, 1, Kind::DropAt, 14,
         [](int& out) {
             std::int32_t rpm = 0;
             const bool ok = fan::MachineTypeTachometerRead(rpm);
             if (ok) out = rpm;
             return ok ? 1 : 0;
         },
         "MSB: 1\n"},
        {"machine-type temperature never answered", Map::MachineType, 1, Kind::ObfNeverFrom, 0,
         [](int& out) {
             std::int32_t t = 0;
             const bool ok = fan::MachineTypeTemperatureRead(t);
             if (ok) out = t;
             return ok ? 1 : 0;
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case on a notebook of its own: a byte a silent EC left
        // pending must not reach the next case.
        ResetLibrary();
        sim::Notebook& n = sim::ResetCurrent();
        ASSERT_EQ(Diag_InitHWIO(), 1);
        smbios::testing::SetMachineType(c.machineType);
        n.fan.Install(c.map);
        n.fan.tachometerOverride = 0x01AF;
        Output();
        n.trace.Clear();
        const double target = n.fan.TargetRpm();
        const std::uint8_t duty = n.fan.fan0Duty;
        n.ec.ResetAccessCount();
        n.ec.accessFault = {c.kind, c.at};
        int output = -7;
        EXPECT_EQ(c.run(output), 0);
        EXPECT_EQ(output, -7);
        EXPECT_EQ(Output(), c.lines);
        EXPECT_EQ(n.fan.fan0ControlFlag, 0x85);
        EXPECT_EQ(n.fan.fan0Duty, duty);
        EXPECT_EQ(n.fan.TargetRpm(), target);
        EXPECT_EQ(n.ec.writesFromUnansweredReads, 0);
        EXPECT_LE(n.trace.SleepTotalMs(), 500u);  // one wait runs out, nothing more
    }
}

// Every export, and the machine-type operations, while the binding is down:
// never bound, and released after use.
TEST_F(FanRegisterTest, NothingRunsWhileTheBindingIsDown) {
    struct Outputs {
        int a = -7;
        int b = -7;
        std::int32_t machine = -7;
        tFanState state{-7, 7, 7};
        bool Untouched() const {
            return a == -7 && b == -7 && machine == -7 && state.manual == -7 && state.speed == 7 &&
                   state.rpm == 7;
        }
    };
    const std::vector<std::function<bool(Outputs&)>> operations = {
        [](Outputs&) { return Diag_AMDSetFanRPM(3000) != 0; },
        [](Outputs& o) { return Diag_AMDGetFanRPM(&o.a) != 0; },
        [](Outputs& o) { return Diag_AMDGetCpuTemperature(&o.a) != 0; },
        [](Outputs& o) { return Diag_FanState2(&o.a, &o.b); },
        [](Outputs& o) { return Diag_GetFanCurState2(&o.state) != 0; },
        [](Outputs&) { return Diag_SetFanManual2(1) != 0; },
        [](Outputs&) { return Diag_SetFanSpeed2(50) != 0; },
        [](Outputs& o) { return Diag_ZLKDGetCpuTemperature2(&o.a) != 0; },
        [](Outputs& o) { return Diag_ZLKDGetFanSpeed2(&o.a) != 0; },
        [](Outputs&) { return Diag_ZLKDSetFanSpeed2(3000) != 0; },
        [](Outputs&) { return fan::MachineTypeDutyWrite(250); },
        [](Outputs& o) { return fan::MachineTypeTachometerRead(o.machine); },
        [](Outputs& o) { return fan::MachineTypeTemperatureRead(o.machine); },
    };
    Diag_FreeHWIO();
    for (std::int32_t machineType : {0, 1}) {
        smbios::testing::SetMachineType(machineType);
        Output();
        nb().trace.Clear();
        for (std::size_t i = 0; i < operations.size(); ++i) {
            Outputs outputs;
            EXPECT_FALSE(operations[i](outputs)) << i;
            EXPECT_TRUE(outputs.Untouched()) << i;
        }
        EXPECT_EQ(Output(), "");
        EXPECT_EQ(nb().trace.Events().size(), 0u);  // no port access, no pause
    }
}

}  // namespace
}  // namespace hwtk3::test
