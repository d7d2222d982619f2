// On Linux hwtk3-diag runs on the virtual notebook: the library binds the
// stand-in port-I/O library, and its firmware table, device and pause
// calls are answered by the notebook.
#include <cstdio>
#include <thread>

#include "platform/testing.h"
#include "sim/notebook.h"
#include "sim/scenario.h"
#include "sim/smbios_builder.h"
#include "tools/diag_machine.h"

namespace hwtk3::diag {
namespace {

constexpr platform::DWORD kProgressSliceMs = 250;  // pauses longer than this show progress
constexpr platform::DWORD kProgressEveryMs = 1000;

bool g_fast = false;
double g_pauseSeconds = 0.0;
std::string g_progressTitle;
platform::DWORD g_progressMs = 0;

void ProgressTick(platform::DWORD ms) {
    if (g_progressTitle.empty()) return;
    const platform::DWORD before = g_progressMs / kProgressEveryMs;
    g_progressMs += ms;
    if (g_progressMs / kProgressEveryMs != before) {
        std::fprintf(stderr, "   ... %s: %.1f s\n", g_progressTitle.c_str(), g_progressMs / 1000.0);
    }
}

// Every pause of the library: counted, moved to the notebook's clock on
// --fast, slept for real (in slices, so progress can be shown) otherwise.
void Pause(platform::DWORD ms, void*) {
    g_pauseSeconds += ms / 1000.0;
    if (g_fast) {
        sim::Current().Sleep(ms);
        return;
    }
    for (platform::DWORD left = ms; left > 0;) {
        const platform::DWORD slice = left < kProgressSliceMs ? left : kProgressSliceMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        left -= slice;
        if (ms > kProgressSliceMs) ProgressTick(slice);
    }
}

}  // namespace

bool PrepareMachine(const Options& options, std::string& error) {
    sim::Notebook& notebook = sim::ResetCurrent();
    if (!sim::ApplyScenarios(notebook, options.scenario)) {
        error = "unknown scenario in '" + options.scenario + "' (see --list-scenarios)";
        return false;
    }
    g_fast = options.fast;
    g_pauseSeconds = 0.0;
    if (!g_fast) notebook.clock.UseRealTime(true);
    platform::testing::SetSleepHook(Pause, nullptr);
    platform::testing::SetDeviceHost(&notebook.devices);
    platform::testing::SetFirmwareTableHost(&sim::FirmwareHost());
    return true;
}

std::string MachineName() { return "virtual notebook"; }

double LibraryPauseSeconds() { return g_pauseSeconds; }

std::string ScenarioList() {
    std::string list;
    char line[160];
    for (const sim::Scenario& scenario : sim::Scenarios()) {
        std::snprintf(line, sizeof line, "%-22s %s\n", scenario.name, scenario.description);
        list += line;
    }
    return list;
}

void BeginProgress(const std::string& title) {
    g_progressTitle = title;
    g_progressMs = 0;
}

void EndProgress() { g_progressTitle.clear(); }

}  // namespace hwtk3::diag
