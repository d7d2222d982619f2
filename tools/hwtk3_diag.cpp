// hwtk3-diag: runs the factory test sequence through the library and
// prints what each step did. On Linux it runs on the virtual notebook.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "include/hwtk3.h"
#include "platform/testing.h"
#include "sim/acpi_device_host.h"
#include "sim/notebook.h"
#include "sim/scenario.h"
#include "sim/smbios_builder.h"

namespace {

struct Options {
    std::string scenario = "default";
    bool fast = false;  // virtual clock: the library's pauses cost nothing
    bool dmiScan = false;  // identity from the BIOS area instead of the firmware service
    bool amdPlatform = false;  // fan test without the EC platform flag
    bool chargeSwitch = false;  // switch charging off and on again
};

void Usage() {
    std::printf(
        "usage: hwtk3-diag [--scenario NAME[,NAME...]] [--fast] [--amd-platform] [--charge-switch]\n"
        "                  [--dmi-scan] [--list-scenarios]\n"
        "  --scenario       set up the virtual notebook (default: default)\n"
        "  --fast           run the library's pauses on the virtual clock\n"
        "  --amd-platform   the notebook is an AMD platform (fan test)\n"
        "  --charge-switch  switch battery charging off, read it back, switch it on\n"
        "  --dmi-scan       read the machine identity from physical memory\n");
}

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scenario" && i + 1 < argc) {
            options.scenario = argv[++i];
        } else if (arg == "--fast") {
            options.fast = true;
        } else if (arg == "--dmi-scan") {
            options.dmiScan = true;
        } else if (arg == "--amd-platform") {
            options.amdPlatform = true;
        } else if (arg == "--charge-switch") {
            options.chargeSwitch = true;
        } else if (arg == "--list-scenarios") {
            for (const auto& s : hwtk3::sim::Scenarios()) std::printf("%-16s %s\n", s.name, s.description);
            std::exit(0);
        } else {
            Usage();
            return false;
        }
    }
    return true;
}

struct Step {
    std::string name;
    bool passed;
    std::string detail;
    double seconds;
};

