// Stand-in for the ACPI interface library: class CVQMITF, its members
// answered by the virtual notebook's firmware. Built as libVQMITF.so for
// the Linux tests (sharing the test process's notebook) and as VQMITF.dll
// for the Wine runs. Every member call goes into the notebook's trace.
#include <cstdio>
#include <string>

#include "acpi/vqmitf.h"
#include "sim/notebook.h"
#include "sim/scenario.h"

namespace {

void Note(const std::string& text) {
    hwtk3::sim::Notebook& notebook = hwtk3::sim::StandinNotebook();
    notebook.trace.Note(text, notebook.clock.NowMs());
}

// "InvokeMethod BLED(0x1)", "InvokeMethod HWRS"
std::string Invocation(unsigned long method, const unsigned long* argument) {
    const auto m = static_cast<std::uint32_t>(method);
    std::string text = "InvokeMethod ";
    for (int i = 0; i < 4; ++i) text += static_cast<char>(m >> (8 * i));
    if (argument != nullptr) {
        char value[24];
        std::snprintf(value, sizeof value, "(0x%lx)", *argument);
        text += value;
    }
    return text;
}

// " -> 1", " -> 1, 0x180": the result, and the value of a query that
// succeeded.
std::string Answer(int result, const unsigned long* value) {
    char text[40];
    if (result != 0 && value != nullptr) {
        std::snprintf(text, sizeof text, " -> %d, 0x%lx", result, *value);
    } else {
        std::snprintf(text, sizeof text, " -> %d", result);
    }
    return text;
}

}  // namespace

// Each member holds the notebook for its bookkeeping, as a port access
// does; any of them may throw when the notebook is set up to.

CVQMITF::CVQMITF() {
    hwtk3::sim::Notebook& notebook = hwtk3::sim::StandinNotebook();
    hwtk3::sim::Notebook::Access access(notebook);
    try {
        notebook.acpi.objects.Construct(this);
    } catch (...) {
        Note("CVQMITF() throws");
        throw;
    }
    Note("CVQMITF()");
}

CVQMITF::~CVQMITF() noexcept(false) {
    hwtk3::sim::Notebook& notebook = hwtk3::sim::StandinNotebook();
    hwtk3::sim::Notebook::Access access(notebook);
    Note("~CVQMITF()");
    notebook.acpi.objects.Destroy(this);
}

int CVQMITF::InvokeMethod(unsigned long method, unsigned long* value) {
    hwtk3::sim::Notebook& notebook = hwtk3::sim::StandinNotebook();
    hwtk3::sim::Notebook::Access access(notebook);
    hwtk3::sim::AcpiModel& acpi = notebook.acpi;
    int result = 0;
    try {
        result = acpi.objects.Invoke(acpi.firmware, this, static_cast<std::uint32_t>(method), false, 0, value);
    } catch (...) {
        Note(Invocation(method, nullptr) + " throws");
        throw;
    }
    Note(Invocation(method, nullptr) + Answer(result, value));
    return result;
}

int CVQMITF::InvokeMethod(unsigned long method, unsigned long argument, unsigned long* value) {
    hwtk3::sim::Notebook& notebook = hwtk3::sim::StandinNotebook();
    hwtk3::sim::Notebook::Access access(notebook);
    hwtk3::sim::AcpiModel& acpi = notebook.acpi;
    int result = 0;
    try {
        result = acpi.objects.Invoke(acpi.firmware, this, static_cast<std::uint32_t>(method), true,
                                     static_cast<std::uint32_t>(argument), value);
    } catch (...) {
        Note(Invocation(method, &argument) + " throws");
        throw;
    }
    Note(Invocation(method, &argument) + Answer(result, nullptr));
    return result;
}
