// Host threads calling every export at once, on the virtual notebook.
//
// Several threads call all 40 exports in random order with random
// arguments, for a bounded number of rounds, on each of the four fan
// platforms. Every output is held to the set of values some serial order of
// the calls could give, and afterwards the EC, the devices and the identity
// record are checked: no EC bit changed that no export owns, no exchange cut
// into another (the EC model counts bytes sent while it was busy, commands
// cut short and stray parameter bytes), no device handle or interface
// object used after another thread released it, one complete identity
// record. Built under ThreadSanitizer (scripts/build tsan), any data race
// or lock-order inversion fails the run as well.
//
//   hwtk3_thread_stress [--threads N] [--epochs N] [--rounds N] [--seed N]
//
// Exit status 0 when every check held; the last line says what ran.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "hwio/ec.h"
#include "include/hwtk3.h"
#include "platform/testing.h"
#include "sim/notebook.h"
#include "sim/scenario.h"
#include "sim/smbios_builder.h"
#include "tests/fresh_library.h"

namespace hwtk3::test {
namespace {

constexpr char kStandinPath[] = HWTK3_SIM_DIR "/libWinRing0.so";
constexpr int kExportCount = 40;
constexpr int kDefaultThreads = 4;
constexpr int kDefaultEpochs = 10;   // freshly loaded libraries per platform
constexpr int kDefaultRounds = 60;   // calls per thread and epoch
constexpr unsigned kDefaultSeed = 1;
constexpr std::size_t kFailuresShown = 20;

// What the notebook answers when the exchanges are whole.
constexpr int kCpuTemperature = 45;
constexpr int kUndecodedByte = 0xFF;          // a window the EC does not decode
constexpr int kUndecodedPwmRpm = 0xFFFF;      // both tachometer bytes of such a window
// Every speed the calls below ask for (2000 to 5000 RPM), the idle speed
// and a fan between two of them lie far inside this range, and so does a
// reading whose two tachometer bytes were read at different moments (each
// byte is an EC access of its own, and the fan moves on while another
// thread pauses, as the EC updates its count on the machine). A byte of
// another exchange's answer taken for a tachometer byte lies outside.
constexpr int kSlowestRpm = 1500;
constexpr int kFastestRpm = 9000;
const int kTargetRpms[] = {2000, 3000, 4000};
const unsigned kPwmSettings[] = {40, 60, 80};       // percent of 5000 RPM
const int kDutyLevels[] = {50, 100};                // 3000 and 5000 RPM
const unsigned kPwmSettingValues[] = {40, 60, 80, 48, kUndecodedByte};  // 48: the idle setting
// The charge switch bytes start with other bits set, which no export may
// change.
constexpr std::uint8_t kChargeByte = 0x05;
constexpr std::uint8_t kChargingOffBit = 0x40;
constexpr std::uint8_t kFan0EcControlBit = 0x80;
constexpr unsigned char kMaxBrightness = 100;
constexpr unsigned char kCpuModes = 3;

// EC RAM bits some export owns: the charge switch bit of both bytes, the
// PWM setting and manual bit, the AMD target.
const std::map<std::uint16_t, std::uint8_t> kOwnedBits = {
    {0x00D2, kChargingOffBit}, {0x04F8, kChargingOffBit}, {0xF463, 0xFF},
    {0xF4D3, 0x02},            {0xF46A, 0xFF},            {0xF46B, 0xFF},
};

const char kPwmPathLine[] = "old ec, fan uses pwm control\n";

struct Identity {
    std::string manufacturer, product, boardSerial, sku;
    int machineType = 0;
    bool operator==(const Identity& o) const {
        return manufacturer == o.manufacturer && product == o.product && boardSerial == o.boardSerial &&
               sku == o.sku;
    }
};

struct Platform {
    const char* scenarios;
    bool zlkdFirmware;  // the fan test must never take the PWM path
};
const Platform kPlatforms[] = {
    {"zlkd", true}, {"pwm", false}, {"amd", false}, {"machine-type", false}};

// What a fresh library on this platform's notebook answers, one call at a
// time: the identity of each fill path, the battery, the firmware text.
struct Reference {
    Identity fromFirmware, fromMemory;
    tBattery battery;
    std::string firmwareText;
};

class Failures {
public:
    void Add(const std::string& what) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (messages_.size() < kFailuresShown) messages_.push_back(what);
        ++count_;
    }
    int Count() {
        std::lock_guard<std::mutex> hold(mutex_);
        return count_;
    }
    void Print() {
        std::lock_guard<std::mutex> hold(mutex_);
        for (const std::string& m : messages_) std::fprintf(stderr, "stress: %s\n", m.c_str());
    }

private:
    std::mutex mutex_;
    std::vector<std::string> messages_;
    int count_ = 0;
};

Failures g_failures;

void Check(bool ok, const std::string& platform, const char* what, long long value = 0) {
    if (!ok) g_failures.Add(platform + ": " + what + " (" + std::to_string(value) + ")");
}

bool ValidTemperature(int t) { return t == kCpuTemperature || t == kUndecodedByte; }
// A PWM reading is the two tachometer bytes themselves: both 0xFF from a
// window the EC does not decode.
bool ValidRpm(long long r) {
    return r == 0 || r == kUndecodedPwmRpm || (r >= kSlowestRpm && r <= kFastestRpm);
}

// One host thread: its random choices, and what it has seen of the
// identity record, which is filled once and never changes afterwards: whether
// it may still be empty, and which of the complete records it is (or will
// be, once filled).
struct Caller {
    const std::string& platform;
    const Reference& reference;
    std::mt19937 random;
    bool mayBeEmpty = true;
    std::array<bool, 2> mayBe{true, true};  // filled from the firmware table, from the BIOS area

