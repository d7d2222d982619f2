// The virtual notebook: the hardware the library talks to, modelled closely
// enough that every export can be tested exactly and fast. One notebook is
// current per process; the stand-in port-I/O library drives it.
#ifndef HWTK3_SIM_NOTEBOOK_H
#define HWTK3_SIM_NOTEBOOK_H

#include <cstdint>
#include <vector>
#if !defined(_WIN32)
#  include <mutex>
#endif

#include "sim/acpi_driver.h"
#include "sim/battery_model.h"
#include "sim/clock.h"
#include "sim/device_host.h"
#include "sim/ec_model.h"
#include "sim/fan_model.h"
#include "sim/physical_memory.h"
#include "sim/trace.h"

namespace hwtk3::sim {

// The port-I/O library's driver as the stand-in presents it.
struct PortIoDriver {
    // Faults.
    bool initializeFails = false;   // InitializeOls returns 0
    std::uint32_t status = 0;       // GetDllStatus answer; nonzero is an error
    // What the library did.
    int initializeCalls = 0;
    int deinitializeCalls = 0;
    bool initialized = false;
    int accessesUninitialized = 0;  // port or memory access before InitializeOls
    // The calls that can fail (GetDllStatus, InitializeOls,
    // ReadPhysicalMemory), counted; the one numbered failCall (from 0)
    // fails: status 1, 0, or no byte copied.
    int failableCalls = 0;
    int failCall = -1;
    bool NextCallFails() { return failableCalls++ == failCall; }
};

// The firmware table service (GetSystemFirmwareTable) as the notebook's
// firmware presents it.
struct FirmwareTableService {
    std::vector<std::uint8_t> rsmb;  // the 'RSMB' answer; empty: no table
    bool exported = true;            // false: kernel32.dll lacks the export
    bool fillFails = false;          // the call with a buffer answers 0
    // The table grows by this many bytes right after a caller asked for
    // its size (firmware updating it meanwhile), once.
    std::uint32_t growsAfterSizeQuery = 0;
    int calls = 0;
};

class Notebook {
public:
    // The default Quorvex machine, its SMBIOS in place.
    Notebook();
    Notebook(const Notebook&) = delete;
    Notebook& operator=(const Notebook&) = delete;

    Clock clock;
    Trace trace;
    EcModel ec{clock};
    FanModel fan{ec, clock};
    PhysicalMemory memory;
    PortIoDriver driver;
    FirmwareTableService firmware;
    AcpiModel acpi{clock};
    ChargeSwitch chargeSwitch{ec};
    Batteries batteries;
    NotebookDeviceHost devices{*this};  // what the library's device calls reach

    // The six entry points of the port-I/O library.
    std::uint32_t GetDllStatus();
    int InitializeOls();
    void DeinitializeOls();
    std::uint8_t ReadIoPortByte(std::uint16_t port);
    void WriteIoPortByte(std::uint16_t port, std::uint8_t value);
    std::uint32_t ReadPhysicalMemory(std::uint32_t address, std::uint8_t* buffer, std::uint32_t count,
                                     std::uint32_t unitSize);

    // GetSystemFirmwareTable: the answer size (also when the buffer is
    // missing or too small), or 0 and an error code.
    std::uint32_t GetSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                         std::uint32_t size, std::uint32_t& error);

    // A pause of the library: recorded, and the virtual clock moves on.
    void Sleep(std::uint32_t milliseconds);
    // The clock as the library reads it (GetTickCount64), while other host
    // threads may be pausing.
    std::uint64_t NowMs();

    // Host threads may drive the notebook at once (the EC lock tests and the
    // thread stress do): each access from the library (a port access, a
    // pause, a device call, the firmware table service, an interface
    // object's member) holds the notebook for its length, as a port access
    // holds the bus. The entry points above hold it themselves; the device
    // host and the stand-in interface object hold it with this. Recursive.
    // (The stand-in DLLs of the Wine runs serve one host thread and hold
    // nothing.)
    class Access {
    public:
        explicit Access(Notebook& notebook);
        ~Access();
        Access(const Access&) = delete;
        Access& operator=(const Access&) = delete;

    private:
        Notebook& notebook_;
    };

private:
    std::uint32_t AnswerFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                      std::uint32_t size, std::uint32_t& error);

#if !defined(_WIN32)
    std::recursive_mutex mutex_;
#endif
};

// The current notebook, made on first use.
Notebook& Current();
// Replaces the current notebook with a new one in its initial state.
Notebook& ResetCurrent();

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_NOTEBOOK_H
