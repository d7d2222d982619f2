// The fan test on the ZLKD EC through the real hwtk3.dll and the stand-in
// WinRing0.dll, on real time: the commanded speed comes back from the
// tachometer after the settle pause.
#include <windows.h>

#include <string>

#include "include/hwtk3.h"
#include "tests/wine/wine_check.h"

using wine_check::Check;
using wine_check::CheckEqual;

int main() {
    Check(Diag_InitHWIO() == 1, "Diag_InitHWIO binds the stand-in");
    char version[32] = {};
    Check(Diag_GetECFirmwareVer2(version, 31) == 1, "firmware text read");
    {
        wine_check::StdoutCapture out;
        int rpm = -1;
        int temperature = -1;
        const DWORD start = GetTickCount();
        const bool ok = Diag_FanCpu(3000, 0, &rpm, &temperature, true);
        const DWORD took = GetTickCount() - start;
        const std::string text = out.Text();
        Check(ok, "Diag_FanCpu returns true");
        Check(rpm == 3000, "fan speed read back", "rpm " + std::to_string(rpm));
        Check(temperature == 45, "CPU temperature", std::to_string(temperature) + " degrees");
        Check(took >= 3400, "settle and read pauses", std::to_string(took) + " ms");
        CheckEqual(text,
                   "ec ZLKD\n"
                   "Set rpm to 3000\n"
                   "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f\n"
                   "Set 0x24 to port 0x6C\n"
                   "Set 0xF to port 0x68\n"
                   "Set 0x5F to port 0x68\n"
                   "tacho msb: 0xF, lsb: 0x5F\n"
                   "tacho: 160\n"
                   "Get fan speed 3000\n",
                   "ZLKD path lines");
    }
    {
        wine_check::StdoutCapture out;
        int rpm = -1;
        int temperature = -1;
        const bool ok = Diag_FanCpuGetValue(&rpm, &temperature, true);
        Check(ok && rpm == 3000, "Diag_FanCpuGetValue reads the same speed", "rpm " + std::to_string(rpm));
        CheckEqual(out.Text(), "tacho msb: 0xF, lsb: 0x5F\ntacho: 160\n", "read-only lines");
    }
    Diag_FreeHWIO();
    int rpm = -1;
    int temperature = -1;
    {
        wine_check::StdoutCapture out;
        Check(!Diag_FanCpu(3000, 0, &rpm, &temperature, true) && rpm == -1, "unbound: the fan test fails");
        CheckEqual(out.Text(), "ec ZLKD\nSet rpm to 3000\nError while setting fan speed!\n", "unbound lines");
    }
    return wine_check::Finish();
}
