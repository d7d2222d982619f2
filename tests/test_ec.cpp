// EC channels: byte-exact port traces, waits and their pauses.
#include <string>
#include <vector>

#include "hwio/ec.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using Lines = std::vector<std::string>;

class EcChannelTest : public NotebookTest {
protected:
    void SetUp() override {
        NotebookTest::SetUp();
        Bind();
    }
};

TEST_F(EcChannelTest, Ec62ReadTakesDataPortTwentyMsAfterIndexWithoutObfWait) {
    nb().ec.Ram(0xD2) = 0x41;
    std::uint8_t value = 0;
    EXPECT_TRUE(ec::Ec62Read(0xD2, value));
    EXPECT_EQ(value, 0x41);
    EXPECT_EQ(nb().trace.Lines(), (Lines{"in 66 00", "out 66 80", "sleep 10", "in 66 00",
                                         "out 62 d2", "sleep 20", "in 62 41"}));
}

TEST_F(EcChannelTest, Ec62ReadOfSlowEcReturnsWhatTheDataPortHolds) {
    nb().ec.Ram(0xD2) = 0x41;
    nb().ec.latencyMs = 25;  // the answer comes after the 20 ms the read waits
    std::uint8_t stale = 0;
    EXPECT_TRUE(ec::Ec62Read(0xD2, stale));  // the index went out: the port's byte, whatever it is
    EXPECT_NE(stale, 0x41);
    EXPECT_EQ(nb().trace.Count(sim::Event::Kind::PortRead, 0x62), 1);
}

TEST_F(EcChannelTest, Ec62WriteSequence) {
    ec::Ec62Write(0xD2, 0x40);
    EXPECT_EQ(nb().trace.Lines(), (Lines{"in 66 00", "out 66 81", "sleep 1", "in 66 00", "out 62 d2",
                                         "sleep 1", "in 66 00", "out 62 40"}));
    EXPECT_EQ(nb().ec.Ram(0xD2), 0x40);
}

TEST_F(EcChannelTest, Ec25CAccessSplitsTheAddressHighByteFirst) {
    nb().ec.Ram(0x04F8) = 0x5A;
    std::uint8_t value = 0;
    EXPECT_TRUE(ec::Ec25CRead(0x04F8, value));
    EXPECT_EQ(value, 0x5A);
    EXPECT_EQ(nb().trace.PortLines(),
              (Lines{"in 25d 00", "out 25d 80", "in 25d 00", "out 25c 04", "in 25d 00", "out 25c f8",
                     "in 25d 01", "in 25c 5a"}));
    nb().trace.Clear();
    EXPECT_TRUE(ec::Ec25CWrite(0x04F8, 0x1A));
    EXPECT_EQ(nb().trace.PortLines(),
              (Lines{"in 25d 00", "out 25d 81", "in 25d 00", "out 25c 04", "in 25d 00", "out 25c f8",
                     "in 25d 00", "out 25c 1a"}));
    EXPECT_EQ(nb().ec.Ram(0x04F8), 0x1A);
}

