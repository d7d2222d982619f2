// The fault sweep: every export that touches the EC ports or the port-I/O
// library, run once healthy and then once per fault and place. For every
// port access k of the healthy run: the EC goes silent from k on (no byte
// taken, or no answer handed out), the bus floats from k on (0xFF on every
// channel port), the answer that access k waits for or takes is lost, or it
// comes (the byte written at k is taken) just before or just after the
// exchange's budget runs out; for every call into the port-I/O library that
// can fail (InitializeOls, GetDllStatus, ReadPhysicalMemory), that call
// fails. And everywhere at once: an EC slow on every byte (by the issue's
// 100 and 450 ms, just under and just over the budget, on every handshake
// or on its answers only) or a floating bus, each with the shared EC mutex
// free and held by another program for longer than we wait. Every run must:
//   - return within the export's bound on the notebook's clock;
//   - never hold the shared EC mutex across a long pause;
//   - leave the EC differing from before only in bits the healthy run
//     changes, to the values the healthy run gives them, also once every
//     late byte has landed;
//   - never write a byte while the EC (or a floating bus) shows IBF, nor
//     write back a register byte read from the EC without its answer;
//   - claim success only when the EC holds what the healthy run leaves there
//     and the outputs are the healthy run's; on failure leave the outputs as
//     the export promises;
//   - leave nothing behind that spoils the next call once the EC is well
//     again (a late answer must not become the next exchange's answer).
// The sweep prints the time-bound table of the README and fails when the
// README's rows differ from it.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "hwio/ec.h"
#include "hwio/ec_firmware.h"
#include "platform/sync.h"
#include "smbios/dmi_decode.h"
#include "smbios/identity.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using Map = sim::FanModel::Map;
using Kind = sim::EcModel::AccessFault::Kind;

// Outputs start at a value no export produces, so one left alone shows.
constexpr int kUnset = -77777;

struct Outcome {
    long long result = 0;
    std::vector<long long> outputs;  // the caller's outputs after the call
    std::vector<long long> initial;  // and before it
    std::vector<long long> state;    // process-wide state the call leaves
};

Outcome Ints(long long result, std::initializer_list<int> outputs) {
    Outcome o;
    o.result = result;
    for (int v : outputs) {
        o.outputs.push_back(v);
        o.initial.push_back(kUnset);
    }
    return o;
}

// What the EC holds: its RAM and the fan state kept outside it.
struct EcState {
    std::array<std::uint8_t, 0x10000> ram{};
    std::uint8_t fan0Flag = 0;
    std::uint8_t fan0Duty = 0;
    double targetRpm = 0;
};

EcState Snapshot(sim::Notebook& nb) {
    EcState state;
    state.ram = nb.ec.RamBytes();
    state.fan0Flag = nb.fan.fan0ControlFlag;
    state.fan0Duty = nb.fan.fan0Duty;
    state.targetRpm = nb.fan.TargetRpm();
    return state;
}

// Every bit of `after` is either as before or as the healthy run left it.
bool OnlyHealthyChanges(std::uint8_t before, std::uint8_t healthy, std::uint8_t after) {
    return ((after ^ before) & (after ^ healthy)) == 0;
}

int StrayBytes(const EcState& before, const EcState& healthy, const EcState& after) {
    // Block by block, bytes only where a block changed: the sweep compares
    // 64 KB several thousand times, also in the unoptimised sanitizer build.
    constexpr std::size_t kBlock = 256;
    const std::uint8_t* was = before.ram.data();
    const std::uint8_t* ok = healthy.ram.data();
    const std::uint8_t* is = after.ram.data();
    int stray = 0;
    for (std::size_t block = 0; block < after.ram.size(); block += kBlock) {
        if (std::memcmp(was + block, is + block, kBlock) == 0) continue;
        for (std::size_t a = block; a < block + kBlock; ++a) {
            if (!OnlyHealthyChanges(was[a], ok[a], is[a])) ++stray;
        }
    }
    if (!OnlyHealthyChanges(before.fan0Flag, healthy.fan0Flag, after.fan0Flag)) ++stray;
    if (!OnlyHealthyChanges(before.fan0Duty, healthy.fan0Duty, after.fan0Duty)) ++stray;
    if (after.targetRpm != before.targetRpm && after.targetRpm != healthy.targetRpm) ++stray;
    return stray;
}

