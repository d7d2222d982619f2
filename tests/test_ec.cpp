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

// The operations of the command channels, each as a callable that tells
// whether it went through.
struct Operation {
    const char* name;
    bool (*run)();
};
const Operation kOperations[] = {
    {"Ec25CRead", [] {
         std::uint8_t value = 0;
         const bool ok = ec::Ec25CRead(0x04F8, value);
         return ok && value != ec::kNoAnswer;
     }},
    {"Ec25CWrite", [] { return ec::Ec25CWrite(0x04F8, 0x1A); }},
    {"Fan0DutyWrite", [] { return ec::Fan0DutyWrite(0xFA).taken; }},
    {"TachometerRead68", [] {
         std::uint8_t high = 0, low = 0;
         return ec::TachometerRead68(high, low);
     }},
    {"Ec62Read", [] {
         std::uint8_t value = 0;
         return ec::Ec62Read(0xD2, value);
     }},
    {"Ec62ReadAnswered", [] {
         std::uint8_t value = 0;
         return ec::Ec62ReadAnswered(0xD2, value);
     }},
    {"Ec62Write", [] { return ec::Ec62Write(0xD2, 0x40); }},
};

// An EC that never takes a byte, never answers, or is not there (the bus
// floats: 0xFF on every port, IBF and OBF both set): each exchange ends
// within its one budget (its fixed pauses on 0x62/0x66 on top), writes
// nothing to a channel that never took a byte, and its drain reads at most
// 32 bytes of a floating bus.
TEST_F(EcChannelTest, DeadEcCostsOneBudgetPerExchange) {
    nb().fan.Install(sim::FanModel::Map::MachineType);
    nb().ec.SetCommand(sim::EcModel::k68, 0x23, 0, [](const auto&) { return sim::EcModel::Bytes{1, 2}; });
    struct Case {
        const char* fault;
        sim::EcModel::ChannelFaults faults;
    };
    const Case cases[] = {
        {"IBF stuck", {true, false, false}},
        {"OBF never", {false, true, false}},
        {"floating", {false, false, true}},
    };
    for (const Case& c : cases) {
        for (const Operation& op : kOperations) {
            SCOPED_TRACE(std::string(c.fault) + ", " + op.name);
            nb().ec.faults.fill(c.faults);
            nb().trace.Clear();
            const std::string name = op.name;
            // Without OBF a write goes through, and so does the EC RAM read
            // that takes the data port without looking; only the waits for
            // an answer run out.
            const bool waitsForAnswer = name == "Ec25CRead" || name == "TachometerRead68";
            const bool through = c.faults.obfNever && !waitsForAnswer && name != "Ec62ReadAnswered";
            EXPECT_EQ(op.run(), through);
            std::uint64_t fixed = 0;
            for (std::uint32_t ms : nb().trace.Sleeps()) fixed += ms == ec::kPollPauseMs ? 0 : ms;
            const bool runsOut = !c.faults.obfNever || waitsForAnswer;
            EXPECT_EQ(nb().trace.SleepTotalMs(), (runsOut ? ec::kExchangeBudgetMs : 0) + fixed);
            int writes = 0, dataReads = 0;
            for (const sim::Event& e : nb().trace.Events()) {
                if (e.kind == sim::Event::Kind::PortWrite) ++writes;
                if (e.kind == sim::Event::Kind::PortRead && (e.a == 0x62 || e.a == 0x25C || e.a == 0x68)) ++dataReads;
            }
            if (!c.faults.obfNever) EXPECT_EQ(writes, 0);
            EXPECT_LE(dataReads, ec::kMaxStaleBytes + 1);
            if (c.faults.floating) EXPECT_EQ(dataReads, ec::kMaxStaleBytes);
            EXPECT_EQ(nb().ec.bytesWhileBusy, 0);
        }
    }
}

// One budget for the whole exchange, not one per wait: an EC that takes
// every byte (and hands out every answer) L ms late is still served while
// the exchange's waits add up to 500 ms, and given up on once they would
// not. A budget per wait would take the slower EC's answer after 520 ms.
TEST_F(EcChannelTest, AllWaitsOfAnExchangeShareOneBudget) {
    struct Case {
        const char* operation;
        std::uint32_t latencyMs;
        bool through;
        std::uint64_t pausedMs;
    };
    const Case cases[] = {
        {"Ec25CRead", 100, true, 400},   // command, two address bytes, then the answer 2 × 100 after the last
        {"Ec25CRead", 125, true, 500},   // answered at the last poll the budget allows
        {"Ec25CRead", 130, false, 500},  // the answer would come at 520
        {"Ec62Write", 166, true, 332},   // 1 ms pauses among the 5 ms polls
        {"Ec62Write", 250, false, 497},  // the last pause that fits ends at 497
        // The EC RAM read does not wait after the index: its fixed pauses
        // come on top of the budget, and once a wait has run out they are
        // skipped.
        {"Ec62ReadAnswered", 495, false, 515},
        {"Ec62ReadAnswered", 600, false, 500},
    };
    nb().ec.Ram(0x04F8) = 0x5A;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.operation << ", " << c.latencyMs << " ms per byte");
        nb().ec.latencyMs = c.latencyMs;
        nb().Sleep(2000);  // nothing of the last case left pending
        nb().trace.Clear();
        const Operation* op = nullptr;
        for (const Operation& o : kOperations) {
            if (std::string(o.name) == c.operation) op = &o;
        }
        ASSERT_NE(op, nullptr);
        EXPECT_EQ(op->run(), c.through);
        EXPECT_EQ(nb().trace.SleepTotalMs(), c.pausedMs);
        EXPECT_EQ(nb().ec.bytesWhileBusy, 0);
    }
}

