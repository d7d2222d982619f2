// The real hwtk3.dll binds the stand-in WinRing0.dll beside it, reads the
// EC firmware text through it, and releases it. hwtk3.dll is loaded with
// us and shares our C runtime: loading it must leave our standard output as
// the runtime set it up.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "include/hwtk3.h"
#include "tests/wine/wine_check.h"

using wine_check::Check;
using wine_check::CheckEqual;

int main() {
    {
        // scripts/wine-tests runs us with standard output in a file, which
        // the C runtime buffers fully: a line we print stays in our buffer
        // until we flush it. A library that made the shared stream
        // unbuffered when it was loaded would have sent it already.
        const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
        Check(GetFileType(handle) == FILE_TYPE_DISK, "standard output is a file");
        LARGE_INTEGER before{}, after{};
        GetFileSizeEx(handle, &before);
        std::fputs("a line of ours, still buffered\n", stdout);
        GetFileSizeEx(handle, &after);
        std::fflush(stdout);
        Check(after.QuadPart == before.QuadPart, "loading hwtk3.dll left our standard output buffered");
    }
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