TEST_F(EcChannelTest, FixedExchangesSendTheirCommandAndIndexBytes) {
    struct Case {
        void (*run)();
        Lines writes;
    };
    nb().ec.SetCommand(sim::EcModel::k25C, 0x94, 1, [](const auto&) { return sim::EcModel::Bytes{0x80}; });
    nb().ec.SetCommand(sim::EcModel::k25C, 0x95, 2, [](const auto&) { return sim::EcModel::Bytes{}; });
    nb().ec.SetCommand(sim::EcModel::k25C, 0x84, 2, [](const auto&) { return sim::EcModel::Bytes{}; });
    nb().ec.SetCommand(sim::EcModel::k25C, 0x90, 1, [](const auto&) { return sim::EcModel::Bytes{0xFF}; });
    nb().ec.SetCommand(sim::EcModel::k68, 0x23, 0, [](const auto&) { return sim::EcModel::Bytes{0x0F, 0x5F}; });
    nb().ec.SetCommand(sim::EcModel::k68, 0x2D, 0, [](const auto&) { return sim::EcModel::Bytes{45, 1, 2}; });
    const Case cases[] = {
        {[] {
             std::uint8_t flag = 0;
             EXPECT_TRUE(ec::Fan0ControlFlagRead(flag));
             EXPECT_EQ(flag, 0x80);
         },
         {"out 25d 94", "out 25c 21"}},
        {[] { EXPECT_TRUE(ec::Fan0ControlFlagWrite(0x7F).taken); }, {"out 25d 95", "out 25c 21", "out 25c 7f"}},
        {[] { EXPECT_TRUE(ec::Fan0DutyWrite(0xFA).taken); }, {"out 25d 84", "out 25c 00", "out 25c fa"}},
        {[] {
             std::uint8_t temperature = 0;
             EXPECT_TRUE(ec::CpuTemperatureRead25C(temperature));
             EXPECT_EQ(temperature, 0xFF);
         },
         {"out 25d 90", "out 25c a0"}},
        {[] {
             std::uint8_t high = 0, low = 0;
             EXPECT_TRUE(ec::TachometerRead68(high, low));
             EXPECT_EQ(high, 0x0F);
             EXPECT_EQ(low, 0x5F);
         },
         {"out 6c 23"}},
        {[] {
             std::uint8_t temperature = 0;
             EXPECT_TRUE(ec::CpuTemperatureRead68(temperature));
             EXPECT_EQ(temperature, 45);
         },
         {"out 6c 2d"}},
    };
    for (const Case& c : cases) {
        nb().trace.Clear();
        c.run();
        Lines writes;
        for (const sim::Event& e : nb().trace.Events()) {
            if (e.kind == sim::Event::Kind::PortWrite) writes.push_back(sim::Describe(e));
        }
        EXPECT_EQ(writes, c.writes);
    }
    // All three temperature bytes are taken from the ZLKD EC.
    nb().trace.Clear();
    std::uint8_t temperature = 0;
    ec::CpuTemperatureRead68(temperature);
    EXPECT_EQ(nb().trace.Count(sim::Event::Kind::PortRead, 0x68), 3);
    EXPECT_EQ(nb().ec.bytesWhileBusy, 0);
    EXPECT_EQ(nb().ec.strayDataBytes, 0);
}

TEST_F(EcChannelTest, WindowsMakeThreeAccessesAndNoStatusRead) {
    nb().fan.Install(sim::FanModel::Map::Amd);
    nb().ec.Ram(0xF440) = 0x33;
    EXPECT_EQ(ec::WindowRead(ec::EcRamWindowFD61, 0xF440), 0x33);
    EXPECT_EQ(nb().trace.Lines(), (Lines{"out fd61 f4", "out fd62 40", "in fd63 33"}));
    nb().fan.Install(sim::FanModel::Map::Pwm);
    nb().trace.Clear();
    ec::WindowWrite(ec::EcRamWindow381, 0xF463, 100);
    EXPECT_EQ(nb().trace.Lines(), (Lines{"out 381 f4", "out 382 63", "out 383 64"}));
    EXPECT_EQ(nb().ec.Ram(0xF463), 100);
}