    template <typename T, std::size_t N>
    T Pick(const T (&values)[N]) {
        return values[std::uniform_int_distribution<std::size_t>(0, N - 1)(random)];
    }
    bool Coin() { return std::uniform_int_distribution<int>(0, 1)(random) == 1; }
    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    void Expect(bool ok, const char* what, long long value = 0) { Check(ok, platform, what, value); }

    void Filled() { mayBeEmpty = false; }
    // False when the observation agrees with no record the identity may be
    // now; one that only a complete record explains narrows the choice.
    bool Observe(const std::function<bool(const Identity&)>& agrees) {
        const bool empty = mayBeEmpty && agrees(Identity{});
        const std::array<bool, 2> complete{mayBe[0] && agrees(reference.fromFirmware),
                                           mayBe[1] && agrees(reference.fromMemory)};
        if (!empty && !complete[0] && !complete[1]) return false;
        if (!empty) {
            mayBeEmpty = false;
            mayBe = complete;
        }
        return true;
    }

    // A bounded copy of one identity text, exactly as the export makes it
    // from one of the records.
    void ExpectIdentityText(void (*query)(char*, int), std::string Identity::*field, const char* what) {
        const int sizes[] = {256, 8, 1, 0, -1};
        const int size = Pick(sizes);
        char buffer[300];
        std::memset(buffer, 'x', sizeof buffer);
        query(buffer, size);
        Expect(Observe([&](const Identity& record) {
                   char expected[sizeof buffer];
                   std::memset(expected, 'x', sizeof expected);
                   if (size > 0) {
                       const std::string& text = record.*field;
                       const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size));
                       std::memcpy(expected, text.data(), n);
                       std::memset(expected + n, 0, static_cast<std::size_t>(size) - n);
                   }
                   return std::memcmp(buffer, expected, sizeof buffer) == 0;
               }),
               what, size);
    }
};

void ExpectFanReading(Caller& c, bool ok, int rpm, int temperature, const char* what) {
    if (!ok) return;
    c.Expect(ValidRpm(rpm), what, rpm);
    c.Expect(ValidTemperature(temperature), what, temperature);
}

struct Call {
    const char* name;
    int weight;
    void (*run)(Caller& c);
};

