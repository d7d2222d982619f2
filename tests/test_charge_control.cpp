// Battery charge switch on both platforms: read-backs, passes, pauses,
// messages, the bits kept, and the binding down.
#include <algorithm>
#include <string>
#include <vector>

#include "hwio/ec.h"
#include "smbios/identity.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

constexpr std::uint16_t kRamByte = sim::ChargeSwitch::kRamByte;
constexpr std::uint16_t kTypeByte = sim::ChargeSwitch::kMachineTypeByte;

class ChargeControlTest : public NotebookTest {
protected:
    void SetUp() override {
        NotebookTest::SetUp();
        Bind();  // leaves the output captured
    }
    // Starts a case afresh on the same notebook.
    void Arm(std::uint16_t byte, std::uint8_t initial, int sticksFrom, std::uint8_t flip = 0) {
        nb().chargeSwitch.Set(byte, initial);
        nb().chargeSwitch.sticksFromWrite = sticksFrom;
        nb().chargeSwitch.flipOnWrite = flip;
        nb().chargeSwitch.ClearWrites();
        nb().trace.Clear();
        Output();
    }
    int SecondPauses() {
        const auto sleeps = nb().trace.Sleeps();
        return static_cast<int>(std::count(sleeps.begin(), sleeps.end(), 1000u));
    }
    int Lines(const std::string& line) {
        const auto lines = nb().trace.Lines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    int Accesses(std::uint32_t port) {
        return nb().trace.Count(sim::Event::Kind::PortRead, port) + nb().trace.Count(sim::Event::Kind::PortWrite, port);
    }
};

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// EC RAM path (MachineType 0): one case per EC behaviour.
TEST_F(ChargeControlTest, EcRamPathPassesAndMessages) {
    const std::string failOffPass = "Set battery to discharging state\n"
                                    "Original data of address 0xD2 = 0x5\n" +
                                    Repeat("Read address 0xD2 back, value = 0x5\n"
                                           "Fail !! battery is still charging.\n",
                                           3) +
                                    "EC RAM Bank ID: 2\n";
    const std::string okOffPass = "Set battery to discharging state\n"
                                  "Original data of address 0xD2 = 0x5\n"
                                  "Read address 0xD2 back, value = 0x45\n"
                                  "Success !! battery is discharging.\n";
    const std::string retry = "Retry to write EC RAM again!\n";
    const std::string failOnPass = "Set battery to charging state\nOriginal data of address 0xD2 = 0x45\n" +
                                   Repeat("Read address 0xD2 back, value = 0x45\n"
                                          "Fail !! battery is still discharging.\n",
                                          3) +
                                   "EC RAM Bank ID: 2\n";
    struct Case {
        const char* name;
        bool enable;
        std::uint8_t initial;
        int sticksFrom;
        bool result;
        std::uint8_t final;
        int writes;
        int secondPauses;
        std::string output;
    };
    const Case cases[] = {
        {"off, first read-back", false, 0x05, 1, true, 0x45, 1, 0, okOffPass},
        {"on, first read-back", true, 0xC5, 1, true, 0x85, 1, 0,
         "Set battery to charging state\nOriginal data of address 0xD2 = 0xC5\n"
         "Read address 0xD2 back, value = 0x85\nSuccess !! battery is charging.\n"},
        {"on while already on still writes", true, 0x85, 1, true, 0x85, 1, 0,
         "Set battery to charging state\nOriginal data of address 0xD2 = 0x85\n"
         "Read address 0xD2 back, value = 0x85\nSuccess !! battery is charging.\n"},
        {"off, second pass", false, 0x05, 2, true, 0x45, 2, 4, failOffPass + retry + okOffPass},
        {"off, third pass", false, 0x05, 3, true, 0x45, 3, 8,
         failOffPass + retry + failOffPass + retry + okOffPass},
        {"off, never", false, 0x05, 0, false, 0x05, 3, 11,
         failOffPass + retry + failOffPass + retry + failOffPass},
        {"on, never", true, 0x45, 0, false, 0x45, 3, 11,
         failOnPass + retry + failOnPass + retry + failOnPass},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Arm(kRamByte, c.initial, c.sticksFrom);
        EXPECT_EQ(Diag_SetBatteryChargeEnabled(c.enable), c.result);
        EXPECT_EQ(Output(), c.output);
        EXPECT_EQ(nb().chargeSwitch.Value(kRamByte), c.final);
        EXPECT_EQ(nb().chargeSwitch.Writes(kRamByte), c.writes);
        EXPECT_EQ(SecondPauses(), c.secondPauses);
        EXPECT_EQ(nb().chargeSwitch.Writes(kTypeByte), 0);
        EXPECT_EQ(nb().ec.bytesWhileBusy, 0);
    }
}

TEST_F(ChargeControlTest, EcRamFullFailureReadsTheBankIdThreeTimes) {
    nb().chargeSwitch.sticksFromWrite = 0;
    EXPECT_FALSE(Diag_SetBatteryChargeEnabled(false));
    const std::string out = Output();
    std::size_t bankLines = 0;
    for (std::size_t at = out.find("EC RAM Bank ID"); at != std::string::npos; at = out.find("EC RAM Bank ID", at + 1)) {
        ++bankLines;
    }
    EXPECT_EQ(bankLines, 3u);
    EXPECT_EQ(SecondPauses(), 11);
    // Per pass: the read of the current value, the write and three
    // read-backs address 0xD2; the bank identifier is read once.
    EXPECT_EQ(Lines("out 62 d2"), 15);
    EXPECT_EQ(Lines("out 62 ff"), 3);
}

TEST_F(ChargeControlTest, EcRamPathChecksOnlyBitSixAndKeepsTheOthers) {
    nb().chargeSwitch.Set(kRamByte, 0x3A);
    nb().chargeSwitch.flipOnWrite = 0x01;
    EXPECT_TRUE(Diag_SetBatteryChargeEnabled(false));
    EXPECT_EQ(nb().chargeSwitch.Value(kRamByte), 0x7B);  // 0x3A | 0x40, then the EC's own bit 0
}

// Machine-type path: write and read-back of 0x04F8, all bits compared.
TEST_F(ChargeControlTest, MachineTypePathAttempts) {
    struct Case {
        const char* name;
        bool enable;
        std::uint8_t initial;
        int sticksFrom;
        std::uint8_t flip;
        bool result;
        int attempts;
        std::uint8_t final;
    };
    const Case cases[] = {
        {"off at once", false, 0x9A, 1, 0, true, 1, 0xDA},
        {"on at once", true, 0xDA, 1, 0, true, 1, 0x9A},
        {"second attempt", false, 0x9A, 2, 0, true, 2, 0xDA},
        {"third attempt", true, 0xDA, 3, 0, true, 3, 0x9A},
        {"never", false, 0x9A, 0, 0, false, 3, 0x9A},
        {"another bit changes", false, 0x9A, 1, 0x01, false, 3, 0xDA},
    };
    smbios::testing::SetMachineType(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Arm(kTypeByte, c.initial, c.sticksFrom, c.flip);
        EXPECT_EQ(Diag_SetBatteryChargeEnabled(c.enable), c.result);
        EXPECT_EQ(nb().chargeSwitch.Writes(kTypeByte), c.attempts);
        EXPECT_EQ(SecondPauses(), c.result ? c.attempts - 1 : 3);
        EXPECT_EQ(nb().chargeSwitch.Value(kTypeByte) & ~c.flip, c.final & ~c.flip);
        // EC RAM 0xD2 is never touched on this path.
        EXPECT_EQ(Accesses(0x62) + Accesses(0x66), 0);
        const std::string out = Output();
        EXPECT_EQ(out.rfind(c.enable ? "Set battery to charging state\n" : "Set battery to discharging state\n", 0), 0u);
        EXPECT_EQ(out.find("Set battery", 1), std::string::npos);  // announced once
    }
}

TEST_F(ChargeControlTest, MachineTypePathMessages) {
    smbios::testing::SetMachineType(2);
    nb().chargeSwitch.Set(kTypeByte, 0x9A);
    nb().chargeSwitch.sticksFromWrite = 2;
    EXPECT_TRUE(Diag_SetBatteryChargeEnabled(false));
    EXPECT_EQ(Output(),
              "Set battery to discharging state\n"
              "Ori. 0x4F8: 0x9A\nRead back 0x4F8: 0x9A\n"
              "Ori. 0x4F8: 0x9A\nRead back 0x4F8: 0xDA\n");
}

TEST_F(ChargeControlTest, IsChargeEnabledReadsOnlyOnMachineTypePlatforms) {
    struct Case {
        std::int32_t type;
        std::uint8_t byte;
        bool enabled;
        const char* output;
        bool unanswered = false;
    };
    const Case cases[] = {
        {1, 0x9A, true, "Data in 0x4F8: 0x9A\n"},
        {1, 0xDA, false, "Data in 0x4F8: 0xDA\n"},
        {0, 0x9A, false, ""},  // no machine-type EC: false whatever the battery does
        {1, 0x9A, false, "", true},  // unanswered: no byte to report
    };
    for (const Case& c : cases) {
        smbios::testing::SetMachineType(c.type);
        nb().chargeSwitch.Set(kTypeByte, c.byte);
        nb().ec.faults[sim::EcModel::k25C].obfNever = c.unanswered;
        nb().trace.Clear();
        EXPECT_EQ(Diag_IsBatteryChargeEnabled(), c.enabled);
        EXPECT_EQ(Output(), c.output);
        EXPECT_EQ(nb().trace.PortAccesses() == 0, c.type == 0);
    }
}

TEST_F(ChargeControlTest, ChargeStateIsTheRawRamByteOnEveryPlatform) {
    nb().chargeSwitch.Set(kRamByte, 0x47);
    nb().chargeSwitch.Set(kTypeByte, 0x00);
    for (std::int32_t type : {0, 1}) {
        smbios::testing::SetMachineType(type);
        nb().trace.Clear();
        EXPECT_EQ(Diag_GetBatteryChargeState(), 0x47);
        EXPECT_GT(Accesses(0x62), 0);
        EXPECT_EQ(Accesses(0x25C) + Accesses(0x25D), 0);
    }
    EXPECT_EQ(Output(), "");
}

// The failure value 0 when nothing was read (not 0xFF, which reads as
// "charging off"); once the index went out, the byte the data port holds
// 20 ms later, unlooked at, as published: a slow EC's older byte.
TEST_F(ChargeControlTest, ChargeStateWhenTheEcDoesNotAnswer) {
    using Kind = sim::EcModel::AccessFault::Kind;
    struct Case {
        const char* name;
        sim::EcModel::AccessFault fault;
        std::uint32_t latencyMs;
        unsigned char state;
    };
    const Case cases[] = {
        {"EC busy, no command sent", {Kind::IbfStuckFrom, 0}, 0, 0},
        {"command never taken", {Kind::IbfStuckFrom, 1}, 0, 0},
        {"floating bus", {Kind::FloatingFrom, 0}, 0, 0},
        {"slow EC: the port's older byte", {}, 25, 0x5A},
    };
    nb().chargeSwitch.Set(kRamByte, 0x47);
    nb().ec.Ram(0x10) = 0x5A;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nb().ec.accessFault = {};
        nb().ec.latencyMs = 0;
        nb().Sleep(1000);
        std::uint8_t older = 0;
        ASSERT_TRUE(ec::Ec62ReadAnswered(0x10, older));  // leaves 0x5A in the data port
        nb().ec.ResetAccessCount();
        nb().ec.accessFault = c.fault;
        nb().ec.latencyMs = c.latencyMs;
        EXPECT_EQ(Diag_GetBatteryChargeState(), c.state);
    }
    EXPECT_EQ(Output(), "");
}