// Each register map's EC decodes only its own window, so a fan export that
// used the wrong one would read 0xFF and write nowhere.
TEST_F(EcChannelTest, EachMapAnswersOnItsOwnWindowOnly) {
    nb().ec.Ram(0xF440) = 0x33;
    nb().fan.Install(sim::FanModel::Map::Pwm);
    EXPECT_EQ(ec::WindowRead(ec::EcRamWindow381, 0xF440), 0x33);
    EXPECT_EQ(ec::WindowRead(ec::EcRamWindowFD61, 0xF440), 0xFF);
    ec::WindowWrite(ec::EcRamWindowFD61, 0xF440, 0x44);
    nb().fan.Install(sim::FanModel::Map::Amd);
    EXPECT_EQ(ec::WindowRead(ec::EcRamWindowFD61, 0xF440), 0x33);
    EXPECT_EQ(ec::WindowRead(ec::EcRamWindow381, 0xF440), 0xFF);
    nb().fan.Install(sim::FanModel::Map::Zlkd);
    EXPECT_EQ(ec::WindowRead(ec::EcRamWindowFD61, 0xF440), 0xFF);
    EXPECT_EQ(ec::WindowRead(ec::EcRamWindow381, 0xF440), 0xFF);
}

TEST_F(EcChannelTest, SlowEcIsPolledEveryFiveMsAndNeverOverrun) {
    nb().ec.latencyMs = 12;
    nb().ec.Ram(0x04F8) = 0x77;
    std::uint8_t value = 0;
    EXPECT_TRUE(ec::Ec25CRead(0x04F8, value));
    EXPECT_EQ(value, 0x77);
    for (std::uint32_t ms : nb().trace.Sleeps()) EXPECT_EQ(ms, 5u);
    // Command and address high byte: 15 ms of polling each before the next
    // byte; the answer comes 12 ms after the low byte is taken (itself 12 ms
    // after it was written), found by the poll at 25 ms.
    EXPECT_EQ(nb().trace.SleepTotalMs(), 55u);
    EXPECT_EQ(nb().ec.bytesWhileBusy, 0);
}

TEST_F(EcChannelTest, CountedWaitsReadAtMostCountTimes) {
    EXPECT_EQ(ec::WaitIBFTimeout(500), 0);
    EXPECT_EQ(nb().trace.Lines(), (Lines{"in 66 00"}));

    nb().trace.Clear();
    EXPECT_EQ(ec::WaitIBFTimeout(0), -1);
    EXPECT_EQ(nb().trace.Events().size(), 0u);

    nb().ec.faults[sim::EcModel::k62].ibfStuck = true;
    EXPECT_EQ(ec::WaitIBFTimeout(500), -1);
    EXPECT_EQ(nb().trace.Count(sim::Event::Kind::PortRead, 0x66), 500);
    EXPECT_EQ(nb().trace.Sleeps().size(), 500u);
    EXPECT_EQ(nb().trace.SleepTotalMs(), 500u);

    nb().trace.Clear();
    EXPECT_EQ(ec::WaitOBFTimeout(500), -1);  // nothing to hand out
    EXPECT_EQ(nb().trace.SleepTotalMs(), 500u);
}

// A wedged EC must not hang the host: the waits give up after 100 polls
// and the rest of the exchange is dropped.
TEST_F(EcChannelTest, WedgedEcCostsOneBoundedWaitPerExchange) {
    for (auto& faults : nb().ec.faults) faults.ibfStuck = true;
    std::uint8_t value = 0;
    EXPECT_FALSE(ec::Ec25CRead(0x04F8, value));
    EXPECT_EQ(value, ec::kNoAnswer);
    EXPECT_EQ(nb().trace.SleepTotalMs(), 500u);
    EXPECT_EQ(nb().trace.Count(sim::Event::Kind::PortWrite, 0x25D), 0);

    nb().trace.Clear();
    EXPECT_FALSE(ec::Ec62Read(0xD2, value));
    EXPECT_EQ(value, ec::kNoAnswer);
    EXPECT_FALSE(ec::Ec62Write(0xD2, 1));
    EXPECT_EQ(nb().trace.SleepTotalMs(), 1000u);
    EXPECT_EQ(nb().trace.Count(sim::Event::Kind::PortWrite, 0x66), 0);

    for (auto& faults : nb().ec.faults) faults = {false, true};
    nb().trace.Clear();
    std::uint8_t high = 0, low = 0;
    nb().ec.SetCommand(sim::EcModel::k68, 0x23, 0, [](const auto&) { return sim::EcModel::Bytes{1, 2}; });
    EXPECT_FALSE(ec::TachometerRead68(high, low));
    EXPECT_EQ(high, ec::kNoAnswer);
    EXPECT_EQ(low, ec::kNoAnswer);
    EXPECT_EQ(nb().trace.SleepTotalMs(), 500u);
}

