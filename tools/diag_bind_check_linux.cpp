// On Linux the bind step itself says why port I/O was refused (not root,
// no port access, kernel lockdown: BindRefusal), so there is nothing to add.
#include "tools/diag_bind_check.h"

namespace hwtk3::diag {

std::vector<Finding> CheckFailedBind() { return {}; }

}  // namespace hwtk3::diag