TEST_F(ChargeControlTest, BindingDownMeansFailureWithoutPortsOrMessages) {
    Diag_FreeHWIO();
    Output();
    for (std::int32_t type : {0, 1}) {
        smbios::testing::SetMachineType(type);
        nb().trace.Clear();
        EXPECT_EQ(Diag_GetBatteryChargeState(), 0);
        EXPECT_FALSE(Diag_SetBatteryChargeEnabled(true));
        EXPECT_FALSE(Diag_SetBatteryChargeEnabled(false));
        EXPECT_FALSE(Diag_IsBatteryChargeEnabled());
        EXPECT_TRUE(nb().trace.Events().empty());
        EXPECT_EQ(Output(), "");
    }
}

// A byte the EC never sent is never written back: the other seven bits of
// the switch byte are firmware flags. A slow EC (its answer comes after the
// 20 ms the EC RAM read waits) leaves an older byte in the data port; a
// silent one answers nothing at all. Each pass then counts as failed, with
// the lines and pauses of a failed pass, and nothing is written.
TEST_F(ChargeControlTest, UnansweredReadIsNeverWrittenBack) {
    struct Case {
        const char* name;
        std::int32_t machineType;
        std::uint16_t byte;
        int secondPauses;
        std::string output;  // no line reports a byte the EC did not answer
    };
    const std::string offPass = "Set battery to discharging state\n" +
                                Repeat("Fail !! battery is still charging.\n", 3);
    const std::string retry = "Retry to write EC RAM again!\n";
    const Case cases[] = {
        {"EC RAM, slow EC", 0, kRamByte, 11, offPass + retry + offPass + retry + offPass},
        {"0x4F8, no answer", 1, kTypeByte, 3, "Set battery to discharging state\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        smbios::testing::SetMachineType(c.machineType);
        Arm(c.byte, 0x05, 1);
        if (c.machineType == 0) {
            nb().ec.latencyMs = 25;
        } else {
            nb().ec.faults[sim::EcModel::k25C].obfNever = true;
        }
        EXPECT_FALSE(Diag_SetBatteryChargeEnabled(false));
        EXPECT_EQ(nb().chargeSwitch.Writes(c.byte), 0);
        EXPECT_EQ(nb().chargeSwitch.Value(c.byte), 0x05);
        EXPECT_EQ(nb().ec.writesFromUnansweredReads, 0);
        EXPECT_EQ(SecondPauses(), c.secondPauses);
        EXPECT_EQ(Output(), c.output);
        nb().ec.latencyMs = 0;
        nb().ec.faults = {};
    }
}

// A dead EC answers nothing; the floating bus reads 0xFF, which has bit 6
// set. Switching charging off must not count that as the switch made.
TEST_F(ChargeControlTest, DeadEcIsNeverASuccessfulSwitchOff) {
    for (auto& faults : nb().ec.faults) faults.ibfStuck = true;
    for (std::int32_t type : {0, 1}) {
        SCOPED_TRACE(type);
        smbios::testing::SetMachineType(type);
        EXPECT_FALSE(Diag_SetBatteryChargeEnabled(false));
        EXPECT_FALSE(Diag_SetBatteryChargeEnabled(true));
    }
    EXPECT_EQ(Output().find("Success"), std::string::npos);
}

}  // namespace
}  // namespace hwtk3::test
