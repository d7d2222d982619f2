// Hooks for the test suite and the virtual notebook. They are part of the
// static library only in effect: nothing here is exported from hwtk3.dll or
// from the Linux shared library.
#ifndef HWTK3_PLATFORM_TESTING_H
#define HWTK3_PLATFORM_TESTING_H

#include "platform/platform.h"

namespace hwtk3::platform::testing {

// Diverts Sleep: the hook receives each pause instead of the OS. Pass
// nullptr to restore the real Sleep.
using SleepHook = void (*)(DWORD milliseconds, void* context);
void SetSleepHook(SleepHook hook, void* context);

// Makes LoadLibraryA(name) open `path` instead of the file the ordinary
// search would find; an empty path makes the load fail as for a missing
// file. Pass nullptr as path to remove the override.
void OverrideModulePath(const char* name, const char* path);

// Successful LoadLibraryA calls minus FreeLibrary calls for modules loaded
// under `name`: the reference count Windows would keep.
int ModuleReferences(const char* name);

}  // namespace hwtk3::platform::testing

#endif  // HWTK3_PLATFORM_TESTING_H