// Ec62ReadAnswered looks at OBF once, just before the data read: a slow
// EC's data port still holds an older byte, which is no answer.
TEST_F(EcChannelTest, Ec62ReadAnsweredLooksAtObfBeforeTheDataRead) {
    nb().ec.Ram(0xD2) = 0x41;
    std::uint8_t value = 0;
    EXPECT_TRUE(ec::Ec62ReadAnswered(0xD2, value));
    EXPECT_EQ(value, 0x41);
    EXPECT_EQ(nb().trace.Lines(), (Lines{"in 66 00", "out 66 80", "sleep 10", "in 66 00", "out 62 d2",
                                         "sleep 20", "in 66 01", "in 62 41"}));

    nb().ec.latencyMs = 25;
    nb().ec.Ram(0xD2) = 0x07;
    nb().trace.Clear();
    EXPECT_FALSE(ec::Ec62ReadAnswered(0xD2, value));
    EXPECT_NE(value, 0x07);
    // No pause added for the look: the command and index pauses, and the
    // 5 ms polls of a busy EC.
    std::uint32_t fixed = 0;
    for (std::uint32_t ms : nb().trace.Sleeps()) {
        if (ms != ec::kPollPauseMs) fixed += ms;
    }
    EXPECT_EQ(fixed, 30u);
}

// A byte the EC hands out after the library gave up stays in the data port
// with OBF set. The next exchange on that channel reads and drops it in its
// opening wait instead of taking it for its own answer; a channel with
// nothing waiting keeps its exact sequence (the cases above).
TEST_F(EcChannelTest, LateAnswerIsDroppedByTheNextExchange) {
    nb().fan.Install(sim::FanModel::Map::MachineType);
    nb().ec.Ram(0x0500) = 0x12;
    nb().fan.cpuTemperature = 45;
    // The answer to the temperature read is withdrawn at the status read
    // that waits for it and comes back 501 ms later.
    std::uint8_t temperature = 0;
    nb().ec.ResetAccessCount();
    nb().ec.accessFault = {sim::EcModel::AccessFault::Kind::LateAt, 4};
    EXPECT_FALSE(ec::CpuTemperatureRead25C(temperature));
    nb().Sleep(200);  // the answer arrives during the pause after the read
    nb().ec.accessFault = {};
    nb().trace.Clear();

    std::uint8_t high = 0;
    EXPECT_TRUE(ec::Ec25CRead(0x0500, high));
    EXPECT_EQ(high, 0x12);  // not the 45 that came late
    const Lines lines = nb().trace.PortLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ((Lines{lines[0], lines[1], lines[2]}), (Lines{"in 25d 01", "in 25c 2d", "in 25d 00"}));
    EXPECT_EQ(lines[3], "out 25d 80");

    // The same on 0x62/0x66, for the plain read of the charge byte.
    nb().ec.Ram(0xD2) = 0x05;
    nb().ec.ResetAccessCount();
    nb().ec.accessFault = {sim::EcModel::AccessFault::Kind::LateAt, 4};  // the look at OBF
    std::uint8_t value = 0;
    EXPECT_FALSE(ec::Ec62ReadAnswered(0xD2, value));
    nb().Sleep(600);
    nb().ec.accessFault = {};
    nb().ec.Ram(0xD2) = 0x45;
    EXPECT_TRUE(ec::Ec62Read(0xD2, value));
    EXPECT_EQ(value, 0x45);
}

}  // namespace
}  // namespace hwtk3::test