// What a failed call leaves in the caller's outputs.
enum class OnFailure {
    Untouched,     // every output as the caller left it
    EarlierSteps,  // the fan test: outputs of the steps before the failing one
};

struct Scenario {
    const char* row;  // the export as the README's table names it
    Map map;
    std::int32_t machineType;
    bool bind;          // Diag_InitHWIO before the call
    bool readFirmware;  // Diag_GetECFirmwareVer2 before the call
    void (*prepare)(sim::Notebook&);
    Outcome (*call)();
    bool (*succeeded)(const Outcome&);  // nullptr: the result claims nothing
    std::uint32_t boundMs;              // the bound the code guarantees
    const char* madeOf;                 // what the bound is made of
    OnFailure onFailure = OnFailure::Untouched;
    bool again = true;  // a second call must go as after a healthy first one
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
// The longest text the firmware read takes: 31 characters and the NUL.
void LongestFirmwareText(sim::Notebook& nb) { nb.ec.firmwareVersion = "ZLKD 1.07.02 QX5402 2024-11-08A"; }

bool ResultIsOne(const Outcome& o) { return o.result == 1; }

Outcome FanCpu(int rpmIn, bool ecPlatform) {
    int rpm = rpmIn, t = kUnset;
    const bool r = Diag_FanCpu(3000, 100, &rpm, &t, ecPlatform);
    Outcome o = Ints(r, {rpm, t});
    o.initial[0] = rpmIn;
    return o;
}
Outcome FanCpuGetValue(bool ecPlatform) {
    int rpm = kUnset, t = kUnset;
    const bool r = Diag_FanCpuGetValue(&rpm, &t, ecPlatform);
    return Ints(r, {rpm, t});
}

const Scenario kScenarios[] = {
    {"`Diag_InitHWIO`", Map::Zlkd, 0, false, false, Nothing, [] { return Ints(Diag_InitHWIO(), {}); },
     ResultIsOne, 0, "no EC exchange"},
    {"`Diag_FreeHWIO`", Map::Zlkd, 0, true, false, Nothing,
     [] {
         Diag_FreeHWIO();
         return Ints(0, {});
     },
     nullptr, 0, "no EC exchange"},
    {"`Diag_GetECFirmwareVer2`, 31 characters", Map::Zlkd, 0, true, false, LongestFirmwareText,
     [] {
         char buffer[32];
         std::memset(buffer, 0x5A, sizeof buffer);
         Outcome o = Ints(Diag_GetECFirmwareVer2(buffer, 32), {});
         for (char c : buffer) {
             o.outputs.push_back(c);
             o.initial.push_back(0x5A);
         }
         for (const char* p = hwio::EcFirmwareVersion(); *p != '\0'; ++p) o.state.push_back(*p);
         return o;
     },
     ResultIsOne, 16518, "session 50; the IBF wait and 32 byte waits of 500 polls of 1 ms, each answered at its 500th poll (499 ms), the last one running out (500 ms)"},
    {"`Diag_AMDSetFanRPM`", Map::Amd, 0, true, false, Nothing, [] { return Ints(Diag_AMDSetFanRPM(3000), {}); },
     ResultIsOne, 60, "session 50, pause 10 (a window has no handshake)"},
    {"`Diag_AMDGetFanRPM`", Map::Amd, 0, true, false, Nothing,
     [] {
         int rpm = kUnset;
         const int r = Diag_AMDGetFanRPM(&rpm);
         return Ints(r, {rpm});
     },
     ResultIsOne, 60, "session 50, pause 10"},
    {"`Diag_AMDGetCpuTemperature`", Map::Amd, 0, true, false, Nothing,
     [] {
         int t = kUnset;
         const int r = Diag_AMDGetCpuTemperature(&t);
         return Ints(r, {t});
     },
     ResultIsOne, 60, "session 50, pause 10"},
    {"`Diag_FanState2`", Map::Pwm, 0, true, false, Nothing,
     [] {
         int t = kUnset, rpm = kUnset;
         const bool r = Diag_FanState2(&t, &rpm);
         return Ints(r, {t, rpm});
     },
     ResultIsOne, 70, "session 50, pauses 2 × 10"},
    {"`Diag_GetFanCurState2`", Map::Pwm, 0, true, false, Nothing,
     [] {
         tFanState s{kUnset, 12345, 12345};
         const int r = Diag_GetFanCurState2(&s);
         Outcome o = Ints(r, {s.manual, static_cast<int>(s.speed), static_cast<int>(s.rpm)});
         o.initial = {kUnset, 12345, 12345};
         return o;
     },
     ResultIsOne, 80, "session 50, pauses 3 × 10"},
    {"`Diag_SetFanManual2`, EC RAM 0xF4D3", Map::Pwm, 0, true, false, Nothing,
     [] { return Ints(Diag_SetFanManual2(1), {}); }, ResultIsOne, 60, "session 50, pause 10"},
    {"`Diag_SetFanManual2(1)`, Fan0 flag", Map::MachineType, 1, true, false, Nothing,
     [] { return Ints(Diag_SetFanManual2(1), {}); }, ResultIsOne, 1060,
     "session 50, 2 exchanges of 500 (read, write), pause 10"},
    {"`Diag_SetFanManual2(0)`, Fan0 flag", Map::MachineType, 1, true, false,
     [](sim::Notebook& nb) { nb.fan.fan0ControlFlag = 0x05; },
     [] { return Ints(Diag_SetFanManual2(0), {}); }, ResultIsOne, 1060,
     "session 50, 2 exchanges of 500, pause 10"},
    {"`Diag_SetFanSpeed2`", Map::Pwm, 0, true, false, Nothing, [] { return Ints(Diag_SetFanSpeed2(60), {}); },
     ResultIsOne, 60, "session 50, pause 10"},
    {"`Diag_ZLKDGetCpuTemperature2`", Map::Zlkd, 0, true, false, Nothing,
     [] {
         int t = kUnset;
         const int r = Diag_ZLKDGetCpuTemperature2(&t);
         return Ints(r, {t});
     },
     ResultIsOne, 560, "session 50, 1 exchange of 500, pause 10"},
    {"`Diag_ZLKDGetFanSpeed2`", Map::Zlkd, 0, true, false, Nothing,
     [] {
         int rpm = kUnset;
         const int r = Diag_ZLKDGetFanSpeed2(&rpm);
         return Ints(r, {rpm});
     },
     ResultIsOne, 560, "session 50, 1 exchange of 500, pause 10"},
    {"`Diag_ZLKDSetFanSpeed2`", Map::Zlkd, 0, true, false, Nothing,
     [] { return Ints(Diag_ZLKDSetFanSpeed2(3000), {}); }, ResultIsOne, 560,
     "session 50, 1 exchange of 500, pause 10"},
    {"`Diag_FanCpu`, machine type", Map::MachineType, 1, true, false, Nothing, [] { return FanCpu(kUnset, true); },
     ResultIsOne, 5550, "3 sessions of 50, 4 exchanges of 500, pauses 3000 + 2 × 200",
     OnFailure::EarlierSteps},
    {"`Diag_FanCpu`, ZLKD", Map::Zlkd, 0, true, true, Nothing, [] { return FanCpu(kUnset, true); }, ResultIsOne,
     5080, "3 sessions of 50, 3 exchanges of 500, pauses 3 × 10 + 3000 + 2 × 200", OnFailure::EarlierSteps},
    {"`Diag_FanCpu`, PWM", Map::Pwm, 0, true, false, Nothing, [] { return FanCpu(60, true); }, ResultIsOne, 3330,
     "2 sessions of 50, pauses 3 × 10 + 3000 + 200", OnFailure::EarlierSteps},
    {"`Diag_FanCpu`, AMD", Map::Amd, 0, true, false, Nothing, [] { return FanCpu(kUnset, false); }, ResultIsOne,
     3580, "3 sessions of 50, pauses 3 × 10 + 3000 + 2 × 200", OnFailure::EarlierSteps},
    {"`Diag_FanCpuGetValue`, machine type", Map::MachineType, 1, true, false, Nothing,
     [] { return FanCpuGetValue(true); }, ResultIsOne, 2000, "2 sessions of 50, 3 exchanges of 500, pauses 2 × 200",
     OnFailure::EarlierSteps},
    {"`Diag_FanCpuGetValue`, ZLKD", Map::Zlkd, 0, true, true, Nothing, [] { return FanCpuGetValue(true); },
     ResultIsOne, 1520, "2 sessions of 50, 2 exchanges of 500, pauses 2 × 10 + 2 × 200", OnFailure::EarlierSteps},
    {"`Diag_FanCpuGetValue`, PWM", Map::Pwm, 0, true, false, Nothing, [] { return FanCpuGetValue(true); },
     ResultIsOne, 270, "session 50, pauses 2 × 10 + 200", OnFailure::EarlierSteps},
    {"`Diag_FanCpuGetValue`, AMD", Map::Amd, 0, true, false, Nothing, [] { return FanCpuGetValue(false); },
     ResultIsOne, 520, "2 sessions of 50, pauses 2 × 10 + 2 × 200", OnFailure::EarlierSteps},
    // The identity record is filled once per process, whatever the scan
    // found, so a second call does not go as after a healthy first one.
    {"`Diag_FillDMIData(true)`", Map::Zlkd, 0, false, false, Nothing,
     [] { return Ints(Diag_FillDMIData(true), {}); }, nullptr, 0, "no EC exchange", OnFailure::Untouched, false},
    {"`Diag_CheckMachine(true)`", Map::Zlkd, 0, false, false, Nothing,
     [] {
         const bool r = Diag_CheckMachine(true);
         Outcome o = Ints(r, {});
         o.state = {Diag_GetMachineType(), static_cast<long long>(smbios::Dmi().SystemSku.size())};
         return o;
     },
     ResultIsOne, 0, "no EC exchange", OnFailure::Untouched, false},
    {"`Diag_GetBatteryChargeState`", Map::Zlkd, 0, true, false, ChargeOff,
     [] { return Ints(Diag_GetBatteryChargeState(), {}); }, nullptr, 580,
     "session 50, 1 exchange of 500 and its pauses 10 + 20"},
    {"`Diag_SetBatteryChargeEnabled(false)`, EC RAM 0xD2", Map::Zlkd, 0, true, false, ChargeOn,
     [] { return Ints(Diag_SetBatteryChargeEnabled(false), {}); }, ResultIsOne, 21206,
     "3 passes of 5 sessions of 50, 5 reads of 530 and a write of 502; 11 pauses of 1000"},
    {"`Diag_SetBatteryChargeEnabled(true)`, EC RAM 0xD2", Map::Zlkd, 0, true, false, ChargeOff,
     [] { return Ints(Diag_SetBatteryChargeEnabled(true), {}); }, ResultIsOne, 21206,
     "3 passes of 5 sessions of 50, 5 reads of 530 and a write of 502; 11 pauses of 1000"},
    {"`Diag_SetBatteryChargeEnabled(false)`, 0x4F8", Map::MachineType, 1, true, false, ChargeOn,
     [] { return Ints(Diag_SetBatteryChargeEnabled(false), {}); }, ResultIsOne, 7650,
     "3 attempts of a session of 50, 3 exchanges of 500 and a pause of 1000"},
    {"`Diag_SetBatteryChargeEnabled(true)`, 0x4F8", Map::MachineType, 1, true, false, ChargeOff,
     [] { return Ints(Diag_SetBatteryChargeEnabled(true), {}); }, ResultIsOne, 7650,
     "3 attempts of a session of 50, 3 exchanges of 500 and a pause of 1000"},
    {"`Diag_IsBatteryChargeEnabled`", Map::MachineType, 1, true, false, ChargeOn,
     [] { return Ints(Diag_IsBatteryChargeEnabled(), {}); }, ResultIsOne, 550, "session 50, 1 exchange of 500"},
};

// The pauses no EC session may span: the fan settle and read spacing, the
// charge read-back pauses.
constexpr platform::DWORD kLongPauseMs = 200;

// "Global\Access_EC" as the station has it: free, or held by another
// program for longer than we wait. A wait advances the notebook's clock by
// what it waited. Counts the long pauses the library makes holding it.
class StationMutex : public platform::testing::NamedMutexHost {
public:
    platform::HANDLE Create(const char*) override { return &token_; }
    platform::DWORD Wait(platform::HANDLE, platform::DWORD milliseconds) override {
        if (heldElsewhere) {
            sim::Current().clock.Advance(milliseconds);
            return platform::kWaitTimeout;
        }
        ours = true;
        return platform::kWaitObject0;
    }
    platform::BOOL Release(platform::HANDLE) override {
        const bool was = ours;
        ours = false;
        return was ? 1 : 0;
    }
    bool Close(platform::HANDLE handle) override { return handle == &token_; }

