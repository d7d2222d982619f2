// Stand-in for the ACPI interface library: class CVQMITF, its members
// answered by the virtual notebook's firmware. Built as libVQMITF.so for
// the Linux tests (sharing the test process's notebook) and as VQMITF.dll
// for the Wine runs.

#include "acpi/vqmitf.h"
#include "sim/notebook.h"
#include "sim/scenario.h"

CVQMITF::CVQMITF() { hwtk3::sim::StandinNotebook().acpi.objects.Construct(this); }

CVQMITF::~CVQMITF() { hwtk3::sim::StandinNotebook().acpi.objects.Destroy(this); }

int CVQMITF::InvokeMethod(unsigned long method, unsigned long* value) {
    hwtk3::sim::AcpiModel& acpi = hwtk3::sim::StandinNotebook().acpi;
    return acpi.objects.Invoke(acpi.firmware, this, static_cast<std::uint32_t>(method), false, 0, value);
}

int CVQMITF::InvokeMethod(unsigned long method, unsigned long argument, unsigned long* value) {
    hwtk3::sim::AcpiModel& acpi = hwtk3::sim::StandinNotebook().acpi;
    return acpi.objects.Invoke(acpi.firmware, this, static_cast<std::uint32_t>(method), true,
                               static_cast<std::uint32_t>(argument), value);
}
