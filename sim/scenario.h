// Named set-ups of the virtual notebook: the machines and the faults the
// tests, the stand-in DLLs and hwtk3-diag can pick by name.
#ifndef HWTK3_SIM_SCENARIO_H
#define HWTK3_SIM_SCENARIO_H

#include <string>
#include <vector>

#include "sim/notebook.h"

namespace hwtk3::sim {

struct Scenario {
    const char* name;
    const char* description;
    void (*apply)(Notebook& notebook);
};

const std::vector<Scenario>& Scenarios();

// Applies the comma-separated scenarios in order; false (and nothing more
// applied) at the first unknown name.
bool ApplyScenarios(Notebook& notebook, const std::string& names);

// The environment variable the stand-in DLLs read their scenarios from.
inline constexpr const char kScenarioVariable[] = "HWTK3_SIM_SCENARIO";

// Sets the notebook up from that variable's value (null or empty: the
// default machine) and says what it was set up with: the names as given,
// or "default"; an unknown name, and the names after it, are not applied,
// and the text says so.
std::string ApplyScenarioVariable(Notebook& notebook, const char* names);

// The notebook the stand-in libraries drive. Built into a stand-in DLL of
// its own (HWTK3_SIM_STANDALONE), it runs on real time and takes its
// scenarios from the environment on first use; in the Linux test process it
// is the current notebook the tests set up.
Notebook& StandinNotebook();
// What the stand-in notebook was set up with (ApplyScenarioVariable); on
// Linux, where the tests set it up, "default".
const std::string& StandinScenario();

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_SCENARIO_H
