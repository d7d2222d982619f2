// Where hwtk3.dll takes "WinRing0.dll" from: beside itself first, then the
// application's folder, then the system folder; never from the current
// directory or PATH. The program lays out folders of its own and runs a
// copy of itself in them as the child that binds.
#include <windows.h>

#include <cstring>
#include <string>

#include "include/hwtk3.h"
#include "tests/wine/wine_check.h"

using wine_check::Check;

namespace {

std::string Folder(HMODULE module) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

bool Copy(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0; }

// Runs the child in `cwd` with `pathPrefix` in front of PATH; its exit code.
DWORD RunChild(const std::string& exe, const std::string& mode, const std::string& cwd,
               const std::string& pathPrefix) {
    char oldPath[32768];
    const DWORD n = GetEnvironmentVariableA("PATH", oldPath, sizeof oldPath);
    const std::string saved(oldPath, n < sizeof oldPath ? n : 0);
    SetEnvironmentVariableA("PATH", (pathPrefix + ";" + saved).c_str());
    std::string command = "\"" + exe + "\" " + mode;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    DWORD code = 99;
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    SetEnvironmentVariableA("PATH", saved.c_str());
    return code;
}

std::string SystemFolder() {
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, MAX_PATH);
    return std::string(path, n) + "\\";
}

// Child: 0 when the binding did what the mode expects: refused, or bound
// to the copy in the folder of hwtk3.dll ("lib"), of the program ("app")
// or the system folder ("system").
int Child(const std::string& mode, const std::string& from) {
    wine_check::StdoutCapture out;
    const int bound = Diag_InitHWIO();
    const std::string text = out.Text();
    if (mode == "--expect-refused") {
        return bound == 0 && text.find("Failed to LoadLibrary, err code 126\n") != std::string::npos ? 0 : 1;
    }
    HMODULE ring = GetModuleHandleA("WinRing0.dll");
    const std::string folder = from == "lib"    ? Folder(GetModuleHandleA("hwtk3.dll"))
                               : from == "app"  ? Folder(nullptr)
                                                : SystemFolder();
    if (bound != 1 || ring == nullptr) return 2;
    return _stricmp(Folder(ring).c_str(), folder.c_str()) == 0 ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) return Child(argv[1], argc > 2 ? argv[2] : "");

    const std::string bin = Folder(nullptr);
    const std::string root = bin + "loading\\";
    const std::string app = root + "app\\", lib = root + "lib\\", cwd = root + "cwd\\", path = root + "path\\";
    for (const std::string& dir : {root, app, lib, cwd, path}) CreateDirectoryA(dir.c_str(), nullptr);
    // Copies a run before this one left behind.
    for (const std::string& stale : {lib, app, SystemFolder()}) DeleteFileA((stale + "WinRing0.dll").c_str());
    bool laidOut = Copy(bin + "wine_loading.exe", app + "wine_loading.exe");
    for (const char* dll : {"hwtk3.dll", "VQMITF.dll", "libstdc++-6.dll", "libgcc_s_dw2-1.dll"}) {
        laidOut = Copy(bin + dll, lib + dll) && laidOut;
    }
    laidOut = Copy(bin + "WinRing0.dll", cwd + "WinRing0.dll") && laidOut;
    laidOut = Copy(bin + "WinRing0.dll", path + "WinRing0.dll") && laidOut;
    Check(laidOut, "folders laid out");

    // hwtk3.dll comes from PATH (lib); planted copies sit in the current
    // directory and in another PATH folder.
    Check(RunChild(app + "wine_loading.exe", "--expect-refused", cwd, path + ";" + lib) == 0,
          "WinRing0.dll in the current directory or on PATH is not loaded");
    // Then one more copy at a time, from the last place searched to the
    // first: each new one is the one loaded.
    const std::string system = SystemFolder() + "WinRing0.dll";
    Check(Copy(bin + "WinRing0.dll", system), "stand-in placed in the system folder");
    Check(RunChild(app + "wine_loading.exe", "--expect-from system", cwd, path + ";" + lib) == 0,
          "WinRing0.dll in the system folder is loaded, last");
    Check(Copy(bin + "WinRing0.dll", app + "WinRing0.dll"), "stand-in placed in the application's folder");
    Check(RunChild(app + "wine_loading.exe", "--expect-from app", cwd, path + ";" + lib) == 0,
          "the application's folder comes before the system folder");
    Check(Copy(bin + "WinRing0.dll", lib + "WinRing0.dll"), "stand-in placed beside hwtk3.dll");
    Check(RunChild(app + "wine_loading.exe", "--expect-from lib", cwd, path + ";" + lib) == 0,
          "WinRing0.dll beside hwtk3.dll comes before the application's folder");
    DeleteFileA(system.c_str());
    return wine_check::Finish();
}
