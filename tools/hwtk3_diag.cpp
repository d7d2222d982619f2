// hwtk3-diag: runs the factory test sequence through the library and
// prints what each step did. On Linux it runs on the virtual notebook.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "include/hwtk3.h"
#include "platform/testing.h"
#include "sim/notebook.h"
#include "sim/scenario.h"
#include "sim/smbios_builder.h"

namespace {

struct Options {
    std::string scenario = "default";
    bool fast = false;  // virtual clock: the library's pauses cost nothing
    bool dmiScan = false;  // identity from the BIOS area instead of the firmware service
};

void Usage() {
    std::printf(
        "usage: hwtk3-diag [--scenario NAME[,NAME...]] [--fast] [--dmi-scan] [--list-scenarios]\n"
        "  --scenario  set up the virtual notebook (default: default)\n"
        "  --fast      run the library's pauses on the virtual clock\n"
        "  --dmi-scan  read the machine identity from physical memory\n");
}

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scenario" && i + 1 < argc) {
            options.scenario = argv[++i];
        } else if (arg == "--fast") {
            options.fast = true;
        } else if (arg == "--dmi-scan") {
            options.dmiScan = true;
        } else if (arg == "--list-scenarios") {
            for (const auto& s : hwtk3::sim::Scenarios()) std::printf("%-16s %s\n", s.name, s.description);
            std::exit(0);
        } else {
            Usage();
            return false;
        }
    }
    return true;
}

struct Step {
    std::string name;
    bool passed;
    std::string detail;
    double seconds;
};

template <typename Fn>
Step Run(const char* name, Fn fn) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    std::string detail;
    const bool passed = fn(detail);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::fflush(stdout);
    std::printf("[%s] %s: %s (%.3f s)\n", passed ? "PASS" : "FAIL", name, detail.c_str(), took.count());
    return Step{name, passed, detail, took.count()};
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) return 2;

    hwtk3::sim::Notebook& notebook = hwtk3::sim::ResetCurrent();
    if (!hwtk3::sim::ApplyScenarios(notebook, options.scenario)) {
        std::fprintf(stderr, "hwtk3-diag: unknown scenario in '%s'\n", options.scenario.c_str());
        return 2;
    }
    if (options.fast) {
        hwtk3::platform::testing::SetSleepHook(
            [](hwtk3::platform::DWORD ms, void*) { hwtk3::sim::Current().Sleep(ms); }, nullptr);
    } else {
        notebook.clock.UseRealTime(true);
    }
    hwtk3::platform::testing::SetFirmwareTableHost(&hwtk3::sim::FirmwareHost());
    std::printf("hwtk3-diag on the virtual notebook (scenario %s)\n", options.scenario.c_str());

    std::vector<Step> steps;
    steps.push_back(Run("machine check", [&options](std::string& detail) {
        const bool accepted = Diag_CheckMachine(options.dmiScan);
        char manufacturer[64] = {};
        char product[64] = {};
        char boardSerial[64] = {};
        Diag_GetManufacturer(manufacturer, sizeof manufacturer - 1);
        Diag_GetProductName(product, sizeof product - 1);
        Diag_GetBoardSN(boardSerial, sizeof boardSerial - 1);
        std::string ninetyCode;
        Diag_Get90Code(ninetyCode);
        detail = std::string("\"") + manufacturer + "\", \"" + product + "\", board SN \"" + boardSerial +
                 "\", 90 code \"" + ninetyCode + "\", machine type " + std::to_string(Diag_GetMachineType());
        return accepted;
    }));
    steps.push_back(Run("bind port I/O", [](std::string& detail) {
        const int bound = Diag_InitHWIO();
        detail = bound == 1 ? "WinRing0 bound" : "Diag_InitHWIO returned 0";
        return bound == 1;
    }));
    steps.push_back(Run("EC firmware version", [](std::string& detail) {
        char version[32] = {};
        const int ok = Diag_GetECFirmwareVer2(version, 31);
        detail = ok == 1 ? std::string("\"") + version + "\"" : "no complete version text";
        return ok == 1;
    }));
    steps.push_back(Run("release port I/O", [](std::string& detail) {
        Diag_FreeHWIO();
        detail = "released";
        return true;
    }));

    int failed = 0;
    for (const Step& step : steps) failed += step.passed ? 0 : 1;
    std::printf("%zu steps, %d passed, %d failed\n", steps.size(),
                static_cast<int>(steps.size()) - failed, failed);
    return failed == 0 ? 0 : 1;
}
