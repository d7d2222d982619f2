// Stand-in for the port-I/O library: its six entry points, WINAPI and under
// their plain names, answered by the virtual notebook. Built as
// libWinRing0.so for the Linux tests and as WinRing0.dll for the Wine runs.
#include <cstdint>

#include "platform/platform.h"
#include "sim/notebook.h"
#include "sim/scenario.h"

#if defined(_WIN32)
#  define STANDIN_EXPORT __declspec(dllexport)
#else
#  define STANDIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

STANDIN_EXPORT std::uint32_t HWTK3_WINAPI GetDllStatus(void) { return hwtk3::sim::StandinNotebook().GetDllStatus(); }

STANDIN_EXPORT int HWTK3_WINAPI InitializeOls(void) { return hwtk3::sim::StandinNotebook().InitializeOls(); }

STANDIN_EXPORT void HWTK3_WINAPI DeinitializeOls(void) { hwtk3::sim::StandinNotebook().DeinitializeOls(); }

STANDIN_EXPORT std::uint8_t HWTK3_WINAPI ReadIoPortByte(std::uint16_t port) {
    return hwtk3::sim::StandinNotebook().ReadIoPortByte(port);
}

STANDIN_EXPORT void HWTK3_WINAPI WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
    hwtk3::sim::StandinNotebook().WriteIoPortByte(port, value);
}

#if !defined(HWTK3_SIM_WITHOUT_READ_PHYSICAL_MEMORY)
STANDIN_EXPORT std::uint32_t HWTK3_WINAPI ReadPhysicalMemory(std::uintptr_t address, std::uint8_t* buffer,
                                                            std::uint32_t count, std::uint32_t unitSize) {
    return hwtk3::sim::StandinNotebook().ReadPhysicalMemory(static_cast<std::uint32_t>(address), buffer, count, unitSize);
}
#endif

}  // extern "C"
