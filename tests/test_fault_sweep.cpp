// The fault sweep: every export that touches the EC ports or the port-I/O
// library, run once healthy and then once per fault and place. For every
// port access k of the healthy run: the EC goes silent from k on (no byte
// taken, or no answer handed out), the answer that access k waits for or
// takes is lost, or that answer comes after the library gave up on it; and
// for every call into the port-I/O library that can fail (InitializeOls,
// GetDllStatus, ReadPhysicalMemory), that call fails. Every run must:
//   - return within the export's bound on the notebook's clock;
//   - leave the EC differing from before only in bits the healthy run
//     changes, to the values the healthy run gives them;
//   - never write back a register byte read from the EC without its answer;
//   - claim success only when the EC holds what the healthy run leaves there
//     and the outputs are the healthy run's;
//   - leave nothing behind that spoils the next call once the EC is well
//     again (a late answer must not become the next exchange's answer).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hwio/ec_firmware.h"
#include "smbios/dmi_decode.h"
#include "smbios/identity.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using Map = sim::FanModel::Map;
using Kind = sim::EcModel::AccessFault::Kind;

struct Outcome {
    long long result = 0;
    std::vector<long long> outputs;
};

// What the EC holds: its RAM and the fan state kept outside it.
struct EcState {
    std::vector<std::uint8_t> ram;
    std::uint8_t fan0Flag = 0;
    std::uint8_t fan0Duty = 0;
    double targetRpm = 0;
};

EcState Snapshot(sim::Notebook& nb) {
    EcState state;
    state.ram.resize(0x10000);
    for (std::uint32_t a = 0; a < 0x10000; ++a) state.ram[a] = nb.ec.Ram(static_cast<std::uint16_t>(a));
    state.fan0Flag = nb.fan.fan0ControlFlag;
    state.fan0Duty = nb.fan.fan0Duty;
    state.targetRpm = nb.fan.TargetRpm();
    return state;
}

// Every bit of `after` is either as before or as the healthy run left it.
bool OnlyHealthyChanges(std::uint8_t before, std::uint8_t healthy, std::uint8_t after) {
    return ((after ^ before) & (after ^ healthy)) == 0;
}

struct Scenario {
    const char* name;
    Map map;
    std::int32_t machineType;
    bool bind;           // Diag_InitHWIO before the call
    bool readFirmware;   // Diag_GetECFirmwareVer2 before the call
    void (*prepare)(sim::Notebook&);
    Outcome (*call)();
    bool (*succeeded)(const Outcome&);  // nullptr: the result claims nothing
    std::uint32_t boundMs;              // documented in the README
    bool again = true;                  // a second call must go as after a healthy first one
};

void Nothing(sim::Notebook&) {}
void ChargeOn(sim::Notebook& nb) {  // charging on, other bits set to be noticed
    nb.chargeSwitch.Set(sim::ChargeSwitch::kRamByte, 0x05);
    nb.chargeSwitch.Set(sim::ChargeSwitch::kMachineTypeByte, 0x05);
}
void ChargeOff(sim::Notebook& nb) {
    nb.chargeSwitch.Set(sim::ChargeSwitch::kRamByte, 0x45);
    nb.chargeSwitch.Set(sim::ChargeSwitch::kMachineTypeByte, 0x45);
}

bool ResultIsOne(const Outcome& o) { return o.result == 1; }
bool ResultIsZero(const Outcome& o) { return o.result == 0; }

Outcome Ints(long long result, std::initializer_list<int> outputs) {
    Outcome o;
    o.result = result;
    for (int v : outputs) o.outputs.push_back(v);
    return o;
}

// Outputs start at a value no export produces, so one left alone shows.
constexpr int kUnset = -77777;