    bool heldElsewhere = false;
    bool ours = false;
    int longPausesHeld = 0;

private:
    int token_ = 0;
};

// One EC behaviour for the whole call, or a fault at one place.
struct Condition {
    std::string name;
    sim::EcModel::AccessFault fault;
    std::uint32_t latencyMs = 0;
    std::int32_t answerLatencyMs = -1;
    bool floating = false;
    bool mutexHeldElsewhere = false;
    int failCall = -1;
};

// Just under and just over the budget of one exchange (and of a counted
// wait of the firmware read: 500 polls of 1 ms).
constexpr std::uint32_t kJustUnderMs = ec::kExchangeBudgetMs - 1;
constexpr std::uint32_t kJustOverMs = ec::kExchangeBudgetMs + 1;

std::vector<Condition> Everywhere() {
    std::vector<Condition> ecs;
    ecs.push_back({"healthy EC"});
    for (std::uint32_t latency : {100u, 450u, kJustUnderMs, kJustOverMs}) {
        ecs.push_back({"every byte " + std::to_string(latency) + " ms late", {}, latency});
    }
    for (std::uint32_t latency : {kJustUnderMs, kJustOverMs}) {
        ecs.push_back({"every answer " + std::to_string(latency) + " ms late", {}, 0, static_cast<std::int32_t>(latency)});
    }
    Condition floating{"floating bus"};
    floating.floating = true;
    ecs.push_back(floating);
    std::vector<Condition> conditions;
    for (bool held : {false, true}) {
        for (Condition c : ecs) {
            if (!held && c.name == "healthy EC") continue;  // the healthy run itself
            c.mutexHeldElsewhere = held;
            if (held) c.name += ", EC mutex held elsewhere";
            conditions.push_back(c);
        }
    }
    return conditions;
}

// A bus that goes away between the status read that showed an answer and
// the data read it announced cannot be told from an answer of 0xFF (only a
// status read after every data read could, and the sequences have none),
// so the bus starts floating at any access but such a data read.
std::vector<Condition> AtAccess(int k, bool channelDataRead) {
    std::vector<Condition> conditions;
    const std::string at = " at access " + std::to_string(k);
    conditions.push_back({"silent (IBF) from" + at, {Kind::IbfStuckFrom, k}});
    conditions.push_back({"silent (OBF) from" + at, {Kind::ObfNeverFrom, k}});
    if (!channelDataRead) conditions.push_back({"floating from" + at, {Kind::FloatingFrom, k}});
    conditions.push_back({"answer lost" + at, {Kind::DropAt, k}});
    conditions.push_back({"just under the budget" + at, {Kind::LateAt, k, kJustUnderMs}});
    conditions.push_back({"just over the budget" + at, {Kind::LateAt, k, kJustOverMs}});
    return conditions;
}

struct SweepRun {
    Outcome outcome;
    EcState before;
    EcState after;
    EcState settled;  // once every late byte has landed
    std::uint64_t elapsedMs = 0;
    int accesses = 0;
    int failableCalls = 0;
    int writesFromUnansweredReads = 0;
    int bytesWhileBusy = 0;
    int longPausesHeld = 0;
    std::vector<bool> channelDataReads;  // per EC access: a read of a channel's data port
    Outcome again;  // the second call, with the EC well again
};

bool IsChannelDataPort(std::uint32_t port) {
    return port == ec::EcPort62.data || port == ec::EcPort25C.data || port == ec::EcPort68.data;
}

class FaultSweepTest : public NotebookTest {
protected:
    void SetUp() override {
        NotebookTest::SetUp();
        platform::testing::SetNamedMutexHost(&mutex_);
        platform::testing::SetSleepHook(
            [](platform::DWORD ms, void* context) {
                auto* mutex = static_cast<StationMutex*>(context);
                if (ms >= kLongPauseMs && mutex->ours) ++mutex->longPausesHeld;
                sim::Current().Sleep(ms);
            },
            &mutex_, [](void*) { return sim::Current().clock.NowMs(); });
    }
    void TearDown() override {
        ResetLibrary();  // closes our mutex handle while its host is still there
        platform::testing::SetNamedMutexHost(nullptr);
        NotebookTest::TearDown();
    }

