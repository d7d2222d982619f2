// Stand-in for the port-I/O library: its six entry points, WINAPI and under
// their plain names, answered by the virtual notebook. Built as
// libWinRing0.so for the Linux tests and as WinRing0.dll for the Wine runs.
#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"
#include "sim/notebook.h"
#include "sim/scenario.h"

#if defined(_WIN32)
#  define STANDIN_EXPORT __declspec(dllexport)
#else
#  define STANDIN_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// In a DLL of its own the notebook runs on real time and takes its
// scenarios from the environment; in the Linux test process it is the
// notebook the tests set up.
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

extern "C" {

STANDIN_EXPORT std::uint32_t HWTK3_WINAPI GetDllStatus(void) { return Machine().GetDllStatus(); }

STANDIN_EXPORT int HWTK3_WINAPI InitializeOls(void) { return Machine().InitializeOls(); }

STANDIN_EXPORT void HWTK3_WINAPI DeinitializeOls(void) { Machine().DeinitializeOls(); }

STANDIN_EXPORT std::uint8_t HWTK3_WINAPI ReadIoPortByte(std::uint16_t port) {
    return Machine().ReadIoPortByte(port);
}

STANDIN_EXPORT void HWTK3_WINAPI WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
    Machine().WriteIoPortByte(port, value);
}

#if !defined(HWTK3_SIM_WITHOUT_READ_PHYSICAL_MEMORY)
STANDIN_EXPORT std::uint32_t HWTK3_WINAPI ReadPhysicalMemory(std::uintptr_t address, std::uint8_t* buffer,
                                                            std::uint32_t count, std::uint32_t unitSize) {
    return Machine().ReadPhysicalMemory(static_cast<std::uint32_t>(address), buffer, count, unitSize);
}
#endif

}  // extern "C"