// Every export, once each. Outputs start at values no success leaves.
const Call kCalls[] = {
    {"Diag_InitHWIO", 6, [](Caller& c) { c.Expect(Diag_InitHWIO() == 1, "Diag_InitHWIO failed"); }},
    {"Diag_FreeHWIO", 1, [](Caller&) { Diag_FreeHWIO(); }},
    {"Diag_GetECFirmwareVer2", 2,
     [](Caller& c) {
         // Long enough for the whole text, so that the text the fan test
         // reads is always complete.
         char buffer[48];
         std::memset(buffer, 'x', sizeof buffer);
         const int length = c.Between(static_cast<int>(c.reference.firmwareText.size()) + 1, 40);
         const bool null = c.Between(0, 7) == 0;
         const int result = Diag_GetECFirmwareVer2(null ? nullptr : buffer, length);
         char expected[48];
         std::memset(expected, 'x', sizeof expected);
         if (result == 1) {
             std::memset(expected, 0, static_cast<std::size_t>(length));
             std::memcpy(expected, c.reference.firmwareText.data(), c.reference.firmwareText.size());
         }
         c.Expect(result == 0 || (result == 1 && !null), "Diag_GetECFirmwareVer2 result", result);
         c.Expect(std::memcmp(buffer, expected, sizeof buffer) == 0, "Diag_GetECFirmwareVer2 text", length);
     }},
    {"Diag_AMDSetFanRPM", 2,
     [](Caller& c) {
         const int result = Diag_AMDSetFanRPM(c.Pick(kTargetRpms));
         c.Expect(result == 0 || result == 1, "Diag_AMDSetFanRPM result", result);
     }},
    {"Diag_AMDGetFanRPM", 2,
     [](Caller& c) {
         int rpm = -1;
         if (Diag_AMDGetFanRPM(&rpm) == 1) c.Expect(ValidRpm(rpm), "Diag_AMDGetFanRPM", rpm);
     }},
    {"Diag_AMDGetCpuTemperature", 2,
     [](Caller& c) {
         int t = -1;
         if (Diag_AMDGetCpuTemperature(&t) == 1) c.Expect(ValidTemperature(t), "Diag_AMDGetCpuTemperature", t);
     }},
    {"Diag_FanState2", 2,
     [](Caller& c) {
         int t = -1;
         int rpm = -1;
         const bool ok = Diag_FanState2(&t, &rpm);
         ExpectFanReading(c, ok, rpm, t, "Diag_FanState2");
     }},
    {"Diag_GetFanCurState2", 2,
     [](Caller& c) {
         tFanState state{-1, 1000, 1000000};
         if (Diag_GetFanCurState2(&state) != 1) return;
         c.Expect(state.manual == 0 || state.manual == 1, "Diag_GetFanCurState2 manual", state.manual);
         bool known = false;
         for (unsigned v : kPwmSettingValues) known = known || state.speed == v;
         c.Expect(known, "Diag_GetFanCurState2 speed", state.speed);
         c.Expect(ValidRpm(state.rpm), "Diag_GetFanCurState2 rpm", state.rpm);
     }},
    {"Diag_SetFanManual2", 2,
     [](Caller& c) {
         const int result = Diag_SetFanManual2(c.Coin() ? 1 : 0);
         c.Expect(result == 0 || result == 1, "Diag_SetFanManual2 result", result);
     }},
    {"Diag_SetFanSpeed2", 2,
     [](Caller& c) {
         const int result = Diag_SetFanSpeed2(c.Pick(kPwmSettings));
         c.Expect(result == 0 || result == 1, "Diag_SetFanSpeed2 result", result);
     }},
    {"Diag_ZLKDGetCpuTemperature2", 2,
     [](Caller& c) {
         int t = -1;
         if (Diag_ZLKDGetCpuTemperature2(&t) == 1) c.Expect(t == kCpuTemperature, "Diag_ZLKDGetCpuTemperature2", t);
     }},
    {"Diag_ZLKDGetFanSpeed2", 2,
     [](Caller& c) {
         int rpm = -1;
         if (Diag_ZLKDGetFanSpeed2(&rpm) == 1) c.Expect(ValidRpm(rpm) && rpm != 0, "Diag_ZLKDGetFanSpeed2", rpm);
     }},
    {"Diag_ZLKDSetFanSpeed2", 2,
     [](Caller& c) {
         const int result = Diag_ZLKDSetFanSpeed2(static_cast<unsigned>(c.Pick(kTargetRpms)));
         c.Expect(result == 0 || result == 1, "Diag_ZLKDSetFanSpeed2 result", result);
     }},
    {"Diag_FanCpu", 2,
     [](Caller& c) {
         int rpm = static_cast<int>(c.Pick(kPwmSettings));  // the PWM path's setting comes in here
         int t = -1;
         const bool ok = Diag_FanCpu(c.Pick(kTargetRpms), c.Pick(kDutyLevels), &rpm, &t, c.Coin());
         ExpectFanReading(c, ok, rpm, t, "Diag_FanCpu");
     }},
    {"Diag_FanCpuGetValue", 2,
     [](Caller& c) {
         int rpm = -1;
         int t = -1;
         const bool ok = Diag_FanCpuGetValue(&rpm, &t, c.Coin());
         ExpectFanReading(c, ok, rpm, t, "Diag_FanCpuGetValue");
     }},
    {"Diag_FillDMIData", 1,
     [](Caller& c) {
         const int result = Diag_FillDMIData(c.Coin());
         c.Expect(result == 0, "Diag_FillDMIData", result);
         if (result == 0) c.Filled();
     }},
    {"Diag_CheckMachine", 1,
     [](Caller& c) {
         const bool ok = Diag_CheckMachine(c.Coin());
         c.Expect(ok, "Diag_CheckMachine refused the Quorvex notebook");
         if (ok) {
             c.Filled();
             const int type = Diag_GetMachineType();
             c.Expect(type == c.reference.fromFirmware.machineType, "machine type after the check", type);
         }
     }},
    {"Diag_GetMachineType", 2,
     [](Caller& c) {
         const int type = Diag_GetMachineType();
         c.Expect(type == 0 || type == c.reference.fromFirmware.machineType, "Diag_GetMachineType", type);
     }},
    {"Diag_GetManufacturer", 2,
     [](Caller& c) { c.ExpectIdentityText(Diag_GetManufacturer, &Identity::manufacturer, "Diag_GetManufacturer"); }},
    {"Diag_GetProductName", 2,
     [](Caller& c) { c.ExpectIdentityText(Diag_GetProductName, &Identity::product, "Diag_GetProductName"); }},
    {"Diag_GetBoardSN", 2,
     [](Caller& c) { c.ExpectIdentityText(Diag_GetBoardSN, &Identity::boardSerial, "Diag_GetBoardSN"); }},
    {"Diag_Get90Code", 2,
     [](Caller& c) {
         std::string sku = "untouched";
         Diag_Get90Code(sku);
         c.Expect(c.Observe([&sku](const Identity& record) { return record.sku == sku; }), "Diag_Get90Code",
                  static_cast<long long>(sku.size()));
     }},
    {"Diag_GetPanelBrightness", 2,
     [](Caller& c) {
         unsigned char b = 0xEE;
         c.Expect(Diag_GetPanelBrightness(&b) && b <= kMaxBrightness, "Diag_GetPanelBrightness", b);
     }},
    {"Diag_SetPanelBrightness", 2,
     [](Caller& c) {
         c.Expect(Diag_SetPanelBrightness(static_cast<unsigned char>(c.Between(0, kMaxBrightness))),
                  "Diag_SetPanelBrightness failed");
     }},
    {"Diag_GetCPUMode", 2,
     [](Caller& c) {
         unsigned char high = 0xEE;
         unsigned char low = 0xEE;
         c.Expect(Diag_GetCPUMode(&high, &low) && high < kCpuModes && low == kCpuModes, "Diag_GetCPUMode", high);
     }},
    {"Diag_SetCPUMode", 2,
     [](Caller& c) { c.Expect(Diag_SetCPUMode(static_cast<unsigned long>(c.Between(0, kCpuModes - 1))),
                              "Diag_SetCPUMode failed"); }},
    {"Diag_SetWifiState", 1,
     [](Caller& c) {
         tDiagWifiBTPowerState s{static_cast<unsigned char>(c.Coin()), 0, 0};
         c.Expect(Diag_SetWifiState(&s), "Diag_SetWifiState failed");
     }},
    {"Diag_GetWifiState", 1,
     [](Caller& c) {
         tDiagWifiBTPowerState s{0xEE, 0xEE, 0xEE};
         c.Expect(Diag_GetWifiState(&s) && s.bWifi <= 1 && s.bBT == 0xEE, "Diag_GetWifiState", s.bWifi);
     }},
    {"Diag_SetBTState", 1,
     [](Caller& c) {
         tDiagWifiBTPowerState s{0, static_cast<unsigned char>(c.Coin()), 0};
         c.Expect(Diag_SetBTState(&s), "Diag_SetBTState failed");
     }},
    {"Diag_GetBTState", 1,
     [](Caller& c) {
         tDiagWifiBTPowerState s{0xEE, 0xEE, 0xEE};
         c.Expect(Diag_GetBTState(&s) && s.bBT <= 1 && s.bCam == 0xEE, "Diag_GetBTState", s.bBT);
     }},
    {"Diag_SetCamState", 1,
     [](Caller& c) {
         tDiagWifiBTPowerState s{0, 0, static_cast<unsigned char>(c.Coin())};
         c.Expect(Diag_SetCamState(&s), "Diag_SetCamState failed");
     }},
    {"Diag_GetCamState", 1,
     [](Caller& c) {
         tDiagWifiBTPowerState s{0xEE, 0xEE, 0xEE};
         c.Expect(Diag_GetCamState(&s) && s.bCam <= 1 && s.bWifi == 0xEE, "Diag_GetCamState", s.bCam);
     }},
    {"Diag_GetACPISupportMethods", 2,
     [](Caller& c) {
         bool wlan = false;
         bool bluetooth = false;
         bool camera = false;
         c.Expect(Diag_GetACPISupportMethods(&wlan, &bluetooth, &camera) && wlan && bluetooth && camera,
                  "Diag_GetACPISupportMethods");
     }},
    {"Diag_AcpiNBSetBTPowerOn", 2,
     [](Caller& c) { c.Expect(Diag_AcpiNBSetBTPowerOn(c.Coin()) == 0, "Diag_AcpiNBSetBTPowerOn failed"); }},
    {"Diag_AcpiNBQueryBTDevice", 2,
     [](Caller& c) {
         bool present = false;
         c.Expect(Diag_AcpiNBQueryBTDevice(present) == 0 && present, "Diag_AcpiNBQueryBTDevice");
     }},
    {"Diag_AcpiNBQueryWifiDevice", 2,
     [](Caller& c) {
         bool present = false;
         c.Expect(Diag_AcpiNBQueryWifiDevice(present) == 0 && present, "Diag_AcpiNBQueryWifiDevice");
     }},
    {"Diag_BatteryState", 2,
     [](Caller& c) {
         tBattery b{};
         const tBattery& r = c.reference.battery;
         c.Expect(Diag_BatteryState(&b) && b.state == r.state && b.designCapacity == r.designCapacity &&
                      b.fullChargeCapacity == r.fullChargeCapacity && b.remainingCapacity == r.remainingCapacity &&
                      b.remainingPercentage == r.remainingPercentage && b.voltage == r.voltage,
                  "Diag_BatteryState", b.remainingCapacity);
     }},
    {"Diag_GetBatteryChargeState", 2,
     [](Caller& c) {
         const unsigned char byte = Diag_GetBatteryChargeState();  // 0: binding down
         c.Expect(byte == 0 || (byte & ~kChargingOffBit) == kChargeByte, "Diag_GetBatteryChargeState", byte);
     }},
    {"Diag_SetBatteryChargeEnabled", 1, [](Caller& c) { Diag_SetBatteryChargeEnabled(c.Coin()); }},
    {"Diag_IsBatteryChargeEnabled", 2, [](Caller&) { Diag_IsBatteryChargeEnabled(); }},
};
static_assert(sizeof kCalls / sizeof kCalls[0] == kExportCount, "every export once");

