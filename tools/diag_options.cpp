#include <cstdlib>
#include <sstream>

#include "tools/diag_options.h"
#include "tools/diag_sequence.h"

namespace hwtk3::diag {
namespace {

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        if (!item.empty()) items.push_back(item);
    }
    return items;
}

bool KnownSteps(const std::vector<std::string>& ids, std::string& error) {
    for (const std::string& id : ids) {
        bool known = false;
        for (const std::string& step : StepIds()) known = known || step == id;
        if (!known) {
            error = "unknown step '" + id + "'";
            return false;
        }
    }
    return true;
}

bool Number(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < low || parsed > high) return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

bool VirtualNotebookOption(const std::string& arg) {
    return arg == "--scenario" || arg == "--list-scenarios" || arg == "--fast";
}

const char* UsageText() {
    return "usage: hwtk3-diag [options]\n"
           "Runs the factory test sequence through hwtk3 and reports each step.\n"
#if !defined(_WIN32)
           "  --scenario NAME[,NAME...]  virtual notebook set-up (default: default)\n"
           "  --list-scenarios           list the scenarios\n"
           "  --fast                     the library's pauses on the virtual clock\n"
           "  --hardware                 run on this machine instead of the virtual notebook\n"
           "  --ec                       with --hardware: also the steps that drive EC ports\n"
           "                             (bind, EC firmware, fan, charge switch; needs root)\n"
#endif
           "  --steps ID[,ID...]         run only these steps\n"
           "  --skip ID[,ID...]          leave these steps out\n"
           "                             steps: machine bind ec-firmware fan battery charge\n"
           "                                    acpi presence release\n"
           "  --fan-target RPM           fan target on the ZLKD and AMD paths (default 3000)\n"
           "  --duty LEVEL               duty level on the machine-type path (default 100)\n"
           "  --pwm-setting N            fan setting on the PWM path, 0-100 (default 60)\n"
           "  --amd-platform             the notebook is an AMD platform (no EC fan map)\n"
           "  --dmi-scan                 read the identity from the BIOS area\n"
           "  --charge-switch            switch charging off, read it back, switch it on\n"
           "  --json                     print the report as JSON on the last line\n"
           "  --json-file PATH           write the JSON report to PATH\n"
           "  --version                  print the version and exit\n"
           "Exit status: 0 when every step passed, 1 when one failed, 2 on a usage error,\n"
           "3 when none failed but some were skipped (--hardware).\n";
}

bool ParseOptions(int argc, char** argv, Options& options, bool& help, std::string& error) {
    help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
#if defined(_WIN32)
        // The Windows build runs on the machine itself: the virtual
        // notebook's options do not exist there.
        if (VirtualNotebookOption(arg)) {
            error = arg + " belongs to the virtual notebook of the Linux build; "
                          "hwtk3-diag.exe tests the machine it runs on";
            return false;
        }
#endif
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--fast") {
            options.fast = true;
        } else if (arg == "--hardware") {
            options.hardware = true;
        } else if (arg == "--ec") {
            options.ec = true;
        } else if (arg == "--amd-platform") {
            options.ecPlatform = false;
        } else if (arg == "--dmi-scan") {
            options.dmiScan = true;
        } else if (arg == "--charge-switch") {
            options.chargeSwitch = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--scenario" && hasValue) {
            options.scenario = argv[++i];
            options.scenarioGiven = true;
        } else if (arg == "--json-file" && hasValue) {
            options.jsonFile = argv[++i];
        } else if (arg == "--steps" && hasValue) {
            options.only = SplitList(argv[++i]);
            if (!KnownSteps(options.only, error)) return false;
        } else if (arg == "--skip" && hasValue) {
            options.skip = SplitList(argv[++i]);
            if (!KnownSteps(options.skip, error)) return false;
        } else if (arg == "--fan-target" && hasValue) {
            if (!Number(argv[++i], 0, 480000, options.fanTarget)) return error = "bad --fan-target", false;
        } else if (arg == "--duty" && hasValue) {
            if (!Number(argv[++i], 0, 102, options.dutyLevel)) return error = "bad --duty (0-102)", false;
        } else if (arg == "--pwm-setting" && hasValue) {
            if (!Number(argv[++i], 0, 100, options.pwmSetting)) return error = "bad --pwm-setting (0-100)", false;
        } else {
            error = "unknown or incomplete option '" + arg + "'";
            return false;
        }
    }
    if (options.hardware && (options.fast || options.scenarioGiven)) {
        error = "--hardware runs on this machine: --scenario and --fast are for the virtual notebook";
        return false;
    }
    if (options.ec && !options.hardware) {
        error = "--ec goes with --hardware (the virtual notebook always runs the EC steps)";
        return false;
    }
    return true;
}

}  // namespace hwtk3::diag
