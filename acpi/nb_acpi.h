// Bluetooth power and the firmware's Bluetooth and wireless LAN presence
// report, through the manufacturer's ACPI interface object rather than the
// control device. One object per export call, created at its start and
// destroyed before it returns.
#ifndef HWTK3_ACPI_NB_ACPI_H
#define HWTK3_ACPI_NB_ACPI_H

#include <cstddef>
#include <cstdint>

#include "acpi/acpi_channel.h"
#include "acpi/vqmitf.h"

namespace hwtk3::acpi {

constexpr std::uint32_t kMethodBLED = PackMethodName("BLED");  // Bluetooth power, argument 1 on, 0 off
constexpr std::uint32_t kMethodHWRS = PackMethodName("HWRS");  // hardware report bits
static_assert(kMethodBLED == 0x44454C42u && kMethodHWRS == 0x53525748u, "method names");

constexpr std::uint32_t kBledOn = 1;
constexpr std::uint32_t kBledOff = 0;

// "HWRS" bits we read; the others are ignored.
constexpr std::uint32_t kHardwareWlan = 0x80;
constexpr std::uint32_t kHardwareBluetooth = 0x100;

// The size of the outside class as this library sees it; we allocate this
// much before running its constructor.
constexpr std::size_t kNbAcpiObjectSize = 4;
static_assert(sizeof(CVQMITF) <= kNbAcpiObjectSize, "the object must fit the storage we give it");

// Results of the three exports.
constexpr int kNbSuccess = 0;
constexpr int kNbFailure = -1;

// Guards the interface object below. Each export holds it from acquiring
// the object to releasing it, so one host thread never destroys the object
// another is calling. Recursive; the functions below take it too. Among the
// library's locks it stands alone: nothing else of ours is taken under it
// (only the outside class runs there), and it is never taken under another
// (see hwio::BindingLock for the order of the others).
class NbAcpiInterfaceLock {
public:
    NbAcpiInterfaceLock();
    ~NbAcpiInterfaceLock();
    NbAcpiInterfaceLock(const NbAcpiInterfaceLock&) = delete;
    NbAcpiInterfaceLock& operator=(const NbAcpiInterfaceLock&) = delete;
};

// The live interface object, or nullptr when there is none.
CVQMITF* NbAcpiInterface();

// Makes sure an object exists (reusing one still held); true when one does.
// A constructor that throws leaves none, its storage freed.
bool AcquireNbAcpiInterface();
// Destroys the object, if any, and frees its storage, also when its
// destructor throws (the exception stops here).
void ReleaseNbAcpiInterface();

}  // namespace hwtk3::acpi

#endif  // HWTK3_ACPI_NB_ACPI_H