// The ZLKD EC's commands on 0x68/0x6C, answered on the other platforms
// too (a fixed 3000 RPM and the CPU temperature), so that every exchange
// any export makes is one the EC knows: then any unknown command or stray
// byte the EC sees is an exchange cut into by another.
void AnswerZlkdCommands(sim::Notebook& nb) {
    using Bytes = sim::EcModel::Bytes;
    constexpr std::uint8_t kTachometerHigh = 0x0F;  // inverted count 160: 3000 RPM
    constexpr std::uint8_t kTachometerLow = 0x5F;
    constexpr std::uint8_t kBoardTemperature = 38;
    constexpr int kTargetBytes = 2;
    nb.ec.SetCommand(sim::EcModel::k68, ec::kCmdTachometerRead, 0,
                     [](const Bytes&) { return Bytes{kTachometerHigh, kTachometerLow}; });
    nb.ec.SetCommand(sim::EcModel::k68, ec::kCmdTachometerWrite, kTargetBytes, [](const Bytes&) { return Bytes{}; });
    nb.ec.SetCommand(sim::EcModel::k68, ec::kCmdReadCpuTemp68, 0, [](const Bytes&) {
        return Bytes{static_cast<std::uint8_t>(kCpuTemperature), kBoardTemperature, 0};
    });
}

