#include "tools/diag_sequence.h"

#include <algorithm>
#include <chrono>
#include <functional>

#include "include/hwtk3.h"
#include "tools/diag_bind_check.h"
#include "tools/diag_machine.h"

namespace hwtk3::diag {
namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned char kChargingOffBit = 0x40;  // EC charge switch byte, bit 6
constexpr int kRpmTolerancePercent = 10;
// The PWM map's RAM window has no handshake, so the library cannot tell
// when no EC decodes it: then every byte reads 0xFF, a speed of 65535 RPM
// and a temperature of 255 C. That is no measurement, whatever the result.
constexpr int kUndecodedWindowRpm = 0xFFFF;
constexpr int kUndecodedWindowTemperature = 0xFF;
constexpr int kTextSize = 256;

struct StepDefinition {
    const char* id;
    const char* title;
    bool Options::*askedFor;  // for a step that runs only when asked for; else nullptr
    bool (*run)(const Options& options, StepResult& step);
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The text queries fill a caller buffer without a terminator when the text
// is as long as the buffer: keep the last byte for one.
std::string Text(void (*query)(char*, int)) {
    char buffer[kTextSize] = {};
    query(buffer, kTextSize - 1);
    return buffer;
}

bool MachineCheck(const Options& options, StepResult& step) {
    const bool accepted = Diag_CheckMachine(options.dmiScan);
    const std::string manufacturer = Text(Diag_GetManufacturer);
    const std::string product = Text(Diag_GetProductName);
    const std::string boardSerial = Text(Diag_GetBoardSN);
    std::string sku;
    Diag_Get90Code(sku);
    const int machineType = Diag_GetMachineType();
    step.Add("source", options.dmiScan ? "BIOS area" : "firmware table service");
    step.Add("accepted", accepted);
    step.Add("manufacturer", manufacturer);
    step.Add("product", product);
    step.Add("board_serial", boardSerial);
    step.Add("sku", sku);
    step.Add("machine_type", machineType);
    step.detail = Quoted(manufacturer) + " " + Quoted(product) + ", board " + Quoted(boardSerial) + ", 90 code " +
                  Quoted(sku) + ", machine type " + std::to_string(machineType) +
                  (accepted ? "" : ": not a machine of ours");
    const std::string hint = IdentityHint(options.dmiScan);
    if (!accepted && !hint.empty()) step.detail += " (" + hint + ")";
    return accepted;
}

bool g_bound = false;  // the bind step brought port I/O up

bool Bind(const Options&, StepResult& step) {
    const bool bound = Diag_InitHWIO() == 1;
    g_bound = bound;
    step.Add("bound", bound);
    step.detail = bound ? "port-I/O library bound" : "Diag_InitHWIO returned 0";
    if (!bound) {
        step.diagnosis = CheckFailedBind();
        const std::string refusal = BindRefusal();
        if (!refusal.empty()) {
            step.skipped = true;
            step.detail = refusal;
        }
    }
    return bound;
}

std::string g_firmwareVersion;  // as the EC firmware step read it, for the fan path's name
bool g_firmwareKnown = false;

bool EcFirmware(const Options&, StepResult& step) {
    char version[32] = {};
    const bool ok = Diag_GetECFirmwareVer2(version, 31) == 1;
    g_firmwareVersion = ok ? version : "";
    g_firmwareKnown = ok;
    step.Add("version", g_firmwareVersion);
    step.detail = ok ? Quoted(version) : "no complete version text from the EC";
    return ok;
}

// The path the library will take, named the way it chooses it. Without a
// complete firmware text we cannot tell which EC map the library saw (it
// searches whatever bytes arrived).
std::string FanPath(const Options& options, bool firmwareKnown) {
    if (Diag_GetMachineType() != 0) return "machine-type";
    if (!options.ecPlatform) return "AMD";
    if (!firmwareKnown) return "EC";
    return g_firmwareVersion.find("ZLKD") != std::string::npos ? "ZLKD" : "PWM";
}

bool FanTest(const Options& options, StepResult& step) {
    const std::string path = FanPath(options, g_firmwareKnown);
    int rpm = options.pwmSetting;  // the PWM path takes its setting from here
    int temperature = 0;
    const bool ok = Diag_FanCpu(options.fanTarget, options.dutyLevel, &rpm, &temperature, options.ecPlatform);
    std::string target;
    bool plausible = rpm > 0;
    step.Add("path", path);
    if (path == "ZLKD" || path == "AMD") {
        target = std::to_string(options.fanTarget) + " RPM";
        step.Add("target_rpm", options.fanTarget);
        const int tolerance = options.fanTarget * kRpmTolerancePercent / 100;
        plausible = rpm >= options.fanTarget - tolerance && rpm <= options.fanTarget + tolerance;
    } else if (path == "PWM" || path == "EC") {
        target = "setting " + std::to_string(options.pwmSetting);
        step.Add("target_setting", options.pwmSetting);
    } else {
        target = "duty level " + std::to_string(options.dutyLevel);
        step.Add("target_duty_level", options.dutyLevel);
    }
    step.detail = path + " path, target " + target;
    if (!ok) {
        step.detail += ": Diag_FanCpu failed";
        return false;
    }
    step.Add("rpm", rpm);
    step.Add("cpu_temperature", temperature);
    step.detail += ", measured " + std::to_string(rpm) + " RPM, CPU " + std::to_string(temperature) + " C";
    if ((path == "PWM" || path == "EC") && rpm == kUndecodedWindowRpm && temperature == kUndecodedWindowTemperature) {
        step.detail += ": every byte read 0xFF (no EC behind the RAM window 0x381)";
        return false;
    }
    if (!plausible) step.detail += ": fan speed out of range";
    return plausible;
}

bool BatteryStatus(const Options&, StepResult& step) {
    tBattery battery{};
    if (!Diag_BatteryState(&battery)) {
        step.detail = "no battery found";
        const std::string hint = BatteryHint();
        if (!hint.empty()) step.detail += " (" + hint + ")";
        return false;
    }
    step.Add("state", battery.state);
    step.Add("design_mah", battery.designCapacity);
    step.Add("full_charge_mah", battery.fullChargeCapacity);
    step.Add("remaining_mah", battery.remainingCapacity);
    step.Add("percent", battery.remainingPercentage);
    step.Add("voltage", battery.voltage);
    char text[160];
    std::snprintf(text, sizeof text, "%s, %d%%, design %d mAh, full %d mAh, remaining %d mAh, %.2f V",
                  battery.state.c_str(), battery.remainingPercentage, battery.designCapacity,
                  battery.fullChargeCapacity, battery.remainingCapacity, battery.voltage);
    step.detail = text;
    return true;
}

// Off, read back, on: the station's battery is always left charging.
bool ChargeSwitch(const Options&, StepResult& step) {
    const bool off = Diag_SetBatteryChargeEnabled(false);
    const bool machineType = Diag_GetMachineType() != 0;
    const bool readBackOff = machineType ? !Diag_IsBatteryChargeEnabled()
                                         : (Diag_GetBatteryChargeState() & kChargingOffBit) != 0;
    const bool on = Diag_SetBatteryChargeEnabled(true);
    step.Add("switched_off", off);
    step.Add("read_back_off", readBackOff);
    step.Add("switched_on", on);
    step.detail = std::string("off ") + (off ? "ok" : "FAILED") + ", read back " +
                  (readBackOff ? "off" : "still charging") + ", on " + (on ? "ok" : "FAILED");
    return off && readBackOff && on;
}

bool AcpiControls(const Options&, StepResult& step) {
    bool wlan = false, bluetooth = false, camera = false;
    tDiagWifiBTPowerState power{};
    unsigned char brightness = 0, modeHigh = 0, modeLow = 0;
    const bool capabilities = Diag_GetACPISupportMethods(&wlan, &bluetooth, &camera);
    const bool radios = Diag_GetWifiState(&power) & Diag_GetBTState(&power) & Diag_GetCamState(&power);
    const bool panel = Diag_GetPanelBrightness(&brightness);
    const bool mode = Diag_GetCPUMode(&modeHigh, &modeLow);
    step.Add("wlan_control", wlan);
    step.Add("bluetooth_control", bluetooth);
    step.Add("camera_control", camera);
    step.Add("wlan_on", power.bWifi != 0);
    step.Add("bluetooth_on", power.bBT != 0);
    step.Add("camera_on", power.bCam != 0);
    step.Add("brightness", static_cast<int>(brightness));
    step.Add("cpu_mode", static_cast<int>(modeHigh << 8 | modeLow));
    char text[200];
    std::snprintf(text, sizeof text,
                  "controls wlan %s bt %s cam %s; power wlan %s bt %s cam %s; brightness %u; CPU mode 0x%02X%02X",
                  wlan ? "yes" : "no", bluetooth ? "yes" : "no", camera ? "yes" : "no", power.bWifi ? "on" : "off",
                  power.bBT ? "on" : "off", power.bCam ? "on" : "off", brightness, modeHigh, modeLow);
    step.detail = text;
    if (!capabilities) step.detail = "ACPI control device not available";
    return capabilities && radios && panel && mode;
}

bool Presence(const Options&, StepResult& step) {
    bool bluetooth = false, wlan = false;
    const bool btOk = Diag_AcpiNBQueryBTDevice(bluetooth) == 0;
    const bool wlanOk = Diag_AcpiNBQueryWifiDevice(wlan) == 0;
    if (btOk) step.Add("bluetooth_present", bluetooth);
    if (wlanOk) step.Add("wlan_present", wlan);
    step.detail = std::string("Bluetooth ") + (btOk ? (bluetooth ? "present" : "absent") : "query failed") +
                  ", wireless LAN " + (wlanOk ? (wlan ? "present" : "absent") : "query failed");
    return btOk && wlanOk;
}

bool Release(const Options&, StepResult& step) {
    Diag_FreeHWIO();
    g_bound = false;
    step.detail = "port-I/O library released";
    return true;
}

const StepDefinition kSteps[] = {
    {"machine", "machine check", nullptr, MachineCheck},
    {"bind", "bind port I/O", nullptr, Bind},
    {"ec-firmware", "EC firmware version", nullptr, EcFirmware},
    {"fan", "fan test", nullptr, FanTest},
    {"battery", "battery status", nullptr, BatteryStatus},
    {"charge", "charge switch", &Options::chargeSwitch, ChargeSwitch},
    {"acpi", "ACPI controls", nullptr, AcpiControls},
    {"presence", "device presence", nullptr, Presence},
    {"release", "release port I/O", nullptr, Release},
};

bool Listed(const std::vector<std::string>& list, const char* id) {
    return std::find(list.begin(), list.end(), id) != list.end();
}

bool Chosen(const Options& options, const StepDefinition& step) {
    if (Listed(options.skip, step.id)) return false;
    if (!options.only.empty()) return Listed(options.only, step.id);
    return step.askedFor == nullptr || options.*step.askedFor;
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

const std::vector<std::string>& StepIds() {
    static const std::vector<std::string> ids = [] {
        std::vector<std::string> list;
        for (const StepDefinition& step : kSteps) list.push_back(step.id);
        return list;
    }();
    return ids;
}

Report RunSequence(const Options& options, std::FILE* out) {
    Report report;
    report.machine = MachineName();
    report.scenario = MachineScenario(options);
    g_firmwareVersion.clear();
    g_firmwareKnown = false;
    g_bound = false;
    const Clock::time_point start = Clock::now();
    for (const StepDefinition& definition : kSteps) {
        if (!Chosen(options, definition)) continue;
        StepResult step;
        step.id = definition.id;
        step.title = definition.title;
        std::fflush(stdout);
        std::fprintf(out, "%s---- %s\n", kReportPrefix, definition.title);
        std::fflush(out);
        std::string reason;
        if (MayRun(options, definition.id, g_bound, reason)) {
            BeginProgress(definition.title);
            const Clock::time_point stepStart = Clock::now();
            step.passed = definition.run(options, step);
            step.seconds = Since(stepStart);
            EndProgress();
        } else {
            step.skipped = true;
            step.detail = reason;
        }
        std::fflush(stdout);
        std::fprintf(out, "%s\n%s", StepLine(step).c_str(), DiagnosisLines(step).c_str());
        std::fflush(out);
        report.steps.push_back(step);
    }
    report.seconds = Since(start);
    report.pauseSeconds = LibraryPauseSeconds();
    DescribeChannels(report);
    return report;
}

}  // namespace hwtk3::diag
