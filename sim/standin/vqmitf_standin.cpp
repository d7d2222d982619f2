// Stand-in for the ACPI interface library: class CVQMITF, its members
// answered by the virtual notebook's firmware. Built as libVQMITF.so for
// the Linux tests (sharing the test process's notebook) and as VQMITF.dll
// for the Wine runs.

#include "acpi/vqmitf.h"
#include "sim/notebook.h"
#include "sim/scenario.h"

// Each member holds the notebook for its bookkeeping, as a port access
// does; any of them may throw when the notebook is set up to.

CVQMITF::CVQMITF() {
    hwtk3::sim::Notebook& notebook = hwtk3::sim::StandinNotebook();
    hwtk3::sim::Notebook::Access access(notebook);
    notebook.acpi.objects.Construct(this);
}

CVQMITF::~CVQMITF() noexcept(false) {
    hwtk3::sim::Notebook& notebook = hwtk3::sim::StandinNotebook();
    hwtk3::sim::Notebook::Access access(notebook);
    notebook.acpi.objects.Destroy(this);
}

int CVQMITF::InvokeMethod(unsigned long method, unsigned long* value) {
    hwtk3::sim::Notebook& notebook = hwtk3::sim::StandinNotebook();
    hwtk3::sim::Notebook::Access access(notebook);
    hwtk3::sim::AcpiModel& acpi = notebook.acpi;
    return acpi.objects.Invoke(acpi.firmware, this, static_cast<std::uint32_t>(method), false, 0, value);
}

int CVQMITF::InvokeMethod(unsigned long method, unsigned long argument, unsigned long* value) {
    hwtk3::sim::Notebook& notebook = hwtk3::sim::StandinNotebook();
    hwtk3::sim::Notebook::Access access(notebook);
    hwtk3::sim::AcpiModel& acpi = notebook.acpi;
    return acpi.objects.Invoke(acpi.firmware, this, static_cast<std::uint32_t>(method), true,
                               static_cast<std::uint32_t>(argument), value);
}