// A fresh library on a fresh notebook of the platform, its pauses on the
// notebook's clock, every device of the library's served by the notebook.
sim::Notebook& FreshNotebook(const Platform& p) {
    ResetLibrary();
    sim::Notebook& nb = sim::ResetCurrent();
    sim::ApplyScenarios(nb, p.scenarios);
    if (!p.zlkdFirmware) AnswerZlkdCommands(nb);
    nb.chargeSwitch.Set(sim::ChargeSwitch::kRamByte, kChargeByte);
    nb.chargeSwitch.Set(sim::ChargeSwitch::kMachineTypeByte, kChargeByte);
    UseNotebookClock();
    platform::testing::OverrideModulePath("WinRing0.dll", kStandinPath);
    platform::testing::SetFirmwareTableHost(&sim::FirmwareHost());
    platform::testing::SetDeviceHost(&nb.devices);
    return nb;
}

Identity CurrentIdentity() {
    Identity id;
    char text[257] = {};
    Diag_GetManufacturer(text, 256);
    id.manufacturer = text;
    Diag_GetProductName(text, 256);
    id.product = text;
    Diag_GetBoardSN(text, 256);
    id.boardSerial = text;
    Diag_Get90Code(id.sku);
    id.machineType = Diag_GetMachineType();
    return id;
}

