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
    EXPECT_EQ(ec::Ec62Read(0xD2), 0x41);
    EXPECT_EQ(nb().trace.Lines(), (Lines{"in 66 00", "out 66 80", "sleep 10", "in 66 00",
                                         "out 62 d2", "sleep 20", "in 62 41"}));
}

TEST_F(EcChannelTest, Ec62ReadOfSlowEcReturnsWhatTheDataPortHolds) {
    nb().ec.Ram(0xD2) = 0x41;
    nb().ec.latencyMs = 25;  // the answer comes after the 20 ms the read waits
    const std::uint8_t stale = ec::Ec62Read(0xD2);
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
    EXPECT_EQ(ec::Ec25CRead(0x04F8), 0x5A);
    EXPECT_EQ(nb().trace.PortLines(),
              (Lines{"in 25d 00", "out 25d 80", "in 25d 00", "out 25c 04", "in 25d 00", "out 25c f8",
                     "in 25d 01", "in 25c 5a"}));
    nb().trace.Clear();
    ec::Ec25CWrite(0x04F8, 0x1A);
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
        {[] { EXPECT_EQ(ec::Fan0ControlFlagRead(), 0x80); }, {"out 25d 94", "out 25c 21"}},
        {[] { ec::Fan0ControlFlagWrite(0x7F); }, {"out 25d 95", "out 25c 21", "out 25c 7f"}},
        {[] { ec::Fan0DutyWrite(0xFA); }, {"out 25d 84", "out 25c 00", "out 25c fa"}},
        {[] { EXPECT_EQ(ec::CpuTemperatureRead25C(), 0xFF); }, {"out 25d 90", "out 25c a0"}},
        {[] {
             std::uint8_t high = 0, low = 0;
             ec::TachometerRead68(high, low);
             EXPECT_EQ(high, 0x0F);
             EXPECT_EQ(low, 0x5F);
         },
         {"out 6c 23"}},
        {[] { EXPECT_EQ(ec::CpuTemperatureRead68(), 45); }, {"out 6c 2d"}},
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
    ec::CpuTemperatureRead68();
    EXPECT_EQ(nb().trace.Count(sim::Event::Kind::PortRead, 0x68), 3);
    EXPECT_EQ(nb().ec.bytesWhileBusy, 0);
    EXPECT_EQ(nb().ec.strayDataBytes, 0);
}

TEST_F(EcChannelTest, WindowsMakeThreeAccessesAndNoStatusRead) {
    nb().ec.Ram(0xF451) = 0x33;
    EXPECT_EQ(ec::WindowRead(ec::EcRamWindowFD61, 0xF451), 0x33);
    EXPECT_EQ(nb().trace.Lines(), (Lines{"out fd61 f4", "out fd62 51", "in fd63 33"}));
    nb().trace.Clear();
    ec::WindowWrite(ec::EcRamWindow381, 0xF463, 100);
    EXPECT_EQ(nb().trace.Lines(), (Lines{"out 381 f4", "out 382 63", "out 383 64"}));
    EXPECT_EQ(nb().ec.Ram(0xF463), 100);
}

TEST_F(EcChannelTest, SlowEcIsPolledEveryFiveMsAndNeverOverrun) {
    nb().ec.latencyMs = 12;
    nb().ec.Ram(0x04F8) = 0x77;
    EXPECT_EQ(ec::Ec25CRead(0x04F8), 0x77);
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
    EXPECT_EQ(ec::Ec25CRead(0x04F8), ec::kNoAnswer);
    EXPECT_EQ(nb().trace.SleepTotalMs(), 500u);
    EXPECT_EQ(nb().trace.Count(sim::Event::Kind::PortWrite, 0x25D), 0);

    nb().trace.Clear();
    EXPECT_EQ(ec::Ec62Read(0xD2), ec::kNoAnswer);
    ec::Ec62Write(0xD2, 1);
    EXPECT_EQ(nb().trace.SleepTotalMs(), 1000u);
    EXPECT_EQ(nb().trace.Count(sim::Event::Kind::PortWrite, 0x66), 0);

    for (auto& faults : nb().ec.faults) faults = {false, true};
    nb().trace.Clear();
    std::uint8_t high = 0, low = 0;
    nb().ec.SetCommand(sim::EcModel::k68, 0x23, 0, [](const auto&) { return sim::EcModel::Bytes{1, 2}; });
    ec::TachometerRead68(high, low);
    EXPECT_EQ(high, ec::kNoAnswer);
    EXPECT_EQ(low, ec::kNoAnswer);
    EXPECT_EQ(nb().trace.SleepTotalMs(), 500u);
}

}  // namespace
}  // namespace hwtk3::test