template <typename Fn>
Step Run(const char* name, Fn fn) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    std::string detail;
    const bool passed = fn(detail);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::fflush(stdout);
    std::printf("[%s] %s: %s (%.3f s)\n", passed ? "PASS" : "FAIL", name, detail.c_str(), took.count());
    return Step{name, passed, detail, took.count()};
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) return 2;

    hwtk3::sim::Notebook& notebook = hwtk3::sim::ResetCurrent();
    if (!hwtk3::sim::ApplyScenarios(notebook, options.scenario)) {
        std::fprintf(stderr, "hwtk3-diag: unknown scenario in '%s'\n", options.scenario.c_str());
        return 2;
    }
    if (options.fast) {
        hwtk3::platform::testing::SetSleepHook(
            [](hwtk3::platform::DWORD ms, void*) { hwtk3::sim::Current().Sleep(ms); }, nullptr);
    } else {
        notebook.clock.UseRealTime(true);
    }
    hwtk3::platform::testing::SetFirmwareTableHost(&hwtk3::sim::FirmwareHost());
    // The notebook's devices (its batteries and the ACPI control driver)
    // answer the library's device calls.
    hwtk3::platform::testing::SetDeviceHost(&notebook.devices);
    std::printf("hwtk3-diag on the virtual notebook (scenario %s)\n", options.scenario.c_str());

    std::vector<Step> steps;
    steps.push_back(Run("machine check", [&options](std::string& detail) {
        const bool accepted = Diag_CheckMachine(options.dmiScan);
        char manufacturer[64] = {};
        char product[64] = {};
        char boardSerial[64] = {};
        Diag_GetManufacturer(manufacturer, sizeof manufacturer - 1);
        Diag_GetProductName(product, sizeof product - 1);
        Diag_GetBoardSN(boardSerial, sizeof boardSerial - 1);
        std::string ninetyCode;
        Diag_Get90Code(ninetyCode);
        detail = std::string("\"") + manufacturer + "\", \"" + product + "\", board SN \"" + boardSerial +
                 "\", 90 code \"" + ninetyCode + "\", machine type " + std::to_string(Diag_GetMachineType());
        return accepted;
    }));
    steps.push_back(Run("bind port I/O", [](std::string& detail) {
        const int bound = Diag_InitHWIO();
        detail = bound == 1 ? "WinRing0 bound" : "Diag_InitHWIO returned 0";
        return bound == 1;
    }));
    std::string firmware;
    steps.push_back(Run("EC firmware version", [&firmware](std::string& detail) {
        char version[32] = {};
        const int ok = Diag_GetECFirmwareVer2(version, 31);
        if (ok == 1) firmware = version;
        detail = ok == 1 ? std::string("\"") + version + "\"" : "no complete version text";
        return ok == 1;
    }));
    steps.push_back(Run("fan test", [&firmware, &options](std::string& detail) {
        constexpr int kTargetRpm = 3000;
        constexpr int kDutyLevel = 100;
        constexpr int kPwmSetting = 60;
        // The path the library takes, named the way it chooses it, and what
        // that path commands.
        std::string path = "ZLKD";
        std::string target = std::to_string(kTargetRpm) + " RPM";
        if (Diag_GetMachineType() != 0) {
            path = "machine-type";
            target = "duty level " + std::to_string(kDutyLevel);
        } else if (options.amdPlatform) {
            path = "AMD";
        } else if (firmware.find("ZLKD") == std::string::npos) {
            path = "PWM";
            target = "setting " + std::to_string(kPwmSetting);
        }
        int rpm = kPwmSetting;  // the PWM map takes its setting from here
        int temperature = 0;
        const bool ok = Diag_FanCpu(kTargetRpm, kDutyLevel, &rpm, &temperature, !options.amdPlatform);
        detail = path + " path, target " + target;
        detail += ok ? ", measured " + std::to_string(rpm) + " RPM, CPU " + std::to_string(temperature) + " C"
                     : ", Diag_FanCpu returned false";
        return ok && rpm > 0;
    }));
    steps.push_back(Run("ACPI controls", [](std::string& detail) {
        bool wlan = false, bluetooth = false, camera = false;
        tDiagWifiBTPowerState power{};
        unsigned char brightness = 0, modeHigh = 0, modeLow = 0;
        const bool ok = Diag_GetACPISupportMethods(&wlan, &bluetooth, &camera) && Diag_GetWifiState(&power) &&
                        Diag_GetBTState(&power) && Diag_GetCamState(&power) &&
                        Diag_GetPanelBrightness(&brightness) && Diag_GetCPUMode(&modeHigh, &modeLow);
        char text[160];
        std::snprintf(text, sizeof text,
                      "controls wlan=%d bt=%d cam=%d; power wlan=%u bt=%u cam=%u; brightness %u; "
                      "CPU mode %02x %02x",
                      wlan, bluetooth, camera, power.bWifi, power.bBT, power.bCam, brightness, modeHigh, modeLow);
        detail = ok ? text : std::string("failed after: ") + text;
        return ok;
    }));
    steps.push_back(Run("ACPI interface", [](std::string& detail) {
        bool bluetooth = false, wlan = false;
        const bool ok = Diag_AcpiNBQueryBTDevice(bluetooth) == 0 && Diag_AcpiNBQueryWifiDevice(wlan) == 0;
        detail = ok ? std::string("Bluetooth ") + (bluetooth ? "present" : "absent") + ", wireless LAN " +
                          (wlan ? "present" : "absent")
                    : "HWRS failed";
        return ok;
    }));
    if (options.chargeSwitch) {
        steps.push_back(Run("charge switch round trip", [](std::string& detail) {
            const bool off = Diag_SetBatteryChargeEnabled(false);
            const unsigned state = Diag_GetBatteryChargeState();
            // Charging goes back on whatever the switch-off did.
            const bool on = Diag_SetBatteryChargeEnabled(true);
            char text[96];
            std::snprintf(text, sizeof text, "off %s, EC byte 0x%02X, on %s", off ? "ok" : "FAILED", state,
                          on ? "ok" : "FAILED");
            detail = text;
            return off && (state & 0x40) != 0 && on;
        }));
    }
    steps.push_back(Run("battery status", [](std::string& detail) {
        tBattery battery{};
        if (!Diag_BatteryState(&battery)) {
            detail = "no battery found";
            return false;
        }
        char text[160];
        std::snprintf(text, sizeof text, "%s, design %d mAh, full %d mAh, remaining %d mAh (%d%%), %.3f V",
                      battery.state.c_str(), battery.designCapacity, battery.fullChargeCapacity,
                      battery.remainingCapacity, battery.remainingPercentage, battery.voltage);
        detail = text;
        return true;
    }));
    steps.push_back(Run("release port I/O", [](std::string& detail) {
        Diag_FreeHWIO();
        detail = "released";
        return true;
    }));

    int failed = 0;
    for (const Step& step : steps) failed += step.passed ? 0 : 1;
    std::printf("%zu steps, %d passed, %d failed\n", steps.size(),
                static_cast<int>(steps.size()) - failed, failed);
    return failed == 0 ? 0 : 1;
}