Reference ReferenceOf(const Platform& p) {
    Reference r;
    FreshNotebook(p);
    Diag_CheckMachine(false);
    r.fromFirmware = CurrentIdentity();
    Diag_BatteryState(&r.battery);
    FreshNotebook(p);
    Diag_CheckMachine(true);
    r.fromMemory = CurrentIdentity();
    FreshNotebook(p);
    char text[64] = {};
    Diag_InitHWIO();
    Diag_GetECFirmwareVer2(text, sizeof text);
    r.firmwareText = text;
    Diag_FreeHWIO();
    return r;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int CountLines(const std::string& text, const char* line) {
    int count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    return count;
}

// The index in kCalls of an export.
std::size_t CallOf(const char* name) {
    std::size_t i = 0;
    while (i + 1 < sizeof kCalls / sizeof kCalls[0] && std::strcmp(kCalls[i].name, name) != 0) ++i;
    return i;
}

// One epoch: a freshly loaded library (the firmware text read, as a host
// does before the fan test, and the binding released again), then the
// threads. Each thread starts as a host does, with the machine check or the
// binding, so that the identity fill (which loads kernel32.dll or binds the
// port-I/O library) meets the other threads' binding; then it calls at
// random.
int RunEpoch(const std::string& name, const Reference& reference, int threads, int rounds, unsigned seed) {
    ResetLibrary();
    Diag_InitHWIO();
    char text[64] = {};
    Diag_GetECFirmwareVer2(text, sizeof text);
    Diag_FreeHWIO();
    std::vector<int> weights;
    for (const Call& call : kCalls) weights.push_back(call.weight);
    const std::size_t firstCalls[] = {CallOf("Diag_CheckMachine"), CallOf("Diag_InitHWIO")};
    std::atomic<int> ready{0};
    std::atomic<int> calls{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            Caller caller{name, reference, std::mt19937(seed + static_cast<unsigned>(t))};
            std::discrete_distribution<std::size_t> choose(weights.begin(), weights.end());
            ++ready;
            while (ready.load() < threads) std::this_thread::yield();
            kCalls[caller.Pick(firstCalls)].run(caller);
            for (int i = 1; i < rounds; ++i) kCalls[choose(caller.random)].run(caller);
            calls += rounds;
        });
    }
    for (std::thread& thread : pool) thread.join();

    // One complete identity record, whichever path filled it.
    const Identity id = CurrentIdentity();
    Check(id == Identity{} || id == reference.fromFirmware || id == reference.fromMemory, name,
          "identity record is none of the complete records");
    return calls.load();
}

