// The factory test sequence: machine check, port I/O, EC firmware version,
// fan test, battery status, the charge switch round trip when asked, ACPI
// controls, device presence, release.
#ifndef HWTK3_TOOLS_DIAG_SEQUENCE_H
#define HWTK3_TOOLS_DIAG_SEQUENCE_H

#include <cstdio>
#include <string>
#include <vector>

#include "tools/diag_options.h"
#include "tools/diag_report.h"

namespace hwtk3::diag {

// Step ids, in sequence order.
const std::vector<std::string>& StepIds();

// Runs the chosen steps on the prepared machine; each step's report line
// goes to `out` as soon as the step ends.
Report RunSequence(const Options& options, std::FILE* out);

}  // namespace hwtk3::diag

#endif  // HWTK3_TOOLS_DIAG_SEQUENCE_H
