// The machine the factory sequence runs on. On Linux that is the virtual
// notebook, set up from the scenario; on Windows it is the machine itself.
#ifndef HWTK3_TOOLS_DIAG_MACHINE_H
#define HWTK3_TOOLS_DIAG_MACHINE_H

#include <string>

#include "tools/diag_options.h"

namespace hwtk3::diag {

bool PrepareMachine(const Options& options, std::string& error);
std::string MachineName();
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

}  // namespace hwtk3::diag

#endif  // HWTK3_TOOLS_DIAG_MACHINE_H