// One platform: its epochs, then the checks of what they left. The
// library's lines go to `outputPath` (standard output is redirected there
// for the whole run).
int RunPlatform(const Platform& p, int threads, int epochs, int rounds, unsigned seed,
                const std::string& outputPath) {
    const std::string name = p.scenarios;
    const Reference reference = ReferenceOf(p);
    Check(!reference.fromFirmware.manufacturer.empty() && !reference.firmwareText.empty(), name,
          "the notebook answers one call at a time");
    sim::Notebook& nb = FreshNotebook(p);
    const std::array<std::uint8_t, 0x10000> ramBefore = [&nb] {
        std::array<std::uint8_t, 0x10000> ram{};
        for (std::size_t a = 0; a < ram.size(); ++a) ram[a] = nb.ec.Ram(static_cast<std::uint16_t>(a));
        return ram;
    }();
    const std::uint8_t flagBefore = nb.fan.fan0ControlFlag;

    std::fflush(stdout);
    const long outputStart = std::ftell(stdout);
    int calls = 0;
    for (int e = 0; e < epochs; ++e) {
        calls += RunEpoch(name, reference, threads, rounds, seed * 7919u + static_cast<unsigned>(e) * 131u);
    }
    std::fflush(stdout);

    // Everything released, nothing cut into another.
    Diag_FreeHWIO();
    Check(nb.ec.bytesWhileBusy == 0, name, "EC: bytes sent while it was busy", nb.ec.bytesWhileBusy);
    Check(nb.ec.unknownCommands == 0, name, "EC: commands cut short", nb.ec.unknownCommands);
    Check(nb.ec.strayDataBytes == 0, name, "EC: parameter bytes nobody asked for", nb.ec.strayDataBytes);
    Check(nb.ec.writesFromUnansweredReads == 0, name, "EC: writes from unanswered reads",
          nb.ec.writesFromUnansweredReads);
    Check(nb.driver.accessesUninitialized == 0, name, "port access with the driver down",
          nb.driver.accessesUninitialized);
    Check(nb.devices.strayHandleUses == 0, name, "device handle used after it was closed",
          nb.devices.strayHandleUses);
    Check(nb.acpi.driver.maxOpenHandles <= 1, name, "ACPI handles open at once", nb.acpi.driver.maxOpenHandles);
    Check(nb.acpi.driver.OpenHandles() == 0, name, "ACPI handles left open", nb.acpi.driver.OpenHandles());
    Check(nb.acpi.objects.strayCalls == 0, name, "interface object used after release", nb.acpi.objects.strayCalls);
    Check(nb.acpi.objects.live.empty() && nb.acpi.objects.constructed == nb.acpi.objects.destroyed, name,
          "interface objects left", static_cast<long long>(nb.acpi.objects.live.size()));
    Check(nb.batteries.OpenHandles() == 0 && nb.batteries.badHandleUses == 0, name, "battery handles",
          nb.batteries.OpenHandles());
    const auto resources = platform::testing::OutstandingSetupApiResources();
    Check(resources.deviceInfoSets == 0 && resources.localAllocations == 0, name, "Setup API resources left",
          resources.deviceInfoSets + resources.localAllocations);
    Check(platform::testing::ModuleReferences("C:\\Windows\\system32\\kernel32.dll") == 0, name,
          "kernel32.dll references left");

    // No EC bit changed that no export owns.
    for (std::size_t a = 0; a < ramBefore.size(); ++a) {
        const auto owned = kOwnedBits.find(static_cast<std::uint16_t>(a));
        const std::uint8_t mask = owned == kOwnedBits.end() ? 0 : owned->second;
        const std::uint8_t changed = ramBefore[a] ^ nb.ec.Ram(static_cast<std::uint16_t>(a));
        Check((changed & ~mask) == 0, name, "EC RAM bits changed that no export owns", static_cast<long long>(a));
    }
    Check(((flagBefore ^ nb.fan.fan0ControlFlag) & ~kFan0EcControlBit) == 0, name,
          "Fan0 control flag bits changed that no export owns", nb.fan.fan0ControlFlag);

    const std::string output = ReadFile(outputPath).substr(static_cast<std::size_t>(outputStart));
    if (p.zlkdFirmware) {
        Check(CountLines(output, kPwmPathLine) == 0, name, "ZLKD fan test took the PWM path",
              CountLines(output, kPwmPathLine));
    }
    return calls;
}

