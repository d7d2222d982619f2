// Two host threads driving the same EC command channel at once: the EC
// lock keeps every exchange whole, so the EC never sees a byte of one
// exchange inside another and both threads read what they wrote.
#include <atomic>
#include <thread>

#include "sim/scenario.h"
#include "smbios/identity.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

constexpr int kRounds = 2000;

class EcLockTest : public NotebookTest {};

TEST_F(EcLockTest, FanAndChargeThreadsOnOneChannelNeverInterleave) {
    ASSERT_TRUE(sim::ApplyScenarios(nb(), "machine-type"));
    smbios::testing::SetMachineType(1);  // fan flag and charge switch both on 0x25C/0x25D
    Bind();
    std::atomic<int> fanFailures{0};
    std::atomic<int> chargeFailures{0};
    std::atomic<int> started{0};
    auto startTogether = [&started] {
        ++started;
        while (started.load() < 2) std::this_thread::yield();
    };

    std::thread fan([&] {
        startTogether();
        for (int i = 0; i < kRounds; ++i) {
            if (Diag_SetFanManual2(i % 2) != 1) ++fanFailures;
        }
    });
    std::thread charge([&] {
        startTogether();
        for (int i = 0; i < kRounds; ++i) {
            if (!Diag_SetBatteryChargeEnabled(true) || !Diag_IsBatteryChargeEnabled()) ++chargeFailures;
        }
    });
    fan.join();
    charge.join();

    EXPECT_EQ(fanFailures.load(), 0);
    EXPECT_EQ(chargeFailures.load(), 0);
    // An interleaved exchange shows up at the EC as a command cut short by
    // another, a parameter byte nobody asked for, or a wrong read-back.
    EXPECT_EQ(nb().ec.strayDataBytes, 0);
    EXPECT_EQ(nb().ec.unknownCommands, 0);
    EXPECT_EQ(nb().ec.bytesWhileBusy, 0);
    EXPECT_EQ(nb().chargeSwitch.Writes(sim::ChargeSwitch::kMachineTypeByte), kRounds);
}

// Diag_FreeHWIO on one thread while another runs EC transactions: the
// binding changes under the lock the transactions hold, so no port access
// reaches the port-I/O library after it was deinitialised (or, worse,
// after it was unloaded), and every read that claims an answer has one.
TEST_F(EcLockTest, BindingIsNeverTornDownUnderATransaction) {
    ASSERT_TRUE(sim::ApplyScenarios(nb(), "machine-type"));
    smbios::testing::SetMachineType(1);
    nb().chargeSwitch.Set(sim::ChargeSwitch::kMachineTypeByte, 0x05);
    Bind();
    std::atomic<bool> done{false};
    std::atomic<int> wrongAnswers{0};
    std::thread binding([&] {
        for (int i = 0; i < kRounds / 4; ++i) {
            Diag_FreeHWIO();
            Diag_InitHWIO();
        }
        done = true;
    });
    std::thread reader([&] {
        while (!done.load()) {
            // true only with the binding up and the EC's answer (bit 6 clear)
            if (!Diag_IsBatteryChargeEnabled() && Diag_GetBatteryChargeState() == 0x45) ++wrongAnswers;
        }
    });
    binding.join();
    reader.join();
    EXPECT_EQ(nb().driver.accessesUninitialized, 0);
    EXPECT_EQ(wrongAnswers.load(), 0);
    EXPECT_EQ(nb().ec.bytesWhileBusy, 0);
}

}  // namespace
}  // namespace hwtk3::test