    // A freshly loaded library on a fresh notebook, prepared as the
    // scenario says, then the export under the condition.
    SweepRun RunOnce(const Scenario& s, const Condition& c) {
        ResetLibrary();
        mutex_ = StationMutex{};
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
        nb.trace.Clear();
        nb.ec.accessCeiling = kAccessLimit + 1;
        nb.ec.accessFault = c.fault;
        nb.ec.latencyMs = c.latencyMs;
        nb.ec.answerLatencyMs = c.answerLatencyMs;
        for (auto& faults : nb.ec.faults) faults.floating = c.floating;
        mutex_.heldElsewhere = c.mutexHeldElsewhere;
        nb.driver.failableCalls = 0;
        nb.driver.failCall = c.failCall;
        const std::uint64_t start = nb.clock.NowMs();
        run.outcome = s.call();
        run.elapsedMs = nb.clock.NowMs() - start;
        run.accesses = nb.ec.Accesses();
        run.failableCalls = nb.driver.failableCalls;
        for (const sim::Event& e : nb.trace.Events()) {
            const bool port = e.kind == sim::Event::Kind::PortRead || e.kind == sim::Event::Kind::PortWrite;
            if (!port || !nb.ec.Decodes(static_cast<std::uint16_t>(e.a))) continue;
            run.channelDataReads.push_back(e.kind == sim::Event::Kind::PortRead && IsChannelDataPort(e.a));
        }
        run.after = Snapshot(nb);
        // The EC recovers and the other program lets go; a late answer or
        // byte has long arrived.
        nb.ec.accessFault = {};
        nb.ec.latencyMs = 0;
        nb.ec.answerLatencyMs = -1;
        for (auto& faults : nb.ec.faults) faults.floating = false;
        mutex_.heldElsewhere = false;
        nb.driver.failCall = -1;
        nb.Sleep(kRecoveryMs);
        run.settled = Snapshot(nb);
        run.writesFromUnansweredReads = nb.ec.writesFromUnansweredReads;
        run.bytesWhileBusy = nb.ec.bytesWhileBusy;
        if (s.again) run.again = s.call();
        run.longPausesHeld = mutex_.longPausesHeld;
        return run;
    }

