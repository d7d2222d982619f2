// The real hwtk3.dll under Wine: battery status through Wine's own Setup
// API, which has no battery, and the charge switch through the stand-in
// WinRing0.dll (MachineType 0, so EC RAM 0xD2 on 0x62/0x66).
#include <windows.h>

#include "include/hwtk3.h"
#include "tests/wine/wine_check.h"

using wine_check::Check;
using wine_check::CheckEqual;

int main() {
    {
        tBattery battery;
        battery.reserved = 0x1234;
        battery.state = "untouched";
        battery.designCapacity = -1;
        battery.fullChargeCapacity = -2;
        battery.remainingCapacity = -3;
        battery.remainingPercentage = -4;
        battery.voltage = -5.0;
        wine_check::StdoutCapture out;
        Check(!Diag_BatteryState(&battery), "Diag_BatteryState: no battery under Wine");
        Check(battery.reserved == 0x1234 && battery.state == "untouched" && battery.designCapacity == -1 &&
                  battery.fullChargeCapacity == -2 && battery.remainingCapacity == -3 &&
                  battery.remainingPercentage == -4 && battery.voltage == -5.0,
              "record untouched");
        CheckEqual(out.Text(), "", "battery status prints nothing");
    }

    Check(!Diag_SetBatteryChargeEnabled(false), "unbound: charge switch fails");
    Check(Diag_GetBatteryChargeState() == 0, "unbound: charge state 0");
    {
        wine_check::StdoutCapture out;
        Check(Diag_InitHWIO() == 1, "Diag_InitHWIO binds the stand-in");
    }
    {
        wine_check::StdoutCapture out;
        Check(Diag_SetBatteryChargeEnabled(false), "charging switched off");
        CheckEqual(out.Text(),
                   "Set battery to discharging state\n"
                   "Original data of address 0xD2 = 0x0\n"
                   "Read address 0xD2 back, value = 0x40\n"
                   "Success !! battery is discharging.\n",
                   "switch-off lines");
    }
    Check(Diag_GetBatteryChargeState() == 0x40, "charge state shows charging off");
    Check(!Diag_IsBatteryChargeEnabled(), "MachineType 0: charge-enabled query is false");
    {
        wine_check::StdoutCapture out;
        Check(Diag_SetBatteryChargeEnabled(true), "charging switched back on");
        CheckEqual(out.Text(),
                   "Set battery to charging state\n"
                   "Original data of address 0xD2 = 0x40\n"
                   "Read address 0xD2 back, value = 0x0\n"
                   "Success !! battery is charging.\n",
                   "switch-on lines");
    }
    Check(Diag_GetBatteryChargeState() == 0, "charge state shows charging on");
    {
        wine_check::StdoutCapture out;
        Diag_FreeHWIO();
    }
    return wine_check::Finish();
}
