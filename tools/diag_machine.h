// The machine the factory sequence runs on. On Linux that is the virtual
// notebook, set up from the scenario, or with --hardware the machine itself
// through the real port-I/O provider and the kernel's files; on Windows it
// is the machine itself.
#ifndef HWTK3_TOOLS_DIAG_MACHINE_H
#define HWTK3_TOOLS_DIAG_MACHINE_H

#include <string>

#include "tools/diag_options.h"
#include "tools/diag_report.h"

namespace hwtk3::diag {

bool PrepareMachine(const Options& options, std::string& error);
// "virtual notebook" or "this machine".
std::string MachineName();
// The virtual notebook's set-up; empty on the machine itself.
std::string MachineScenario(const Options& options);
// Seconds the library spent in its pauses since PrepareMachine; -1 where
// the tool cannot see them.
double LibraryPauseSeconds();
// Names and descriptions of the scenarios, one per line (empty where the
// tool does not model the machine itself).
std::string ScenarioList();

// While a long step runs, a line on standard error every second says it
// is still going.
void BeginProgress(const std::string& title);
void EndProgress();

// Whether step `id` may run on this machine; false with the reason it is
// skipped. `bound`: the bind step brought port I/O up.
bool MayRun(const Options& options, const std::string& id, bool bound, std::string& reason);
// After a failed Diag_InitHWIO: why the binding was refused (not root, no
// port access, kernel lockdown), which makes the step skipped rather than
// failed; empty when it simply failed.
std::string BindRefusal();
// A hint for an empty identity or a missing battery on the machine itself;
// empty elsewhere.
std::string IdentityHint(bool dmiScan);
std::string BatteryHint();
// Fills report.channels: which way each EC channel went (the machine
// itself, after the sequence).
void DescribeChannels(Report& report);

namespace testing {
// Linux, --hardware: the machine's files (/sys/..., /dev/mem) are read
// under `root`, and the port-I/O library bound is the one at `provider`
// instead of the one beside the program; "" for the machine's own. For
// tests that build a machine in a folder.
void UseMachineAt(const std::string& root, const std::string& provider);
}  // namespace testing

}  // namespace hwtk3::diag

#endif  // HWTK3_TOOLS_DIAG_MACHINE_H
