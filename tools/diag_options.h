// What the test engineer asked hwtk3-diag for.
#ifndef HWTK3_TOOLS_DIAG_OPTIONS_H
#define HWTK3_TOOLS_DIAG_OPTIONS_H

#include <string>
#include <vector>

namespace hwtk3::diag {

struct Options {
    std::string scenario = "default";  // virtual notebook set-up
    bool scenarioGiven = false;        // --scenario was on the command line
    bool fast = false;                 // the library's pauses on the virtual clock (Linux)
    bool hardware = false;             // the machine itself instead of the virtual notebook (Linux)
    bool ec = false;                   // on the machine itself: run the steps that drive EC ports
    std::vector<std::string> only;     // run just these steps (ids), in sequence order
    std::vector<std::string> skip;     // leave these out
    int fanTarget = 3000;              // RPM, ZLKD and AMD paths
    int dutyLevel = 100;               // machine-type path
    int pwmSetting = 60;               // PWM path, 0..100
    bool ecPlatform = true;            // false: the AMD fan path
    bool dmiScan = false;              // identity from the BIOS area, not the firmware service
    bool chargeSwitch = false;         // charging off, read back, on again
    bool json = false;                 // the JSON report as the last line of output
    std::string jsonFile;              // ... or into this file
    bool version = false;              // print the version and exit
};

// Parses the command line; false with a message in `error` on a mistake.
// `help` is set for --help.
bool ParseOptions(int argc, char** argv, Options& options, bool& help, std::string& error);
const char* UsageText();
// True for the options of the virtual notebook (--scenario,
// --list-scenarios, --fast): a usage error in the Windows build.
bool VirtualNotebookOption(const std::string& arg);

}  // namespace hwtk3::diag

#endif  // HWTK3_TOOLS_DIAG_OPTIONS_H
