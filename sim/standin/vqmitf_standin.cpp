// Stand-in for the ACPI interface library: class CVQMITF, its members
// answered by the virtual notebook's firmware. Built as libVQMITF.so for
// the Linux tests (sharing the test process's notebook) and as VQMITF.dll
// for the Wine runs.
#include <cstdlib>

#include "acpi/vqmitf.h"
#include "sim/notebook.h"
#include "sim/scenario.h"

namespace {

hwtk3::sim::Notebook& Machine() {
#if defined(HWTK3_SIM_STANDALONE)
    static bool configured = false;
    hwtk3::sim::Notebook& notebook = hwtk3::sim::Current();
    if (!configured) {
        configured = true;
        notebook.clock.UseRealTime(true);
        if (const char* names = std::getenv(hwtk3::sim::kScenarioVariable)) {
            hwtk3::sim::ApplyScenarios(notebook, names);
        }
    }
    return notebook;
#else
    return hwtk3::sim::Current();
#endif
}

}  // namespace

CVQMITF::CVQMITF() { Machine().acpi.objects.Construct(this); }

CVQMITF::~CVQMITF() { Machine().acpi.objects.Destroy(this); }

int CVQMITF::InvokeMethod(unsigned long method, unsigned long* value) {
    hwtk3::sim::AcpiModel& acpi = Machine().acpi;
    return acpi.objects.Invoke(acpi.firmware, this, static_cast<std::uint32_t>(method), false, 0, value);
}

int CVQMITF::InvokeMethod(unsigned long method, unsigned long argument, unsigned long* value) {
    hwtk3::sim::AcpiModel& acpi = Machine().acpi;
    return acpi.objects.Invoke(acpi.firmware, this, static_cast<std::uint32_t>(method), true,
                               static_cast<std::uint32_t>(argument), value);
}