const Scenario kScenarios[] = {
    {"Diag_InitHWIO", Map::Zlkd, 0, false, false, Nothing, [] { return Ints(Diag_InitHWIO(), {}); },
     ResultIsOne, 0},
    {"Diag_FreeHWIO", Map::Zlkd, 0, true, false, Nothing,
     [] {
         Diag_FreeHWIO();
         return Ints(0, {});
     },
     nullptr, 0},
    {"Diag_GetECFirmwareVer2", Map::Zlkd, 0, true, false, Nothing,
     [] {
         char buffer[32];
         std::memset(buffer, 0x5A, sizeof buffer);
         Outcome o = Ints(Diag_GetECFirmwareVer2(buffer, 32), {});
         for (char c : buffer) o.outputs.push_back(c);
         for (const char* p = hwio::EcFirmwareVersion(); *p != '\0'; ++p) o.outputs.push_back(*p);
         return o;
     },
     ResultIsOne, 500},
    {"Diag_AMDSetFanRPM", Map::Amd, 0, true, false, Nothing, [] { return Ints(Diag_AMDSetFanRPM(3000), {}); },
     ResultIsOne, 10},
    {"Diag_AMDGetFanRPM", Map::Amd, 0, true, false, Nothing,
     [] {
         int rpm = kUnset;
         const int r = Diag_AMDGetFanRPM(&rpm);
         return Ints(r, {rpm});
     },
     ResultIsOne, 10},
    {"Diag_AMDGetCpuTemperature", Map::Amd, 0, true, false, Nothing,
     [] {
         int t = kUnset;
         const int r = Diag_AMDGetCpuTemperature(&t);
         return Ints(r, {t});
     },
     ResultIsOne, 10},
    {"Diag_FanState2", Map::Pwm, 0, true, false, Nothing,
     [] {
         int t = kUnset, rpm = kUnset;
         const bool r = Diag_FanState2(&t, &rpm);
         return Ints(r, {t, rpm});
     },
     ResultIsOne, 20},
    {"Diag_GetFanCurState2", Map::Pwm, 0, true, false, Nothing,
     [] {
         tFanState s{kUnset, 12345, 12345};
         const int r = Diag_GetFanCurState2(&s);
         return Ints(r, {s.manual, static_cast<int>(s.speed), static_cast<int>(s.rpm)});
     },
     ResultIsOne, 30},
    {"Diag_SetFanManual2 (EC RAM)", Map::Pwm, 0, true, false, Nothing,
     [] { return Ints(Diag_SetFanManual2(1), {}); }, ResultIsOne, 10},
    {"Diag_SetFanManual2 (Fan0 flag, manual)", Map::MachineType, 1, true, false, Nothing,
     [] { return Ints(Diag_SetFanManual2(1), {}); }, ResultIsOne, 510},
    {"Diag_SetFanManual2 (Fan0 flag, EC)", Map::MachineType, 1, true, false,
     [](sim::Notebook& nb) { nb.fan.fan0ControlFlag = 0x05; },
     [] { return Ints(Diag_SetFanManual2(0), {}); }, ResultIsOne, 510},
    {"Diag_SetFanSpeed2", Map::Pwm, 0, true, false, Nothing, [] { return Ints(Diag_SetFanSpeed2(60), {}); },
     ResultIsOne, 10},
    {"Diag_ZLKDGetCpuTemperature2", Map::Zlkd, 0, true, false, Nothing,
     [] {
         int t = kUnset;
         const int r = Diag_ZLKDGetCpuTemperature2(&t);
         return Ints(r, {t});
     },
     ResultIsOne, 510},
    {"Diag_ZLKDGetFanSpeed2", Map::Zlkd, 0, true, false, Nothing,
     [] {
         int rpm = kUnset;
         const int r = Diag_ZLKDGetFanSpeed2(&rpm);
         return Ints(r, {rpm});
     },
     ResultIsOne, 510},
    {"Diag_ZLKDSetFanSpeed2", Map::Zlkd, 0, true, false, Nothing,
     [] { return Ints(Diag_ZLKDSetFanSpeed2(3000), {}); }, ResultIsOne, 510},
    {"Diag_FanCpu (machine type)", Map::MachineType, 1, true, false, Nothing,
     [] {
         int rpm = kUnset, t = kUnset;
         const bool r = Diag_FanCpu(3000, 100, &rpm, &t, true);
         return Ints(r, {rpm, t});
     },
     ResultIsOne, 3700},
    {"Diag_FanCpu (ZLKD)", Map::Zlkd, 0, true, true, Nothing,
     [] {
         int rpm = kUnset, t = kUnset;
         const bool r = Diag_FanCpu(3000, 100, &rpm, &t, true);
         return Ints(r, {rpm, t});
     },
     ResultIsOne, 3720},
    {"Diag_FanCpu (PWM)", Map::Pwm, 0, true, false, Nothing,
     [] {
         int rpm = 60, t = kUnset;
         const bool r = Diag_FanCpu(3000, 100, &rpm, &t, true);
         return Ints(r, {rpm, t});
     },
     ResultIsOne, 3230},
    {"Diag_FanCpu (AMD)", Map::Amd, 0, true, false, Nothing,
     [] {
         int rpm = kUnset, t = kUnset;
         const bool r = Diag_FanCpu(3000, 100, &rpm, &t, false);
         return Ints(r, {rpm, t});
     },
     ResultIsOne, 3430},
    {"Diag_FanCpuGetValue (machine type)", Map::MachineType, 1, true, false, Nothing,
     [] {
         int rpm = kUnset, t = kUnset;
         const bool r = Diag_FanCpuGetValue(&rpm, &t, true);
         return Ints(r, {rpm, t});
     },
     ResultIsOne, 700},
    {"Diag_FanCpuGetValue (ZLKD)", Map::Zlkd, 0, true, true, Nothing,
     [] {
         int rpm = kUnset, t = kUnset;
         const bool r = Diag_FanCpuGetValue(&rpm, &t, true);
         return Ints(r, {rpm, t});
     },
     ResultIsOne, 710},
    {"Diag_FanCpuGetValue (PWM)", Map::Pwm, 0, true, false, Nothing,
     [] {
         int rpm = kUnset, t = kUnset;
         const bool r = Diag_FanCpuGetValue(&rpm, &t, true);
         return Ints(r, {rpm, t});
     },
     ResultIsOne, 220},
    {"Diag_FanCpuGetValue (AMD)", Map::Amd, 0, true, false, Nothing,
     [] {
         int rpm = kUnset, t = kUnset;
         const bool r = Diag_FanCpuGetValue(&rpm, &t, false);
         return Ints(r, {rpm, t});
     },
     ResultIsOne, 420},
    // The identity record is filled once per process, whatever the scan
    // found, so a second call does not go as after a healthy first one.
    {"Diag_FillDMIData(true)", Map::Zlkd, 0, false, false, Nothing,
     [] { return Ints(Diag_FillDMIData(true), {}); }, nullptr, 0, false},
    {"Diag_CheckMachine(true)", Map::Zlkd, 0, false, false, Nothing,
     [] {
         const bool r = Diag_CheckMachine(true);
         return Ints(r, {Diag_GetMachineType(), static_cast<int>(smbios::Dmi().SystemSku.size())});
     },
     ResultIsOne, 0, false},
    {"Diag_GetBatteryChargeState", Map::Zlkd, 0, true, false, ChargeOff,
     [] { return Ints(Diag_GetBatteryChargeState(), {}); }, nullptr, 510},
    {"Diag_SetBatteryChargeEnabled(false), EC RAM", Map::Zlkd, 0, true, false, ChargeOn,
     [] { return Ints(Diag_SetBatteryChargeEnabled(false), {}); }, ResultIsOne, 20456},
    {"Diag_SetBatteryChargeEnabled(true), EC RAM", Map::Zlkd, 0, true, false, ChargeOff,
     [] { return Ints(Diag_SetBatteryChargeEnabled(true), {}); }, ResultIsOne, 20456},
    {"Diag_SetBatteryChargeEnabled(false), 0x4F8", Map::MachineType, 1, true, false, ChargeOn,
     [] { return Ints(Diag_SetBatteryChargeEnabled(false), {}); }, ResultIsOne, 7500},
    {"Diag_SetBatteryChargeEnabled(true), 0x4F8", Map::MachineType, 1, true, false, ChargeOff,
     [] { return Ints(Diag_SetBatteryChargeEnabled(true), {}); }, ResultIsOne, 7500},
    {"Diag_IsBatteryChargeEnabled", Map::MachineType, 1, true, false, ChargeOn,
     [] { return Ints(Diag_IsBatteryChargeEnabled(), {}); }, ResultIsOne, 500},
};

