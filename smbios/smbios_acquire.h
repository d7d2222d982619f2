// Acquisition of the SMBIOS structure table, once per process: from the
// firmware table service, or by scanning the BIOS area in physical memory.
#ifndef HWTK3_SMBIOS_SMBIOS_ACQUIRE_H
#define HWTK3_SMBIOS_SMBIOS_ACQUIRE_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace hwtk3::smbios {

// True once either path has run to its end; never cleared. Guarded by
// DmiLock (dmi_decode.h), which this takes.
bool DmiReady();

// The type-1 fields of the firmware answer. Text references point into the
// table's buffer and are null when the index is 0 or names no text.
struct SystemInfoView {
    std::uint8_t Type = 0;
    std::uint8_t Length = 0;
    std::uint16_t Handle = 0;
    std::uint8_t ManufacturerIndex = 0;
    std::uint8_t ProductNameIndex = 0;
    std::uint8_t VersionIndex = 0;
    std::uint8_t SerialNumberIndex = 0;
    std::array<std::uint8_t, 16> Uuid{};
    std::uint8_t WakeUpType = 0;
    std::uint8_t SkuNumberIndex = 0;
    std::uint8_t FamilyIndex = 0;
    const char* Manufacturer = nullptr;
    const char* ProductName = nullptr;
    const char* Version = nullptr;
    const char* SerialNumber = nullptr;
    const char* SkuNumber = nullptr;
    const char* Family = nullptr;
};

// The type-2 fields of the firmware answer.
struct BaseboardInfoView {
    std::uint8_t Type = 0;
    std::uint8_t Length = 0;
    std::uint16_t Handle = 0;
    std::uint8_t ManufacturerIndex = 0;
    std::uint8_t ProductIndex = 0;
    std::uint8_t VersionIndex = 0;
    std::uint8_t SerialNumberIndex = 0;
    std::uint8_t AssetTagIndex = 0;
    std::uint8_t FeatureFlags = 0;
    std::uint8_t LocationInChassisIndex = 0;
    std::uint16_t ChassisHandle = 0;
    std::uint8_t BoardType = 0;
    std::uint8_t ContainedObjectCount = 0;
    // The u16 handles present in the structure (at most ContainedObjectCount).
    const std::uint8_t* ContainedObjectHandles = nullptr;
    std::size_t ContainedObjectHandlesPresent = 0;
    const char* Manufacturer = nullptr;
    const char* Product = nullptr;
    const char* Version = nullptr;
    const char* SerialNumber = nullptr;
    const char* AssetTag = nullptr;
    const char* LocationInChassis = nullptr;
};

// The firmware table service's 'RSMB' answer, for one Diag_FillDMIData call.
class SmbiosFirmwareTable {
public:
    SmbiosFirmwareTable() = default;
    ~SmbiosFirmwareTable();
    SmbiosFirmwareTable(const SmbiosFirmwareTable&) = delete;
    SmbiosFirmwareTable& operator=(const SmbiosFirmwareTable&) = delete;

    bool Fetch();
    // The first structure of `type` that lies wholly inside the table, or
    // null.
    const std::uint8_t* FindStructure(std::uint8_t type) const;
    // Text `index` (1-based) of the string set starting at `strings`, or
    // null when the set has no such text.
    const char* GetString(const std::uint8_t* strings, std::uint8_t index) const;
    bool ReadSystemInfo(SystemInfoView& view) const;
    bool ReadBaseboardInfo(BaseboardInfoView& view) const;

    // Takes `size` bytes as the service's answer, as Fetch does after a
    // successful call. For the fuzz targets and tests of the lookups.
    bool Adopt(const std::uint8_t* answer, std::size_t size);

    std::uint8_t MajorVersion = 0;
    std::uint8_t MinorVersion = 0;
    std::uint8_t* Buffer = nullptr;
    const std::uint8_t* TableData = nullptr;
    std::uint32_t TableLength = 0;

private:
    // Bytes from `structure` to the end of its string set's double zero,
    // or 0 when it does not end inside the table.
    std::size_t StructureSize(const std::uint8_t* structure) const;
};

// The firmware path of Diag_FillDMIData, without the once-per-process test.
int fill_from_firmware();

// The physical-memory path of Diag_FillDMIData.
int scan_bios_area();
bool smbios_decode(const std::uint8_t* entry, std::size_t available);
bool legacy_dmi_decode(const std::uint8_t* entry);
bool entry_point_checksum(const std::uint8_t* bytes, std::size_t count);

namespace testing {
// Makes the allocation of the firmware answer fail, as it would for an
// answer too large for the address space.
void FailFirmwareAllocation(bool fail);
// The record counts as not filled, as at load.
void ResetDmiReady();
}  // namespace testing

}  // namespace hwtk3::smbios

#endif  // HWTK3_SMBIOS_SMBIOS_ACQUIRE_H
