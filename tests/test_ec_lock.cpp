// Two host threads driving the same EC command channel at once: the EC
// lock keeps every exchange whole, so the EC never sees a byte of one
// exchange inside another and both threads read what they wrote.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/sync.h"
#include "platform/testing.h"
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

// The shared EC mutex: a failed creation is tried again by the next
// transaction, and the handle is closed when the binding is released, so
// binding and releasing again and again holds at most one handle.
class CountingMutexes : public platform::testing::NamedMutexHost {
public:
    platform::HANDLE Create(const char* name) override {
        names.push_back(name);
        if (failures > 0) {
            --failures;
            return nullptr;
        }
        ++open;
        return &token;
    }
    platform::DWORD Wait(platform::HANDLE, platform::DWORD) override {
        ++waits;
        return platform::kWaitObject0;
    }
    platform::BOOL Release(platform::HANDLE) override {
        ++releases;
        return 1;
    }
    bool Close(platform::HANDLE handle) override {
        if (handle != &token) return false;
        --open;
        return true;
    }
    int failures = 0;
    int open = 0;
    int waits = 0;
    int releases = 0;
    std::vector<std::string> names;
    int token = 0;
};

TEST_F(EcLockTest, SharedMutexIsRetriedAndClosedWithTheBinding) {
    CountingMutexes mutexes;
    mutexes.failures = 1;
    struct Installed {
        explicit Installed(CountingMutexes* host) { platform::testing::SetNamedMutexHost(host); }
        ~Installed() {
            Diag_FreeHWIO();
            platform::testing::SetNamedMutexHost(nullptr);
        }
    } installed(&mutexes);
    Bind();
    nb().ec.Ram(0xD2) = 0x05;
    EXPECT_EQ(Diag_GetBatteryChargeState(), 0x05);  // goes ahead without it
    EXPECT_EQ(mutexes.open, 0);
    EXPECT_EQ(mutexes.waits, 0);
    EXPECT_EQ(Diag_GetBatteryChargeState(), 0x05);  // asks again and gets it
    EXPECT_EQ(mutexes.open, 1);
    EXPECT_EQ(mutexes.waits, 1);
    EXPECT_EQ(mutexes.releases, 1);
    for (int i = 0; i < 3; ++i) {
        Diag_FreeHWIO();
        EXPECT_EQ(mutexes.open, 0);
        ASSERT_EQ(Diag_InitHWIO(), 1);
        Diag_GetBatteryChargeState();
        EXPECT_EQ(mutexes.open, 1);
    }
    EXPECT_EQ(mutexes.names, std::vector<std::string>(5, "Global\\Access_EC"));
    Diag_FreeHWIO();
    EXPECT_EQ(mutexes.open, 0);
}

// "Global\Access_EC" is asked for once per EC session: one export, or one
// phase of an export between its long pauses, not once per exchange or
// window access. A healthy EC, so each count is the export's sessions.
TEST_F(EcLockTest, SharedMutexIsAskedForOncePerSession) {
    CountingMutexes mutexes;
    platform::testing::SetNamedMutexHost(&mutexes);
    struct Case {
        const char* name;
        sim::FanModel::Map map;
        std::int32_t machineType;
        int (*call)();
        int sessions;
    };
    using Map = sim::FanModel::Map;
    const Case cases[] = {
        // Before the firmware text is read: the PWM path.
        {"Diag_FanCpu, PWM", Map::Pwm, 0, [] {
             int rpm = 60, t = 0;
             return Diag_FanCpu(3000, 0, &rpm, &t, true) ? 1 : 0;
         }, 2},
        {"Diag_GetECFirmwareVer2", Map::Zlkd, 0, [] {
             char text[32];
             return Diag_GetECFirmwareVer2(text, 31);
         }, 1},
        {"Diag_GetFanCurState2 (four window reads)", Map::Pwm, 0, [] {
             tFanState state{};
             return Diag_GetFanCurState2(&state);
         }, 1},
        {"Diag_SetFanManual2, Fan0 flag read and write", Map::MachineType, 1, [] { return Diag_SetFanManual2(1); }, 1},
        {"Diag_FanCpu, ZLKD", Map::Zlkd, 0, [] {
             int rpm = 0, t = 0;
             return Diag_FanCpu(3000, 0, &rpm, &t, true) ? 1 : 0;
         }, 3},
        {"Diag_FanCpu, machine type", Map::MachineType, 1, [] {
             int rpm = 0, t = 0;
             return Diag_FanCpu(3000, 0, &rpm, &t, true) ? 1 : 0;
         }, 3},
        {"Diag_SetBatteryChargeEnabled, 0x4F8 read, write, read-back", Map::MachineType, 1,
         [] { return Diag_SetBatteryChargeEnabled(true) ? 1 : 0; }, 1},
        {"Diag_SetBatteryChargeEnabled, 0xD2 read and write, then a read-back", Map::Zlkd, 0,
         [] { return Diag_SetBatteryChargeEnabled(true) ? 1 : 0; }, 2},
    };
    Bind();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nb().fan.Install(c.map);
        smbios::testing::SetMachineType(c.machineType);
        mutexes.waits = 0;
        mutexes.releases = 0;
        EXPECT_EQ(c.call(), 1);
        EXPECT_EQ(mutexes.waits, c.sessions);
        EXPECT_EQ(mutexes.releases, c.sessions);
    }
    Diag_FreeHWIO();
    platform::testing::SetNamedMutexHost(nullptr);
}

}  // namespace
}  // namespace hwtk3::test