struct SweepRun {
    Outcome outcome;
    EcState before;
    EcState after;
    std::uint64_t elapsedMs = 0;
    int accesses = 0;
    int failableCalls = 0;
    int writesFromUnansweredReads = 0;
    Outcome again;  // the second call, with the EC well again
};

class FaultSweepTest : public NotebookTest {
protected:
    // A freshly loaded library on a fresh notebook, prepared as the
    // scenario says, then the export under the fault.
    SweepRun RunOnce(const Scenario& s, sim::EcModel::AccessFault fault, int failCall) {
        ResetLibrary();
        sim::Notebook& nb = sim::ResetCurrent();
        nb.fan.Install(s.map);
        smbios::testing::SetMachineType(s.machineType);
        s.prepare(nb);
        if (s.bind) EXPECT_EQ(Diag_InitHWIO(), 1);
        if (s.readFirmware) {
            char text[32];
            EXPECT_EQ(Diag_GetECFirmwareVer2(text, 32), 1);
        }
        SweepRun run;
        run.before = Snapshot(nb);
        nb.ec.ResetAccessCount();
        nb.ec.accessFault = fault;
        nb.driver.failableCalls = 0;
        nb.driver.failCall = failCall;
        const std::uint64_t start = nb.clock.NowMs();
        run.outcome = s.call();
        run.elapsedMs = nb.clock.NowMs() - start;
        run.accesses = nb.ec.Accesses();
        run.failableCalls = nb.driver.failableCalls;
        run.writesFromUnansweredReads = nb.ec.writesFromUnansweredReads;
        run.after = Snapshot(nb);
        // The EC recovers; a late answer has long arrived.
        nb.ec.accessFault = {};
        nb.driver.failCall = -1;
        nb.Sleep(kRecoveryMs);
        if (s.again) run.again = s.call();
        return run;
    }

