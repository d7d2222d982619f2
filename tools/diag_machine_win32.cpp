// On Windows hwtk3-diag runs on the machine itself. When the stand-in DLLs
// of the virtual notebook sit beside the library (a test set-up), the
// scenario reaches them through their environment variable. Progress of a
// long step comes from a thread of our own, since the library blocks.
#include <windows.h>

#include <cstdio>

#include "tools/diag_machine.h"

namespace hwtk3::diag {
namespace {

constexpr char kScenarioVariable[] = "HWTK3_SIM_SCENARIO";
constexpr DWORD kProgressEveryMs = 1000;

HANDLE g_progressThread = nullptr;
HANDLE g_progressStop = nullptr;
std::string g_progressTitle;

DWORD WINAPI ProgressLoop(void*) {
    DWORD elapsed = 0;
    while (WaitForSingleObject(g_progressStop, kProgressEveryMs) == WAIT_TIMEOUT) {
        elapsed += kProgressEveryMs;
        std::fprintf(stderr, "   ... %s: %.1f s\n", g_progressTitle.c_str(), elapsed / 1000.0);
    }
    return 0;
}

}  // namespace

bool PrepareMachine(const Options& options, std::string& error) {
    if (options.fast) {
        error = "--fast needs the virtual notebook's clock (Linux build)";
        return false;
    }
    SetEnvironmentVariableA(kScenarioVariable, options.scenario.c_str());
    return true;
}

std::string MachineName() { return "this machine"; }

double LibraryPauseSeconds() { return -1.0; }

std::string ScenarioList() { return {}; }

void BeginProgress(const std::string& title) {
    g_progressTitle = title;
    g_progressStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_progressStop != nullptr) g_progressThread = CreateThread(nullptr, 0, ProgressLoop, nullptr, 0, nullptr);
}

bool MayRun(const Options&, const std::string&, bool, std::string&) { return true; }

std::string BindRefusal() { return {}; }

std::string IdentityHint(bool) { return {}; }

std::string BatteryHint() { return {}; }

void DescribeChannels(Report&) {}

void EndProgress() {
    if (g_progressThread != nullptr) {
        SetEvent(g_progressStop);
        WaitForSingleObject(g_progressThread, INFINITE);
        CloseHandle(g_progressThread);
        g_progressThread = nullptr;
    }
    if (g_progressStop != nullptr) {
        CloseHandle(g_progressStop);
        g_progressStop = nullptr;
    }
}

}  // namespace hwtk3::diag
