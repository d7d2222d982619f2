// Shared between the platform files only.
#ifndef HWTK3_PLATFORM_OS_INTERNAL_H
#define HWTK3_PLATFORM_OS_INTERNAL_H

#include <string>

#include "platform/platform.h"

namespace hwtk3::platform::internal {

// The OS pause behind Sleep.
void OsSleep(DWORD milliseconds);

// Module bookkeeping shared by both loaders: the path override a test set
// for a module name (nullptr when none), and the reference counts.
const std::string* ModulePathOverride(const std::string& name);
void NoteModuleLoaded(HMODULE module, const std::string& name);
void NoteModuleFreed(HMODULE module);

}  // namespace hwtk3::platform::internal

#endif  // HWTK3_PLATFORM_OS_INTERNAL_H
