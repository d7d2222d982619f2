// The identity record and the decoder that fills it from an SMBIOS
// structure table copied out of physical memory.
#ifndef HWTK3_SMBIOS_DMI_DECODE_H
#define HWTK3_SMBIOS_DMI_DECODE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace hwtk3::smbios {

constexpr std::size_t kDmiSlots = 4;

// Process-wide identity record: empty at load, destroyed at unload. The
// texts and numbers keep the last value either acquisition path wrote.
struct DmiData {
    std::string BiosVendor;
    std::string BiosVersion;
    std::string BiosDate;
    std::uint32_t BiosAddress = 0;
    std::uint32_t BiosRomSize = 0;  // KB

    std::string SystemManufacturer;
    std::string SystemProductName;
    std::string SystemVersion;
    std::string SystemSerialNumber;
    std::array<std::uint8_t, 16> SystemUuid{};
    std::string SystemSku;
    std::string SystemFamily;

    std::string BoardManufacturer;
    std::string BoardProductName;
    std::string BoardVersion;
    std::string BoardSerialNumber;

    std::string ChassisManufacturer;
    std::string ChassisVersion;
    std::string ChassisSerialNumber;

    std::string ProcessorSocket;
    std::string ProcessorManufacturer;
    std::array<std::uint8_t, 8> ProcessorId{};
    std::string ProcessorVersion;
    std::uint16_t ProcessorExternalClock = 0;  // MHz
    std::uint16_t ProcessorMaxSpeed = 0;       // MHz
    std::uint16_t ProcessorCurrentSpeed = 0;   // MHz

    // Memory modules (type 6); MemoryInstalledSize is the occupancy key.
    std::array<std::string, kDmiSlots> MemoryDimm;
    std::array<std::uint32_t, kDmiSlots> MemoryCurrentSpeed{};  // ns
    std::array<std::int32_t, kDmiSlots> MemoryInstalledSize{};  // MB, or a negative code
    std::array<std::int32_t, kDmiSlots> MemoryEnabledSize{};

    // Caches (type 7); CacheInstalledSize is the occupancy key.
    std::array<std::string, kDmiSlots> CacheSocket;
    std::array<std::uint32_t, kDmiSlots> CacheCurrentSpeed{};  // ns
    std::array<std::uint32_t, kDmiSlots> CacheInstalledSize{};  // KB
    std::array<std::uint32_t, kDmiSlots> CacheMaxSize{};        // KB

    std::array<std::string, kDmiSlots> OemString;

    // Memory devices (type 17); MemoryDeviceSize is the occupancy key.
    std::array<std::uint32_t, kDmiSlots> MemoryDeviceSpeed{};  // MHz
    std::array<std::uint32_t, kDmiSlots> MemoryDeviceSize{};   // size word as stored
};

// The one record of the process. Hold DmiLock while reading or writing it.
DmiData& Dmi();

// Guards the identity record and what is filled with it or derived from
// it: DmiData, DmiReady (smbios_acquire.h) and the model name of the
// machine check (identity.h). Diag_FillDMIData holds it across the whole
// fill, so the record is filled once however many host threads ask at the
// same moment, and a query copies a whole record, never a half-filled one.
// Recursive. It is the outermost of the library's locks: the scan of the
// BIOS area takes the binding lock (and through the loader the module
// lock) under it, and it must never be taken with the binding lock held
// (the order is written down at hwio::BindingLock). MachineType is not
// under it: EC sessions read that under the binding lock.
class DmiLock {
public:
    DmiLock();
    ~DmiLock();
    DmiLock(const DmiLock&) = delete;
    DmiLock& operator=(const DmiLock&) = delete;
};

namespace testing {
// Empties the record, as at load.
void ResetDmiData();
}  // namespace testing

// One structure inside a writable copy of the table: `data` is its first
// byte, `size` covers the formatted area and the string set with its
// terminating double zero.
struct DmiStructure {
    std::uint8_t* data;
    std::size_t size;
};

// Reads `length` bytes of structure table at physical `address` (the
// port-I/O binding must be up) and decodes up to `count` structures.
void dmi_table(std::uint32_t address, std::uint16_t length, std::uint16_t count);

// A new copy of `length` bytes of physical memory, or nullptr; the caller
// releases it with delete[].
std::uint8_t* mem_chunk(std::uint32_t address, std::uint16_t length);

// The walk of dmi_table over a table already copied to `table`.
void decode_table(std::uint8_t* table, std::size_t length, std::uint16_t count);

void decode_structure(const DmiStructure& structure);

// Text `index` (1-based) of the structure's string set, made printable in
// place; "Not Specified" for 0, "<BAD INDEX>" past the last text.
std::string structure_string(const DmiStructure& structure, std::uint8_t index);

// Memory module size code -> MB, or -1 (not determinable), -2 (installed
// but not enabled), -3 (not installed).
std::int32_t memory_module_size(std::uint8_t code);

// Cache size word -> KB.
std::uint32_t cache_size(std::uint16_t code);

void decode_oem_strings(const DmiStructure& structure);

// Frees every slot (clears the occupancy keys only).
void reset_dmi_slots();

}  // namespace hwtk3::smbios

#endif  // HWTK3_SMBIOS_DMI_DECODE_H
