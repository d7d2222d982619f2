#include "acpi/nb_acpi.h"

#include <new>

#include "include/hwtk3.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace hwtk3::acpi {
namespace {

constexpr const char kMsgBledSuccess[] = "Success for BLED method!\n";
constexpr const char kMsgHwrsSuccess[] = "Success for HWRS method!\n";
constexpr const char kMsgFail[] = "Fail!\n";
constexpr const char kMsgBluetoothReported[] = "bios reported BT is existed\n";
constexpr const char kMsgWlanReported[] = "bios reported Wifi is existed\n";

// Guarded by NbAcpiInterfaceLock.
CVQMITF* g_nbAcpiInterface = nullptr;

platform::CriticalSection& InterfaceLock() {
    static platform::CriticalSection lock;
    return lock;
}

// The object belongs to another library: whatever it throws stops here,
// as a failed call, instead of crossing our exports.
bool Invoke(CVQMITF& object, std::uint32_t method, unsigned long& value) {
    try {
        return object.InvokeMethod(method, &value) != 0;
    } catch (...) {
        return false;
    }
}

bool Invoke(CVQMITF& object, std::uint32_t method, std::uint32_t argument, unsigned long& scratch) {
    try {
        return object.InvokeMethod(method, argument, &scratch) != 0;
    } catch (...) {
        return false;
    }
}

// Both presence queries: "HWRS", then the export's bit.
int QueryHardware(std::uint32_t bit, const char* reportedLine, bool& present) {
    NbAcpiInterfaceLock lock;
    if (!AcquireNbAcpiInterface()) return kNbFailure;
    int result = kNbFailure;
    unsigned long bits = 0;
    if (Invoke(*g_nbAcpiInterface, kMethodHWRS, bits)) {
        platform::PutText(kMsgHwrsSuccess);
        present = (bits & bit) != 0;
        if (present) platform::PutText(reportedLine);
        result = kNbSuccess;
    } else {
        platform::PutText(kMsgFail);
    }
    ReleaseNbAcpiInterface();
    return result;
}

}  // namespace

NbAcpiInterfaceLock::NbAcpiInterfaceLock() { InterfaceLock().Enter(); }
NbAcpiInterfaceLock::~NbAcpiInterfaceLock() { InterfaceLock().Leave(); }

CVQMITF* NbAcpiInterface() {
    NbAcpiInterfaceLock lock;
    return g_nbAcpiInterface;
}

bool AcquireNbAcpiInterface() {
    NbAcpiInterfaceLock lock;
    if (g_nbAcpiInterface != nullptr) return true;
    // No exception for an exhausted heap: no memory means no object.
    void* storage = ::operator new(kNbAcpiObjectSize, std::nothrow);
    if (storage == nullptr) return false;
    try {
        g_nbAcpiInterface = new (storage) CVQMITF();
    } catch (...) {
        ::operator delete(storage);
        g_nbAcpiInterface = nullptr;
    }
    return g_nbAcpiInterface != nullptr;
}

// A destructor that throws has still ended the object's life: its storage
// is ours and goes back, and the export keeps the result of its method
// call, which the exception does not change.
void ReleaseNbAcpiInterface() {
    NbAcpiInterfaceLock lock;
    if (g_nbAcpiInterface == nullptr) return;
    CVQMITF* object = g_nbAcpiInterface;
    g_nbAcpiInterface = nullptr;
    try {
        object->~CVQMITF();
    } catch (...) {
    }
    ::operator delete(object);
}

}  // namespace hwtk3::acpi

using namespace hwtk3;

int Diag_AcpiNBSetBTPowerOn(bool on) {
    acpi::NbAcpiInterfaceLock lock;
    if (!acpi::AcquireNbAcpiInterface()) return acpi::kNbFailure;
    int result = acpi::kNbFailure;
    // What the object writes back for a command means nothing to us.
    unsigned long scratch = 0;
    if (acpi::Invoke(*acpi::NbAcpiInterface(), acpi::kMethodBLED, on ? acpi::kBledOn : acpi::kBledOff, scratch)) {
        platform::PutText(acpi::kMsgBledSuccess);
        result = acpi::kNbSuccess;
    } else {
        platform::PutText(acpi::kMsgFail);
    }
    acpi::ReleaseNbAcpiInterface();
    return result;
}

int Diag_AcpiNBQueryBTDevice(bool& present) {
    return acpi::QueryHardware(acpi::kHardwareBluetooth, acpi::kMsgBluetoothReported, present);
}

int Diag_AcpiNBQueryWifiDevice(bool& present) {
    return acpi::QueryHardware(acpi::kHardwareWlan, acpi::kMsgWlanReported, present);
}
