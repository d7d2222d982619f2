// After a failed bind: why the port-I/O library could not be had, as far as
// this program can tell from outside the library. Each finding is one plain
// sentence with what to do; the library's own lines stay as they are.
#ifndef HWTK3_TOOLS_DIAG_BIND_CHECK_H
#define HWTK3_TOOLS_DIAG_BIND_CHECK_H

#include <vector>

#include "tools/diag_report.h"

namespace hwtk3::diag {

// Empty where the machine offers nothing to check beyond what the bind step
// says already (Linux: the refusal reasons of BindRefusal).
std::vector<Finding> CheckFailedBind();

}  // namespace hwtk3::diag

#endif  // HWTK3_TOOLS_DIAG_BIND_CHECK_H