int Run(int argc, char** argv) {
    int threads = kDefaultThreads;
    int epochs = kDefaultEpochs;
    int rounds = kDefaultRounds;
    unsigned seed = kDefaultSeed;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const long value = std::strtol(argv[i + 1], nullptr, 10);
        if (option == "--threads" && value > 0) {
            threads = static_cast<int>(value);
        } else if (option == "--epochs" && value > 0) {
            epochs = static_cast<int>(value);
        } else if (option == "--rounds" && value > 0) {
            rounds = static_cast<int>(value);
        } else if (option == "--seed" && value >= 0) {
            seed = static_cast<unsigned>(value);
        } else {
            std::fprintf(stderr, "usage: %s [--threads N] [--epochs N] [--rounds N] [--seed N]\n", argv[0]);
            return 2;
        }
    }
    char pattern[] = "/tmp/hwtk3-stress-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        std::fprintf(stderr, "stress: no temporary file\n");
        return 2;
    }
    close(fd);
    const std::string outputPath = pattern;
    std::fflush(stdout);
    if (std::freopen(outputPath.c_str(), "w", stdout) == nullptr) {
        std::fprintf(stderr, "stress: cannot send the library's lines to %s\n", pattern);
        return 2;
    }
    int calls = 0;
    for (const Platform& p : kPlatforms) calls += RunPlatform(p, threads, epochs, rounds, seed, outputPath);
    ResetLibrary();
    RemoveStandIns();
    std::remove(outputPath.c_str());
    g_failures.Print();
    const int failures = g_failures.Count();
    std::fprintf(stderr,
                 "stress: %d threads x %d rounds x %d epochs on %zu platforms, %d calls of the %d exports "
                 "(seed %u): %s\n",
                 threads, rounds, epochs, sizeof kPlatforms / sizeof kPlatforms[0], calls, kExportCount, seed,
                 failures == 0 ? "all checks held" : (std::to_string(failures) + " checks failed").c_str());
    return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace hwtk3::test

int main(int argc, char** argv) { return hwtk3::test::Run(argc, argv); }
