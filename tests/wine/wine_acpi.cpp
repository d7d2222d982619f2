// ACPI control under Wine. There is no ACPI control driver here, so every
// device-control export fails at once, without its pause. The interface
// object comes from the stand-in VQMITF.dll that hwtk3.dll imports; the
// program reruns itself with other stand-in scenarios for the failure and
// partial-presence cases.
#include <windows.h>

#include <functional>
#include <string>

#include "include/hwtk3.h"
#include "tests/wine/wine_check.h"

using wine_check::Check;
using wine_check::CheckEqual;

namespace {

const char kScenarioVariable[] = "HWTK3_SIM_SCENARIO";

// Runs this program again as a child with a scenario of the stand-in;
// its exit code.
DWORD RunChild(const char* scenario) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" " + scenario;
    SetEnvironmentVariableA(kScenarioVariable, scenario);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    DWORD code = 99;
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    SetEnvironmentVariableA(kScenarioVariable, nullptr);
    return code;
}

// Child: 0 when the interface exports behave as the scenario demands.
int Child(const std::string& scenario) {
    wine_check::StdoutCapture out;
    bool bluetooth = false, wlan = true;
    const int set = Diag_AcpiNBSetBTPowerOn(true);
    const int queryBluetooth = Diag_AcpiNBQueryBTDevice(bluetooth);
    const int queryWlan = Diag_AcpiNBQueryWifiDevice(wlan);
    const std::string text = out.Text();
    if (scenario == "nb-invoke-fails") {
        return set == -1 && queryBluetooth == -1 && queryWlan == -1 && !bluetooth && wlan &&
                       text == "Fail!\nFail!\nFail!\n"
                   ? 0
                   : 1;
    }
    if (scenario == "hwrs-bt-only") {
        return set == 0 && queryBluetooth == 0 && queryWlan == 0 && bluetooth && !wlan &&
                       text ==
                           "Success for BLED method!\nSuccess for HWRS method!\nbios reported BT is existed\n"
                           "Success for HWRS method!\n"
                   ? 0
                   : 1;
    }
    return 2;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) return Child(argv[1]);

    // Device controls: no driver, so false at once and nothing written.
    tDiagWifiBTPowerState power{0x80, 0x55, 0x7F};
    unsigned char brightness = 0xEE, high = 0xEE, low = 0xEE;
    bool wlan = false, bluetooth = false, camera = false;
    struct Export {
        const char* name;
        std::function<bool()> run;
    };
    const Export exports[] = {
        {"Diag_GetPanelBrightness", [&] { return Diag_GetPanelBrightness(&brightness); }},
        {"Diag_SetPanelBrightness", [] { return Diag_SetPanelBrightness(50); }},
        {"Diag_GetCPUMode", [&] { return Diag_GetCPUMode(&high, &low); }},
        {"Diag_SetCPUMode", [] { return Diag_SetCPUMode(1); }},
        {"Diag_SetWifiState", [&] { return Diag_SetWifiState(&power); }},
        {"Diag_GetWifiState", [&] { return Diag_GetWifiState(&power); }},
        {"Diag_SetBTState", [&] { return Diag_SetBTState(&power); }},
        {"Diag_GetBTState", [&] { return Diag_GetBTState(&power); }},
        {"Diag_SetCamState", [&] { return Diag_SetCamState(&power); }},
        {"Diag_GetCamState", [&] { return Diag_GetCamState(&power); }},
        {"Diag_GetACPISupportMethods", [&] { return Diag_GetACPISupportMethods(&wlan, &bluetooth, &camera); }},
    };
    {
        wine_check::StdoutCapture out;
        for (const Export& e : exports) {
            LARGE_INTEGER start, end;
            QueryPerformanceCounter(&start);
            const bool ok = e.run();
            QueryPerformanceCounter(&end);
            const double ms = Milliseconds(start, end);
            Check(!ok && ms < 45.0, e.name, "false without pausing (" + std::to_string(ms) + " ms)");
        }
        CheckEqual(out.Text(), "", "device controls print nothing");
    }
    Check(power.bWifi == 0x80 && power.bBT == 0x55 && power.bCam == 0x7F && brightness == 0xEE && high == 0xEE &&
              low == 0xEE && !wlan && !bluetooth && !camera,
          "no output written");

    // Interface object through the stand-in VQMITF.dll, default scenario:
    // both devices reported.
    Check(GetModuleHandleA("VQMITF.dll") != nullptr, "VQMITF.dll loaded with hwtk3.dll");
    {
        wine_check::StdoutCapture out;
        Check(Diag_AcpiNBSetBTPowerOn(false) == 0, "Diag_AcpiNBSetBTPowerOn(false) returns 0");
        Check(Diag_AcpiNBSetBTPowerOn(true) == 0, "Diag_AcpiNBSetBTPowerOn(true) returns 0");
        CheckEqual(out.Text(), "Success for BLED method!\nSuccess for BLED method!\n", "BLED lines");
    }
    {
        bool present = false;
        wine_check::StdoutCapture out;
        Check(Diag_AcpiNBQueryBTDevice(present) == 0 && present, "Bluetooth reported");
        CheckEqual(out.Text(), "Success for HWRS method!\nbios reported BT is existed\n", "Bluetooth lines");
    }
    {
        bool present = false;
        wine_check::StdoutCapture out;
        Check(Diag_AcpiNBQueryWifiDevice(present) == 0 && present, "wireless LAN reported");
        CheckEqual(out.Text(), "Success for HWRS method!\nbios reported Wifi is existed\n", "wireless LAN lines");
    }
    Check(RunChild("hwrs-bt-only") == 0, "HWRS 0x100: Bluetooth only");
    Check(RunChild("nb-invoke-fails") == 0, "failing InvokeMethod: -1, \"Fail!\", outputs untouched");
    return wine_check::Finish();
}
