// SMBIOS of the virtual notebook: structures, string sets, tables, the
// "_SM_" and legacy "_DMI_" entry points with their checksums, and the
// machines built from them. A machine's table lies in physical memory, its
// entry points in the BIOS area (0xF0000-0xFFFFF), and the same table is
// served by the firmware table service.
#ifndef HWTK3_SIM_SMBIOS_BUILDER_H
#define HWTK3_SIM_SMBIOS_BUILDER_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "sim/notebook.h"

namespace hwtk3::sim {

using Bytes = std::vector<std::uint8_t>;

// One structure: header, formatted fields and string set. A text field
// takes the next string index (0 for an empty text).
class Structure {
public:
    explicit Structure(std::uint8_t type);
    Structure& Byte(std::uint8_t value);
    Structure& Word(std::uint16_t value);
    Structure& Dword(std::uint32_t value);
    Structure& Raw(const Bytes& bytes);
    Structure& Text(const std::string& text);
    // Texts only in the string set, with no field pointing at them.
    Structure& ExtraText(const std::string& text);
    // A length byte other than the true formatted size.
    Structure& LengthByte(std::uint8_t length);
    // The bytes of the structure, with the given handle.
    Bytes Encode(std::uint16_t handle = 0) const;

private:
    std::uint8_t type_;
    Bytes fields_;
    std::vector<std::string> strings_;
    int lengthOverride_ = -1;
};

// Structures of the types the library decodes, filled in as a notebook's
// firmware would.
Structure BiosInformation(const std::string& vendor, const std::string& version, const std::string& date,
                          std::uint16_t segment, std::uint8_t romSizeCode);
// length: 0x08 (SMBIOS 2.0), 0x19 (2.1-2.3) or 0x1B (2.4 and later).
Structure SystemInformation(const std::string& manufacturer, const std::string& product,
                            const std::string& version, const std::string& serial,
                            const std::array<std::uint8_t, 16>& uuid, const std::string& sku,
                            const std::string& family, std::uint8_t length = 0x1B);
Structure BaseboardInformation(const std::string& manufacturer, const std::string& product,
                               const std::string& version, const std::string& serial,
                               const std::string& assetTag);
Structure SystemEnclosure(const std::string& manufacturer, const std::string& version,
                          const std::string& serial);
Structure ProcessorInformation(const std::string& socket, const std::string& manufacturer,
                               const std::array<std::uint8_t, 8>& id, const std::string& version,
                               std::uint16_t externalClock, std::uint16_t maxSpeed, std::uint16_t currentSpeed);
Structure MemoryModule(const std::string& socket, std::uint8_t speedNs, std::uint8_t installedCode,
                       std::uint8_t enabledCode);
Structure CacheInformation(const std::string& socket, std::uint16_t maxSizeWord, std::uint16_t installedWord,
                           std::uint8_t speedNs);
Structure OemStrings(const std::vector<std::string>& texts);
// sizeWord 0: empty socket.
Structure MemoryDevice(const std::string& locator, std::uint16_t sizeWord, std::uint16_t speedMhz);
Structure EndOfTable();

// A structure table: structures in order, handles numbered from 0.
// Added raw bytes go in unchanged and count as one structure.
class TableBuilder {
public:
    TableBuilder& Add(const Structure& structure);
    TableBuilder& Add(const Bytes& raw);
    Bytes Table() const { return table_; }
    std::uint16_t Count() const { return count_; }

private:
    Bytes table_;
    std::uint16_t count_ = 0;
};

// SMBIOS 2.x entry point (31 bytes) with its intermediate "_DMI_" anchor.
Bytes SmbiosEntryPoint(std::uint8_t major, std::uint8_t minor, std::uint32_t tableAddress,
                       std::uint16_t tableLength, std::uint16_t count);
// Legacy DMI entry point (15 bytes); revision in BCD (0x21 = 2.1).
Bytes LegacyEntryPoint(std::uint32_t tableAddress, std::uint16_t tableLength, std::uint16_t count,
                       std::uint8_t bcdRevision);
// The firmware table service's 'RSMB' answer.
Bytes RsmbAnswer(std::uint8_t major, std::uint8_t minor, const Bytes& table);

// Where the default machine keeps its SMBIOS.
constexpr std::uint32_t kBiosAreaBase = 0xF0000;
constexpr std::uint32_t kBiosAreaSize = 0x10000;
constexpr std::uint32_t kEntryPointAddress = 0xFE1C0;
constexpr std::uint32_t kLegacyEntryPointAddress = 0xF9A30;
constexpr std::uint32_t kTableAddress = 0xCBF3A000;

// What distinguishes one machine from another.
struct MachineIdentity {
    std::string manufacturer = "Quorvex Computer Inc.";
    std::string product = "Quorvex Aero 14 K5402";
    std::string version = "1.0";
    std::string serial = "QV5402K0217A88";
    std::string sku = "K5402ZA-QV14";
    std::string family = "Quorvex Aero";
    std::string boardManufacturer = "Quorvex Computer Inc.";
    std::string boardProduct = "K5402ZA";
    std::string boardSerial = "ZelkaK5402-0217A88";
    std::string ninetyCode = "90QV0A71-M00120";  // third OEM string
};

// The default machine's complete table (every decoded type, a few others,
// end of table). legacy: an SMBIOS 2.0 machine (type-1 length 8).
Bytes MachineTable(const MachineIdentity& identity, std::uint16_t& count, bool legacy = false);

// Places a table and its entry points and serves it through the firmware
// table service. The BIOS area is cleared first.
struct SmbiosLayout {
    bool smbiosEntryPoint = true;   // "_SM_" at kEntryPointAddress
    bool legacyEntryPoint = false;  // bare "_DMI_" at kLegacyEntryPointAddress
    std::uint8_t major = 2;
    std::uint8_t minor = 8;
    std::uint8_t legacyRevision = 0x28;
};
void InstallSmbios(Notebook& notebook, const Bytes& table, std::uint16_t count, const SmbiosLayout& layout);
void InstallMachine(Notebook& notebook, const MachineIdentity& identity);

// The firmware table service of the current notebook, for
// platform::testing::SetFirmwareTableHost.
platform::testing::FirmwareTableHost& FirmwareHost();

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_SMBIOS_BUILDER_H