    // The checks every run must pass against the healthy one.
    void Check(const Scenario& s, const SweepRun& healthy, const SweepRun& run, const std::string& what) {
        SCOPED_TRACE(std::string(s.row) + ", " + what);
        EXPECT_LE(run.elapsedMs, s.boundMs);
        EXPECT_LE(run.accesses, kAccessLimit);
        EXPECT_EQ(run.longPausesHeld, 0) << "the EC mutex held across a long pause";
        EXPECT_EQ(run.writesFromUnansweredReads, 0);
        EXPECT_EQ(run.bytesWhileBusy, 0) << "a byte written while the EC showed IBF";
        EXPECT_EQ(StrayBytes(run.before, healthy.after, run.after), 0) << "EC changed beyond what the export may change";
        EXPECT_EQ(StrayBytes(run.before, healthy.after, run.settled), 0) << "a late byte changed the EC beyond that";
        EXPECT_EQ(run.again.result, healthy.again.result) << "second call after the fault";
        EXPECT_EQ(run.again.outputs, healthy.again.outputs) << "second call after the fault";
        const Outcome& o = run.outcome;
        if (s.succeeded == nullptr) return;
        if (s.succeeded(o)) {
            EXPECT_EQ(o.outputs, healthy.outcome.outputs) << "success with other outputs";
            EXPECT_EQ(o.state, healthy.outcome.state) << "success with other state";
            EXPECT_TRUE(run.after.ram == healthy.after.ram) << "success without the EC holding it";
            EXPECT_EQ(run.after.fan0Flag, healthy.after.fan0Flag);
            EXPECT_EQ(run.after.fan0Duty, healthy.after.fan0Duty);
            EXPECT_EQ(run.after.targetRpm, healthy.after.targetRpm);
        } else if (s.onFailure == OnFailure::Untouched) {
            EXPECT_EQ(o.outputs, o.initial) << "failure with outputs written";
        } else {
            // The speed comes before the temperature on every path; the
            // temperature step is the last, so a failure never writes it.
            ASSERT_EQ(o.outputs.size(), 2u);
            EXPECT_TRUE(o.outputs[0] == o.initial[0] || o.outputs[0] == healthy.outcome.outputs[0]) << o.outputs[0];
            EXPECT_EQ(o.outputs[1], o.initial[1]) << "failure with the temperature written";
        }
    }