// The budget is time: on a Windows timer a 5 ms pause lasts 15.6 ms or
// more, and the exchange still ends within 500 ms, not 100 pauses (1.6 s)
// later. And should the clock stand still, the count of pauses ends it.
TEST_F(EcChannelTest, BudgetIsTimeWithAPollCountBackstop) {
    for (auto& faults : nb().ec.faults) faults.ibfStuck = true;
    nb().ec.accessCeiling = 1000;  // a wait without a backstop would end here, not hang
    struct Case {
        const char* clock;
        platform::testing::SleepHook sleep;
        platform::testing::TickCountHook tick;
        int pauses;
        std::uint64_t elapsedMs;
    };
    const Case cases[] = {
        {"coarse timer", [](platform::DWORD, void*) { sim::Current().Sleep(16); },
         [](void*) { return sim::Current().clock.NowMs(); }, 31, 496},
        {"clock standing still", [](platform::DWORD ms, void*) { sim::Current().Sleep(ms); },
         [](void*) { return std::uint64_t{7}; }, ec::kExchangePollLimit, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clock);
        platform::testing::SetSleepHook(c.sleep, nullptr, c.tick);
        nb().trace.Clear();
        nb().ec.ResetAccessCount();
        const std::uint64_t start = nb().clock.NowMs();
        std::uint8_t value = 0;
        EXPECT_FALSE(ec::Ec25CRead(0x04F8, value));
        EXPECT_EQ(static_cast<int>(nb().trace.Sleeps().size()), c.pauses);
        EXPECT_EQ(nb().clock.NowMs() - start, c.elapsedMs);
    }
    // The firmware read's counted waits: 500 polls of 1 ms, and no longer
    // than their 500 ms on a coarse timer either.
    const Case counted[] = {
        {"coarse timer", [](platform::DWORD, void*) { sim::Current().Sleep(16); },
         [](void*) { return sim::Current().clock.NowMs(); }, 32, 512},
        {"clock standing still", [](platform::DWORD ms, void*) { sim::Current().Sleep(ms); },
         [](void*) { return std::uint64_t{7}; }, 500, 500},
    };
    for (const Case& c : counted) {
        SCOPED_TRACE(std::string("counted wait, ") + c.clock);
        platform::testing::SetSleepHook(c.sleep, nullptr, c.tick);
        nb().trace.Clear();
        const std::uint64_t start = nb().clock.NowMs();
        EXPECT_EQ(ec::WaitIBFTimeout(500), -1);
        EXPECT_EQ(static_cast<int>(nb().trace.Sleeps().size()), c.pauses);
        EXPECT_EQ(nb().clock.NowMs() - start, c.elapsedMs);
    }
}

// The drain's share of an exchange: at most 32 stale bytes, and none once
// the exchange's budget is spent, by time (a 5 ms pause that lasted a
// Windows timer tick) or by its count of polls (a clock standing still).
TEST_F(EcChannelTest, DrainStopsAtItsCapAndAtTheDeadline) {
    struct Case {
        const char* name;
        std::uint32_t elapsedMs;
        int pauses;
        int taken;
        bool another;
    };
    const Case cases[] = {
        {"31 dropped", 0, 0, 31, true},
        {"32 dropped", 0, 0, 32, false},
        {"1 ms of the budget left", ec::kExchangeBudgetMs - 1, 0, 0, true},
        {"the budget spent in time", ec::kExchangeBudgetMs, 0, 0, false},
        {"one poll left", 0, ec::kExchangePollLimit - 1, 0, true},
        {"every poll made, the clock standing still", 0, ec::kExchangePollLimit, 0, false},
    };
    // Pauses that take no time, so the count of polls alone runs out.
    platform::testing::SetSleepHook([](platform::DWORD, void*) {}, nullptr,
                                    [](void*) { return sim::Current().clock.NowMs(); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ec::ExchangeDeadline deadline;
        nb().clock.Advance(c.elapsedMs);
        for (int i = 0; i < c.pauses; ++i) deadline.PollPause(ec::kPollPauseMs);
        for (int i = 0; i < c.taken; ++i) ASSERT_TRUE(deadline.TakeStaleByte()) << i;
        EXPECT_EQ(deadline.TakeStaleByte(), c.another);
    }
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
