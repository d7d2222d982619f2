// The ACPI interface library for a real Linux machine. The manufacturer
// ships it for Windows only, so here every method evaluation fails and the
// library's interface-object exports report failure. Built as
// libVQMITF.so beside libhwtk3.so, which links it at load time as
// hwtk3.dll links VQMITF.dll.
#include "acpi/vqmitf.h"

CVQMITF::CVQMITF() = default;

CVQMITF::~CVQMITF() noexcept(false) = default;

int CVQMITF::InvokeMethod(unsigned long, unsigned long*) { return 0; }

int CVQMITF::InvokeMethod(unsigned long, unsigned long, unsigned long*) { return 0; }
