// The real hwtk3.dll binds the stand-in WinRing0.dll beside it, reads the
// EC firmware text through it, and releases it.
#include <windows.h>

#include <cstring>

#include "include/hwtk3.h"
#include "tests/wine/wine_check.h"

using wine_check::Check;
using wine_check::CheckEqual;

int main() {
    {
        wine_check::StdoutCapture out;
        Check(Diag_InitHWIO() == 1, "Diag_InitHWIO binds the stand-in");
        CheckEqual(out.Text(), "preparing to initialize WinRing0\nWinRing0 was initialized\n", "bind lines");
    }
    Check(GetModuleHandleA("WinRing0.dll") != nullptr, "WinRing0.dll is loaded");
    {
        char version[32];
        std::memset(version, 0x55, sizeof version);
        wine_check::StdoutCapture out;
        const int ok = Diag_GetECFirmwareVer2(version, 16);
        Check(ok == 1, "Diag_GetECFirmwareVer2 returns 1");
        CheckEqual(version, "ZLKD 1.07.02", "firmware text");
        Check(version[15] == 0 && static_cast<unsigned char>(version[16]) == 0x55,
              "text NUL-padded to the length and no further");
        CheckEqual(out.Text(), "EC FW:=ZLKD 1.07.02=\n", "firmware line");
    }
    {
        wine_check::StdoutCapture out;
        Diag_FreeHWIO();
        Diag_FreeHWIO();
        CheckEqual(out.Text(), "IO driver is going to release...\n", "one release");
    }
    Check(GetModuleHandleA("WinRing0.dll") == nullptr, "WinRing0.dll is unloaded");
    char version[32] = {};
    Check(Diag_GetECFirmwareVer2(version, 16) == 0, "unbound: firmware read fails");
    return wine_check::Finish();
}
