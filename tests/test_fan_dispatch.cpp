// The fan test dispatch: path choice, argument routing, pauses and their
// places. (The binding down and each step failing are trace-table rows.)
#include <cstdint>
#include <string>
#include <vector>

#include "hwio/ec_firmware.h"
#include "smbios/identity.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using Lines = std::vector<std::string>;
using Sleeps = std::vector<std::uint32_t>;
using Map = sim::FanModel::Map;

// What each path prints for Diag_FanCpu(3000, 100, &rpm, &temp, ...) with
// the fan settled where the target asks, the CPU at 45 degrees.
const char kZlkdLines[] =
    "ec ZLKD\n"
    "Set rpm to 3000\n"
    "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f\n"
    "Set 0x24 to port 0x6C\n"
    "Set 0xF to port 0x68\n"
    "Set 0x5F to port 0x68\n"
    "tacho msb: 0xF, lsb: 0x5F\n"
    "tacho: 160\n"
    "Get fan speed 3000\n";
const char kPwmLines[] = "old ec, fan uses pwm control\n";
const char kMachineLines[] = "Set Fan0 Duty: 250\nMSB: 1\nLSB: AF\nTacho: 1af\nRPM: 5002\nCPU Temp: 45\n";

class FanDispatchTest : public NotebookTest {
protected:
    // A notebook with the fan behind `map`, firmware text `firmware`, and
    // the library's MachineType; the firmware text is read (or, with
    // read false, the library's copy emptied) as the host would.
    void Machine(Map map, const std::string& firmware, std::int32_t machineType, bool read = true,
                 int silentAfter = -1) {
        nb().fan.Install(map);
        nb().ec.firmwareVersion = firmware;
        nb().ec.firmwareSilentAfter = silentAfter;
        smbios::testing::SetMachineType(machineType);
        char version[32];
        Diag_GetECFirmwareVer2(version, read ? 31 : 0);
        Output();
        nb().trace.Clear();
    }
    // Pauses, commands and register addresses, in order: where each pause
    // falls among the register steps.
    Lines Skeleton() {
        Lines lines;
        for (const sim::Event& e : nb().trace.Events()) {
            const bool marker = e.kind == sim::Event::Kind::PortWrite &&
                                (e.a == 0x6C || e.a == 0x25D || e.a == 0x382 || e.a == 0xFD62);
            if (marker || e.kind == sim::Event::Kind::Sleep) lines.push_back(sim::Describe(e));
        }
        return lines;
    }
};

TEST_F(FanDispatchTest, PathChoice) {
    struct Case {
        const char* firmware;
        bool read;
        int silentAfter;
        std::int32_t machineType;
        bool ecPlatform;
        Map path;
        const char* lines;
        int rpm;
    };
    Bind();
    const Case cases[] = {
        {"ZLKD 1.07.02", true, -1, 0, true, Map::Zlkd, kZlkdLines, 3000},
        {"QX-ZLKD-2", true, -1, 0, true, Map::Zlkd, kZlkdLines, 3000},
        {"1.07 ZLKD", true, -1, 0, true, Map::Zlkd, kZlkdLines, 3000},
        {"ZLKD 1.07", true, 4, 0, true, Map::Zlkd, kZlkdLines, 3000},  // the bytes before the EC fell silent
        {"zlkd 1.07.02", true, -1, 0, true, Map::Pwm, kPwmLines, 3000},
        {"ZLK D 1.07", true, -1, 0, true, Map::Pwm, kPwmLines, 3000},
        {"ZLKD 1.07.02", false, -1, 0, true, Map::Pwm, kPwmLines, 3000},  // nothing read
        {"ZLKD 1.07.02", true, -1, 0, false, Map::Amd, "", 3000},
        {"QA 2.01.00", true, -1, 0, false, Map::Amd, "", 3000},
        {"ZLKD 1.07.02", true, -1, 1, true, Map::MachineType, kMachineLines, 5002},
        {"QX 1.02.11", true, -1, 5, false, Map::MachineType, kMachineLines, 5002},
        {"", true, -1, -1, true, Map::MachineType, kMachineLines, 5002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.firmware << (c.read ? "" : " (not read)") << " machine type "
                                        << c.machineType << " flag " << c.ecPlatform);
        Machine(c.path, c.firmware, c.machineType, c.read, c.silentAfter);
        int rpm = 60;  // the PWM path takes its setting from here: 3000 RPM
        int temperature = -1;
        EXPECT_TRUE(Diag_FanCpu(3000, 100, &rpm, &temperature, c.ecPlatform));
        EXPECT_EQ(Output(), c.lines);
        EXPECT_EQ(rpm, c.rpm);
        EXPECT_EQ(temperature, 45);
        EXPECT_EQ(nb().ec.unknownCommands, 0);
    }
}

TEST_F(FanDispatchTest, EcPlatformTakesThePwmPathUntilTheFirmwareIsRead) {
    Bind();
    nb().fan.Install(Map::Pwm);
    ASSERT_STREQ(hwio::EcFirmwareVersion(), "");
    int rpm = 60;
    int temperature = 0;
    EXPECT_TRUE(Diag_FanCpuGetValue(&rpm, &temperature, true));
    EXPECT_EQ(rpm, 2400);  // idle, read as plain RPM
    rpm = 60;
    EXPECT_TRUE(Diag_FanCpu(3000, 0, &rpm, &temperature, true));
    EXPECT_EQ(Output(), kPwmLines);
    EXPECT_EQ(rpm, 3000);
}