    // The checks every faulted run must pass against the healthy one.
    void Check(const Scenario& s, const SweepRun& healthy, const SweepRun& run, const std::string& what) {
        SCOPED_TRACE(std::string(s.name) + ", " + what);
        EXPECT_LE(run.elapsedMs, s.boundMs);
        EXPECT_LE(run.accesses, kAccessLimit);
        EXPECT_EQ(run.writesFromUnansweredReads, 0);
        int strayBytes = 0;
        for (std::size_t a = 0; a < run.after.ram.size(); ++a) {
            if (!OnlyHealthyChanges(run.before.ram[a], healthy.after.ram[a], run.after.ram[a])) ++strayBytes;
        }
        EXPECT_EQ(strayBytes, 0) << "EC RAM bytes changed beyond what the export may change";
        EXPECT_TRUE(OnlyHealthyChanges(run.before.fan0Flag, healthy.after.fan0Flag, run.after.fan0Flag));
        EXPECT_TRUE(OnlyHealthyChanges(run.before.fan0Duty, healthy.after.fan0Duty, run.after.fan0Duty));
        EXPECT_TRUE(run.after.targetRpm == run.before.targetRpm || run.after.targetRpm == healthy.after.targetRpm);
        EXPECT_EQ(run.again.result, healthy.again.result) << "second call after the fault";
        EXPECT_EQ(run.again.outputs, healthy.again.outputs) << "second call after the fault";
        if (s.succeeded != nullptr && s.succeeded(run.outcome)) {
            EXPECT_EQ(run.outcome.outputs, healthy.outcome.outputs) << "success with other outputs";
            EXPECT_TRUE(run.after.ram == healthy.after.ram) << "success without the EC holding it";
            EXPECT_EQ(run.after.fan0Flag, healthy.after.fan0Flag);
            EXPECT_EQ(run.after.fan0Duty, healthy.after.fan0Duty);
            EXPECT_EQ(run.after.targetRpm, healthy.after.targetRpm);
        }
    }

    static constexpr int kAccessLimit = 20000;
    static constexpr std::uint32_t kRecoveryMs = 1000;
};

TEST_F(FaultSweepTest, EveryExportUnderEveryFaultAtEveryPlace) {
    Capture();  // thousands of runs' lines; only the checks matter here
    int runs = 0;
    int places = 0;
    for (const Scenario& s : kScenarios) {
        const SweepRun healthy = RunOnce(s, {}, -1);
        {
            SCOPED_TRACE(s.name);
            if (s.succeeded != nullptr) EXPECT_TRUE(s.succeeded(healthy.outcome)) << "healthy run fails";
            EXPECT_LE(healthy.elapsedMs, s.boundMs);
        }
        Check(s, healthy, healthy, "healthy");
        ++runs;
        std::uint64_t longest = healthy.elapsedMs;
        int scenarioRuns = 1;
        for (int k = 0; k < healthy.accesses; ++k) {
            for (Kind kind : {Kind::IbfStuckFrom, Kind::ObfNeverFrom, Kind::DropAt, Kind::LateAt}) {
                const SweepRun run = RunOnce(s, {kind, k}, -1);
                Check(s, healthy, run, "fault " + std::to_string(static_cast<int>(kind)) + " at access " +
                                           std::to_string(k));
                ++runs;
                ++scenarioRuns;
                if (run.elapsedMs > longest) longest = run.elapsedMs;
            }
            ++places;
        }
        for (int c = 0; c < healthy.failableCalls; ++c) {
            const SweepRun run = RunOnce(s, {}, c);
            Check(s, healthy, run, "port-I/O call " + std::to_string(c) + " fails");
            ++runs;
            ++scenarioRuns;
            ++places;
            if (run.elapsedMs > longest) longest = run.elapsedMs;
        }
        std::fprintf(stderr, "  %-45s %5d runs, healthy %6llu ms, longest %6llu ms, bound %6u ms\n", s.name,
                     scenarioRuns, static_cast<unsigned long long>(healthy.elapsedMs),
                     static_cast<unsigned long long>(longest), s.boundMs);

    }
    StopCapture();
    std::fprintf(stderr, "fault sweep: %zu scenarios, %d places, %d runs\n",
                 sizeof kScenarios / sizeof kScenarios[0], places, runs);
}

}  // namespace
}  // namespace hwtk3::test
