// run_not_elevated.exe PROGRAM [ARGUMENTS...]: runs PROGRAM with the
// limited token linked to ours, as an administrator's program runs without
// "Run as administrator", and exits with its exit status. For the Wine
// checks of what hwtk3-diag.exe says about elevation; never shipped.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kLaunchFailed = 125;

std::string Quoted(const char* argument) { return std::string("\"") + argument + "\""; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: run_not_elevated PROGRAM [ARGUMENTS...]\n");
        return kLaunchFailed;
    }
    char program[MAX_PATH];
    const DWORD length = GetFullPathNameA(argv[1], MAX_PATH, program, nullptr);
    if (length == 0 || length >= MAX_PATH) return kLaunchFailed;
    std::string commandLine = Quoted(program);
    for (int i = 2; i < argc; ++i) commandLine += " " + Quoted(argv[i]);

    HANDLE token = nullptr;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
        !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size)) {
        std::fprintf(stderr, "run_not_elevated: no limited token (error %lu)\n", GetLastError());
        return kLaunchFailed;
    }
    CloseHandle(token);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessAsUserA(linked.LinkedToken, program, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                              nullptr, &startup, &process)) {
        std::fprintf(stderr, "run_not_elevated: cannot start %s (error %lu)\n", program, GetLastError());
        return kLaunchFailed;
    }
    CloseHandle(linked.LinkedToken);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = kLaunchFailed;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