TEST_F(FanDispatchTest, PausesPerPathAndWhereTheyFall) {
    struct Case {
        Map path;
        std::int32_t machineType;
        bool ecPlatform;
        Lines fanCpu;
        std::uint64_t fanCpuTotal;
        Lines getValue;
        const char* getValueLines;
    };
    const Case cases[] = {
        {Map::Zlkd, 0, true,
         {"out 6c 24", "sleep 10", "sleep 3000", "out 6c 23", "sleep 10", "sleep 200", "out 6c 2d", "sleep 10",
          "sleep 200"},
         3430,
         {"out 6c 23", "sleep 10", "sleep 200", "out 6c 2d", "sleep 10", "sleep 200"},
         "tacho msb: 0xF, lsb: 0x5F\ntacho: 160\n"},
        {Map::Pwm, 0, true,
         {"out 382 63", "sleep 10", "sleep 3000", "out 382 51", "sleep 10", "out 382 66", "out 382 67", "sleep 10",
          "sleep 200"},
         3230,
         {"out 382 51", "sleep 10", "out 382 66", "out 382 67", "sleep 10", "sleep 200"},
         ""},
        {Map::Amd, 0, false,
         {"out fd62 6a", "out fd62 6b", "sleep 10", "sleep 3000", "out fd62 66", "out fd62 67", "sleep 10",
          "sleep 200", "out fd62 51", "sleep 10", "sleep 200"},
         3430,
         {"out fd62 66", "out fd62 67", "sleep 10", "sleep 200", "out fd62 51", "sleep 10", "sleep 200"},
         ""},
        {Map::MachineType, 1, true,
         {"out 25d 84", "sleep 3000", "out 25d 80", "out 25d 80", "sleep 200", "out 25d 90", "sleep 200"},
         3400,
         {"out 25d 80", "out 25d 80", "sleep 200", "out 25d 90", "sleep 200"},
         "MSB: 1\nLSB: AF\nTacho: 1af\nRPM: 5002\nCPU Temp: 45\n"},
    };
    Bind();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(c.path));
        Machine(c.path, c.path == Map::Zlkd ? "ZLKD 1.07.02" : "QX 1.02.11", c.machineType);
        int rpm = 60;
        int temperature = 0;
        ASSERT_TRUE(Diag_FanCpu(3000, 100, &rpm, &temperature, c.ecPlatform));
        EXPECT_EQ(Skeleton(), c.fanCpu);
        EXPECT_EQ(nb().trace.SleepTotalMs(), c.fanCpuTotal);

        Output();
        nb().trace.Clear();
        rpm = -1;
        temperature = -1;
        ASSERT_TRUE(Diag_FanCpuGetValue(&rpm, &temperature, c.ecPlatform));
        EXPECT_EQ(Skeleton(), c.getValue);
        EXPECT_EQ(Output(), c.getValueLines);
        EXPECT_EQ(rpm, c.path == Map::MachineType ? 5002 : 3000);
        EXPECT_EQ(temperature, 45);
    }
}

TEST_F(FanDispatchTest, MachineTypeDutyIsTwiceTheLevelPlusFifty) {
    struct Case {
        int level;
        const char* line;
        std::uint8_t duty;
    };
    const Case cases[] = {
        {100, "Set Fan0 Duty: 250\n", 0xFA},
        {0, "Set Fan0 Duty: 50\n", 0x32},
        {102, "Set Fan0 Duty: 254\n", 0xFE},
        {103, "Set Fan0 Duty: 256\n", 0x00},  // the EC gets the low 8 bits
        {-25, "Set Fan0 Duty: 0\n", 0x00},
        {-26, "Set Fan0 Duty: 4294967294\n", 0xFE},
    };
    Bind();
    Machine(Map::MachineType, "ZLKD 1.07.02", 1);
    for (const Case& c : cases) {
        for (int target : {3000, -1}) {  // the target makes no difference here
            int rpm = 0;
            int temperature = 0;
            ASSERT_TRUE(Diag_FanCpu(target, c.level, &rpm, &temperature, false));
            EXPECT_EQ(Output().substr(0, std::string(c.line).size()), c.line);
            EXPECT_EQ(nb().fan.fan0Duty, c.duty) << c.level;
        }
    }
}

TEST_F(FanDispatchTest, PwmPathSendsTheSettingTheSpeedOutputHolds) {
    Bind();
    Machine(Map::Pwm, "QX 1.02.11", 0);
    for (const auto& [setting, written, measured] : {std::tuple{60, 60, 3000}, std::tuple{250, 100, 5000},
                                                     std::tuple{0, 0, 0}, std::tuple{-1, 100, 5000}}) {
        for (int other : {0, 4000}) {  // arguments 1 and 2 make no difference
            int rpm = setting;
            int temperature = 0;
            ASSERT_TRUE(Diag_FanCpu(other, other, &rpm, &temperature, true));
            EXPECT_EQ(nb().ec.Ram(0xF463), written) << setting;
            EXPECT_EQ(rpm, measured) << setting;
        }
    }
}

TEST_F(FanDispatchTest, DutyLevelMakesNoDifferenceOnZlkdAndAmd) {
    Bind();
    for (const auto& [map, ecPlatform] : {std::pair{Map::Zlkd, true}, std::pair{Map::Amd, false}}) {
        Machine(map, "ZLKD 1.07.02", 0);
        std::vector<Lines> traces;
        for (int level : {0, 100, -7}) {
            nb().trace.Clear();
            int rpm = 0;
            int temperature = 0;
            ASSERT_TRUE(Diag_FanCpu(2000, level, &rpm, &temperature, ecPlatform));
            EXPECT_EQ(rpm, 2000);
            traces.push_back(nb().trace.Lines());
        }
        EXPECT_EQ(traces[0], traces[1]);
        EXPECT_EQ(traces[0], traces[2]);
    }
}

}  // namespace
}  // namespace hwtk3::test
