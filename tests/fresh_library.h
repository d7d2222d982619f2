// The library's process-wide state put back as at load, for the unit tests
// and the thread stress (which has no GoogleTest).
#ifndef HWTK3_TESTS_FRESH_LIBRARY_H
#define HWTK3_TESTS_FRESH_LIBRARY_H

namespace hwtk3::test {

// ACPI device and interface object released, binding released, modules
// freed, firmware text, identity record and machine type emptied.
void ResetLibrary();

// The library's pauses and its clock (the EC deadlines) on the current
// virtual notebook's clock, which moves only by those pauses.
void UseNotebookClock();

// Removes every stand-in a test installed (device host, firmware table,
// named mutexes, pauses, power-supply tree): those left in place may point
// into a notebook that is gone by now.
void RemoveStandIns();

}  // namespace hwtk3::test

#endif  // HWTK3_TESTS_FRESH_LIBRARY_H
