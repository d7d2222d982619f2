// On Windows hwtk3-diag runs on the machine itself; there is no scenario to
// choose. Beside the virtual notebook's stand-in DLLs (which pick their
// scenario from their own environment variable) it says so: the stand-ins
// answer an entry point the real libraries lack. Progress of a long step
// comes from a thread of our own, since the library blocks.
#include <windows.h>

#include <cstdio>

#include "sim/standin/standin_identity.h"
#include "tools/diag_machine.h"

namespace hwtk3::diag {
namespace {

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

// The scenario a stand-in loaded in this process was set up with, or null
// when none is: VQMITF.dll comes with hwtk3.dll, WinRing0.dll once bound.
// Only modules already loaded are asked; nothing is loaded for it.
const char* StandinScenario() {
    for (const char* name : {"VQMITF.dll", "WinRing0.dll"}) {
        const HMODULE module = GetModuleHandleA(name);
        if (module == nullptr) continue;
        const auto entry = reinterpret_cast<void (*)()>(GetProcAddress(module, sim::kIdentityEntryPoint));
        if (entry == nullptr) continue;
        const char* scenario = reinterpret_cast<sim::IdentityFunction>(entry)();
        return scenario != nullptr ? scenario : "";
    }
    return nullptr;
}

}  // namespace

bool PrepareMachine(const Options&, std::string&) { return true; }

std::string MachineName() { return StandinScenario() != nullptr ? "virtual notebook" : "this machine"; }

std::string MachineScenario(const Options&) {
    const char* scenario = StandinScenario();
    return scenario != nullptr ? scenario : "";
}

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