    StationMutex mutex_;
    static constexpr int kAccessLimit = 20000;
    static constexpr std::uint32_t kRecoveryMs = 1000;
};

std::string Row(const Scenario& s, std::uint64_t healthyMs, std::uint64_t longestMs) {
    return std::string("| ") + s.row + " | " + std::to_string(healthyMs) + " ms | " + std::to_string(longestMs) +
           " ms | " + std::to_string(s.boundMs) + " ms | " + s.madeOf + " |";
}

// The rows of the README's time-bound table.
std::set<std::string> ReadmeRows() {
    std::ifstream readme(HWTK3_SOURCE_DIR "/README.md");
    std::set<std::string> rows;
    bool inSection = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("## ", 0) == 0) inSection = line == "## Time bounds under EC faults";
        if (inSection && line.rfind("| `Diag_", 0) == 0) rows.insert(line);
    }
    return rows;
}

TEST_F(FaultSweepTest, EveryExportUnderEveryFaultAtEveryPlace) {
    Capture();  // thousands of runs' lines; only the checks matter here
    const auto started = std::chrono::steady_clock::now();
    const std::vector<Condition> everywhere = Everywhere();
    int runs = 0;
    std::set<std::string> table;
    std::string printed;
    for (const Scenario& s : kScenarios) {
        const SweepRun healthy = RunOnce(s, {"healthy"});
        {
            SCOPED_TRACE(s.row);
            if (s.succeeded != nullptr) EXPECT_TRUE(s.succeeded(healthy.outcome)) << "healthy run fails";
        }
        Check(s, healthy, healthy, "healthy");
        std::uint64_t longest = healthy.elapsedMs;
        auto sweep = [&](const Condition& c) {
            const SweepRun run = RunOnce(s, c);
            Check(s, healthy, run, c.name);
            ++runs;
            if (run.elapsedMs > longest) longest = run.elapsedMs;
        };
        for (const Condition& c : everywhere) sweep(c);
        EXPECT_EQ(static_cast<int>(healthy.channelDataReads.size()), healthy.accesses) << s.row;
        for (int k = 0; k < healthy.accesses; ++k) {
            for (const Condition& c : AtAccess(k, healthy.channelDataReads[k])) sweep(c);
        }
        for (int call = 0; call < healthy.failableCalls; ++call) {
            Condition c{"port-I/O call " + std::to_string(call) + " fails"};
            c.failCall = call;
            sweep(c);
        }
        ++runs;
        table.insert(Row(s, healthy.elapsedMs, longest));
        printed += Row(s, healthy.elapsedMs, longest) + "\n";
    }
    StopCapture();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "%s", printed.c_str());
    std::fprintf(stderr, "fault sweep: %zu scenarios, %d runs, %.2f s\n", sizeof kScenarios / sizeof kScenarios[0],
                 runs, seconds);
    const std::set<std::string> readme = ReadmeRows();
    for (const std::string& row : table) {
        EXPECT_EQ(readme.count(row), 1u) << "README.md's time-bound table lacks the measured row\n" << row;
    }
    for (const std::string& row : readme) {
        EXPECT_EQ(table.count(row), 1u) << "README.md's time-bound table has a row the sweep did not measure\n" << row;
    }
}

}  // namespace
}  // namespace hwtk3::test
