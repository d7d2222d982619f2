// Diag_FillDMIData: the identity record from the firmware table service or
// from a scan of the BIOS area, once per process.
#include "smbios/smbios_acquire.h"

#include <cstring>
#include <memory>
#include <new>

#include "hwio/port_io.h"
#include "include/hwtk3.h"
#include "platform/platform.h"
#include "smbios/dmi_decode.h"

namespace hwtk3::smbios {
namespace {

using platform::DWORD;

// Firmware path.
constexpr const char kMsgFetchFailed[] = "Failed to fetch smbios data!\n";
constexpr const char kMsgKernel32Failed[] = "Failed to load kernel32.dll\n";
constexpr const char kMsgProcFailed[] = "Failed to get procedure address of GetSystemFirmwareTable\n";
constexpr const char kMsgAllocFailed[] = "Failed to allocate memroy to store smbios data!\n";
constexpr const char kMsgZeroSize[] = "Get zero size of smbios data\n";
constexpr const char kMsgManufacturer[] = "hwtk3 get dmi manufacturer: %s\n";
constexpr const char kMsgProductName[] = "hwtk3 get dmi product name: %s\n";
constexpr const char kMsgSerialNumber[] = "hwtk3 get dmi sn: %s\n";
constexpr const char kMsgSkuNumber[] = "hwtk3 get dmi sku number: %s\n";
constexpr const char kMsgBoardSerial[] = "hwtk3 get dmi board serial number: %s\n";

// Physical-memory path.
constexpr const char kMsgInitIoFailed[] = "Failed to init IO library!\n";
constexpr const char kMsgReadFailed[] = "Failed to read DMI memory!\n";
constexpr const char kMsgSmbiosAnchor[] = "%X %X %X %X --> SMIBIOS\n";
constexpr const char kMsgSmbiosVersion[] = "major ver: %d, minor ver: %d\n";
constexpr const char kMsgLegacyBios[] = "Legacy BIOS\n";
constexpr const char kMsgShutdown[] = "shutdown IO library\n";
constexpr const char kMsgSmbiosDecode[] = "smbios_decode\n";
constexpr const char kMsgLegacyVersion[] = "Legacy DMI %u.%u present.\n";

constexpr const char kKernel32Path[] = "C:\\Windows\\system32\\kernel32.dll";
constexpr const char kGetSystemFirmwareTable[] = "GetSystemFirmwareTable";
constexpr DWORD kProviderRsmb = 0x52534D42;  // 'RSMB'
constexpr DWORD kRsmbTableId = 0;

// The service's answer: calling-method flag, major, minor, DMI revision,
// u32 length, then the structure table.
constexpr std::size_t kAnswerHeaderSize = 8;
constexpr std::size_t kAnswerMajorOffset = 1;
constexpr std::size_t kAnswerMinorOffset = 2;

using GetSystemFirmwareTableFn = DWORD(HWTK3_WINAPI*)(DWORD provider, DWORD tableId, void* buffer, DWORD size);

// Structures read on the firmware path.
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kTypeOffset = 0x00;
constexpr std::size_t kLengthOffset = 0x01;
constexpr std::size_t kHandleOffset = 0x02;
constexpr std::uint8_t kTypeSystem = 1;
constexpr std::uint8_t kTypeBaseboard = 2;

// Type-1 groups: the version that introduced each, and the structure
// length that covers it.
constexpr std::uint16_t kVersionSystemIds = 0x0201;
constexpr std::uint16_t kVersionSystemUuid = 0x0202;
constexpr std::uint16_t kVersionSystemSku = 0x0205;
constexpr std::uint8_t kSystemIdsEnd = 0x08;
constexpr std::uint8_t kSystemUuidEnd = 0x19;
constexpr std::uint8_t kSystemSkuEnd = 0x1B;
constexpr std::size_t kSystemManufacturer = 0x04;
constexpr std::size_t kSystemProductName = 0x05;
constexpr std::size_t kSystemVersion = 0x06;
constexpr std::size_t kSystemSerialNumber = 0x07;
constexpr std::size_t kSystemUuid = 0x08;
constexpr std::size_t kSystemWakeUpType = 0x18;
constexpr std::size_t kSystemSku = 0x19;
constexpr std::size_t kSystemFamily = 0x1A;

constexpr std::size_t kBoardManufacturer = 0x04;
constexpr std::size_t kBoardProduct = 0x05;
constexpr std::size_t kBoardVersion = 0x06;
constexpr std::size_t kBoardSerialNumber = 0x07;
constexpr std::size_t kBoardAssetTag = 0x08;
constexpr std::size_t kBoardFeatureFlags = 0x09;
constexpr std::size_t kBoardLocation = 0x0A;
constexpr std::size_t kBoardChassisHandle = 0x0B;
constexpr std::size_t kBoardType = 0x0D;
constexpr std::size_t kBoardObjectCount = 0x0E;
constexpr std::size_t kBoardObjectHandles = 0x0F;
constexpr std::size_t kHandleSize = 2;

// BIOS area and entry points.
constexpr std::uint32_t kBiosAreaBase = 0xF0000;
constexpr std::size_t kScanBufferSize = 0x10000;
constexpr std::uint32_t kBiosAreaReadSize = 0xFFFF;
constexpr std::size_t kParagraph = 16;
constexpr std::size_t kLastParagraph = 0xFFF0;
constexpr std::size_t kLastSmbiosParagraph = 0xFFE0;  // room for the 32-byte entry point

constexpr const char kSmbiosAnchor[] = "_SM_";
constexpr std::size_t kSmbiosAnchorSize = 4;
constexpr const char kDmiAnchor[] = "_DMI_";
constexpr std::size_t kDmiAnchorSize = 5;

constexpr std::size_t kSmLengthOffset = 0x05;
constexpr std::size_t kSmMajorOffset = 0x06;
constexpr std::size_t kSmMinorOffset = 0x07;
constexpr std::size_t kSmIntermediateOffset = 0x10;
constexpr std::size_t kSmTableLengthOffset = 0x16;
constexpr std::size_t kSmTableAddressOffset = 0x18;
constexpr std::size_t kSmStructureCountOffset = 0x1C;
constexpr std::size_t kSmFieldsEnd = 0x1E;

constexpr std::size_t kDmiChecksumSize = 15;
constexpr std::size_t kDmiTableLengthOffset = 0x06;
constexpr std::size_t kDmiTableAddressOffset = 0x08;
constexpr std::size_t kDmiStructureCountOffset = 0x0C;
constexpr std::size_t kDmiRevisionOffset = 0x0E;

// Guarded by DmiLock.
bool g_dmiReady = false;
bool g_failAllocation = false;

std::uint16_t Word(const std::uint8_t* bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t Dword(const std::uint8_t* bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(Word(bytes, offset)) |
           (static_cast<std::uint32_t>(Word(bytes, offset + 2)) << 16);
}

// Resolves a non-zero index to its text; nothing for 0.
const char* Resolve(const SmbiosFirmwareTable& table, const std::uint8_t* strings, std::uint8_t index) {
    return index == 0 ? nullptr : table.GetString(strings, index);
}

// Stores a text the firmware answer holds, byte for byte; false when it
// holds none.
bool Store(std::string& field, const char* text) {
    if (text == nullptr) return false;
    field = text;
    return true;
}

}  // namespace

bool DmiReady() {
    DmiLock lock;
    return g_dmiReady;
}

namespace testing {
void FailFirmwareAllocation(bool fail) {
    DmiLock lock;
    g_failAllocation = fail;
}
void ResetDmiReady() {
    DmiLock lock;
    g_dmiReady = false;
    g_failAllocation = false;
}
}  // namespace testing

SmbiosFirmwareTable::~SmbiosFirmwareTable() { delete[] Buffer; }

bool SmbiosFirmwareTable::Fetch() {
    platform::HMODULE kernel32 = platform::LoadLibraryA(kKernel32Path);
    if (kernel32 == nullptr) {
        platform::PutText(kMsgKernel32Failed);
        return false;
    }
    auto getTable = reinterpret_cast<GetSystemFirmwareTableFn>(
        platform::GetProcAddress(kernel32, kGetSystemFirmwareTable));
    if (getTable == nullptr) {
        platform::PutText(kMsgProcFailed);
        platform::FreeLibrary(kernel32);
        return false;
    }
    const DWORD size = getTable(kProviderRsmb, kRsmbTableId, nullptr, 0);
    Buffer = g_failAllocation ? nullptr : new (std::nothrow) std::uint8_t[size != 0 ? size : 1];
    if (Buffer == nullptr) {
        platform::PutText(kMsgAllocFailed);
        platform::FreeLibrary(kernel32);
        return false;
    }
    const DWORD got = getTable(kProviderRsmb, kRsmbTableId, Buffer, size);
    platform::FreeLibrary(kernel32);
    if (got == 0) {
        platform::PutText(kMsgZeroSize);
        return false;
    }
    // An answer that grew between the two calls did not fit and was not
    // written; one shorter than its header holds no table.
    if (got > size || got < kAnswerHeaderSize) return false;
    MajorVersion = Buffer[kAnswerMajorOffset];
    MinorVersion = Buffer[kAnswerMinorOffset];
    TableData = Buffer + kAnswerHeaderSize;
    TableLength = got - static_cast<std::uint32_t>(kAnswerHeaderSize);
    return true;
}

bool SmbiosFirmwareTable::Adopt(const std::uint8_t* answer, std::size_t size) {
    if (answer == nullptr || size < kAnswerHeaderSize || size > UINT32_MAX) return false;
    delete[] Buffer;
    Buffer = new (std::nothrow) std::uint8_t[size];
    if (Buffer == nullptr) return false;
    std::memcpy(Buffer, answer, size);
    MajorVersion = Buffer[kAnswerMajorOffset];
    MinorVersion = Buffer[kAnswerMinorOffset];
    TableData = Buffer + kAnswerHeaderSize;
    TableLength = static_cast<std::uint32_t>(size - kAnswerHeaderSize);
    return true;
}

std::size_t SmbiosFirmwareTable::StructureSize(const std::uint8_t* structure) const {
    const auto start = static_cast<std::size_t>(structure - TableData);
    std::size_t at = start + structure[kLengthOffset];
    while (at + 1 < TableLength) {
        if (TableData[at] == 0 && TableData[at + 1] == 0) return at + 2 - start;
        ++at;
    }
    return 0;
}

const std::uint8_t* SmbiosFirmwareTable::FindStructure(std::uint8_t type) const {
    if (TableData == nullptr) return nullptr;
    std::size_t offset = 0;
    while (offset < TableLength) {
        if (TableLength - offset < kHeaderSize) return nullptr;
        const std::uint8_t* structure = TableData + offset;
        const std::size_t size = StructureSize(structure);
        if (size == 0) return nullptr;  // runs past the end of the table
        if (structure[kTypeOffset] == type) return structure;
        offset += size;
    }
    return nullptr;
}

const char* SmbiosFirmwareTable::GetString(const std::uint8_t* strings, std::uint8_t index) const {
    if (TableData == nullptr || strings == nullptr || index == 0) return nullptr;
    const std::uint8_t* end = TableData + TableLength;
    if (strings < TableData || strings >= end) return nullptr;
    const std::uint8_t* at = strings;
    for (; index > 1; --index) {
        if (*at == 0) return nullptr;  // past the last text
        while (at < end && *at != 0) ++at;
        if (at + 1 >= end) return nullptr;
        ++at;
    }
    if (*at == 0) return nullptr;
    if (std::memchr(at, 0, static_cast<std::size_t>(end - at)) == nullptr) return nullptr;
    return reinterpret_cast<const char*>(at);
}

bool SmbiosFirmwareTable::ReadSystemInfo(SystemInfoView& view) const {
    const std::uint8_t* s = FindStructure(kTypeSystem);
    if (s == nullptr) return false;
    view = SystemInfoView{};
    // Each group is gated on the version that introduced it (as a whole
    // number, so a 3.x table passes all three) and on being inside the
    // structure's formatted area.
    const std::uint16_t version = static_cast<std::uint16_t>((MajorVersion << 8) | MinorVersion);
    const std::uint8_t length = s[kLengthOffset];
    if (version >= kVersionSystemIds && length >= kSystemIdsEnd) {
        view.Type = s[kTypeOffset];
        view.Length = length;
        view.Handle = Word(s, kHandleOffset);
        view.ManufacturerIndex = s[kSystemManufacturer];
        view.ProductNameIndex = s[kSystemProductName];
        view.VersionIndex = s[kSystemVersion];
        view.SerialNumberIndex = s[kSystemSerialNumber];
    }
    if (version >= kVersionSystemUuid && length >= kSystemUuidEnd) {
        std::memcpy(view.Uuid.data(), s + kSystemUuid, view.Uuid.size());
        view.WakeUpType = s[kSystemWakeUpType];
    }
    if (version >= kVersionSystemSku && length >= kSystemSkuEnd) {
        view.SkuNumberIndex = s[kSystemSku];
        view.FamilyIndex = s[kSystemFamily];
    }
    const std::uint8_t* strings = s + length;
    view.Manufacturer = Resolve(*this, strings, view.ManufacturerIndex);
    view.ProductName = Resolve(*this, strings, view.ProductNameIndex);
    view.Version = Resolve(*this, strings, view.VersionIndex);
    view.SerialNumber = Resolve(*this, strings, view.SerialNumberIndex);
    view.SkuNumber = Resolve(*this, strings, view.SkuNumberIndex);
    view.Family = Resolve(*this, strings, view.FamilyIndex);
    return true;
}

bool SmbiosFirmwareTable::ReadBaseboardInfo(BaseboardInfoView& view) const {
    const std::uint8_t* s = FindStructure(kTypeBaseboard);
    if (s == nullptr) return false;
    view = BaseboardInfoView{};
    const std::uint8_t length = s[kLengthOffset];
    // Only what lies inside the formatted area is a field.
    auto byte = [&](std::size_t offset) -> std::uint8_t { return offset < length ? s[offset] : 0; };
    auto word = [&](std::size_t offset) -> std::uint16_t {
        return offset + 1 < length ? Word(s, offset) : 0;
    };
    view.Type = s[kTypeOffset];
    view.Length = length;
    view.Handle = Word(s, kHandleOffset);
    view.ManufacturerIndex = byte(kBoardManufacturer);
    view.ProductIndex = byte(kBoardProduct);
    view.VersionIndex = byte(kBoardVersion);
    view.SerialNumberIndex = byte(kBoardSerialNumber);
    view.AssetTagIndex = byte(kBoardAssetTag);
    view.FeatureFlags = byte(kBoardFeatureFlags);
    view.LocationInChassisIndex = byte(kBoardLocation);
    view.ChassisHandle = word(kBoardChassisHandle);
    view.BoardType = byte(kBoardType);
    view.ContainedObjectCount = byte(kBoardObjectCount);
    if (view.ContainedObjectCount != 0 && length > kBoardObjectHandles) {
        const std::size_t room = (length - kBoardObjectHandles) / kHandleSize;
        view.ContainedObjectHandles = s + kBoardObjectHandles;
        view.ContainedObjectHandlesPresent = room < view.ContainedObjectCount ? room : view.ContainedObjectCount;
    }
    const std::uint8_t* strings = s + length;
    view.Manufacturer = Resolve(*this, strings, view.ManufacturerIndex);
    view.Product = Resolve(*this, strings, view.ProductIndex);
    view.Version = Resolve(*this, strings, view.VersionIndex);
    view.SerialNumber = Resolve(*this, strings, view.SerialNumberIndex);
    view.AssetTag = Resolve(*this, strings, view.AssetTagIndex);
    view.LocationInChassis = Resolve(*this, strings, view.LocationInChassisIndex);
    return true;
}

int fill_from_firmware() {
    DmiLock lock;
    SmbiosFirmwareTable table;
    if (!table.Fetch()) platform::PutText(kMsgFetchFailed);
    DmiData& d = Dmi();
    SystemInfoView system;
    if (table.ReadSystemInfo(system)) {
        if (Store(d.SystemManufacturer, system.Manufacturer)) {
            platform::Printf(kMsgManufacturer, d.SystemManufacturer.c_str());
        }
        if (Store(d.SystemProductName, system.ProductName)) {
            platform::Printf(kMsgProductName, d.SystemProductName.c_str());
        }
        if (Store(d.SystemSerialNumber, system.SerialNumber)) {
            platform::Printf(kMsgSerialNumber, d.SystemSerialNumber.c_str());
        }
        if (Store(d.SystemSku, system.SkuNumber)) platform::Printf(kMsgSkuNumber, d.SystemSku.c_str());
    }
    BaseboardInfoView board;
    if (table.ReadBaseboardInfo(board) && Store(d.BoardSerialNumber, board.SerialNumber)) {
        platform::Printf(kMsgBoardSerial, d.BoardSerialNumber.c_str());
    }
    g_dmiReady = true;
    return 0;
}

bool entry_point_checksum(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return sum == 0;
}

bool smbios_decode(const std::uint8_t* entry, std::size_t available) {
    platform::PutText(kMsgSmbiosDecode);
    // The first checksum covers what the length byte says, but never more
    // than the copy of the BIOS area holds.
    const std::size_t length = entry[kSmLengthOffset];
    if (available <= kSmFieldsEnd || length > available) return false;
    if (!entry_point_checksum(entry, length) ||
        std::memcmp(entry + kSmIntermediateOffset, kDmiAnchor, kDmiAnchorSize) != 0 ||
        !entry_point_checksum(entry + kSmIntermediateOffset, kDmiChecksumSize)) {
        return false;
    }
    dmi_table(Dword(entry, kSmTableAddressOffset), Word(entry, kSmTableLengthOffset),
              Word(entry, kSmStructureCountOffset));
    return true;
}

bool legacy_dmi_decode(const std::uint8_t* entry) {
    if (!entry_point_checksum(entry, kDmiChecksumSize)) return false;
    const unsigned revision = entry[kDmiRevisionOffset];
    platform::Printf(kMsgLegacyVersion, revision >> 4, revision & 0x0Fu);
    dmi_table(Dword(entry, kDmiTableAddressOffset), Word(entry, kDmiTableLengthOffset),
              Word(entry, kDmiStructureCountOffset));
    return true;
}

int scan_bios_area() {
    DmiLock lock;
    // The scan is one piece for the other host threads: no Diag_FreeHWIO of
    // theirs takes the binding away between our bind and our reads, and no
    // EC session of theirs runs on the binding we bring up for it.
    hwio::BindingLock binding;
    const bool hostBound = hwio::HwioReady();
    if (Diag_InitHWIO() == 0) {
        platform::PutText(kMsgInitIoFailed);
        return -1;
    }
    std::unique_ptr<std::uint8_t[]> area(new (std::nothrow) std::uint8_t[kScanBufferSize]());
    if (area == nullptr ||
        hwio::ReadPhysicalMemory(kBiosAreaBase, area.get(), kBiosAreaReadSize) != kBiosAreaReadSize) {
        platform::PutText(kMsgReadFailed);
        // A binding this call brought up goes down again; one the host had
        // brought up before stays, since nothing was scanned.
        if (!hostBound) Diag_FreeHWIO();
        return -1;
    }
    reset_dmi_slots();
    const std::uint8_t* a = area.get();
    for (std::size_t p = 0; p <= kLastParagraph; p += kParagraph) {
        if (std::memcmp(a + p, kSmbiosAnchor, kSmbiosAnchorSize) == 0 && p <= kLastSmbiosParagraph) {
            platform::Printf(kMsgSmbiosAnchor, static_cast<unsigned>(a[p]), static_cast<unsigned>(a[p + 1]),
                        static_cast<unsigned>(a[p + 2]), static_cast<unsigned>(a[p + 3]));
            platform::Printf(kMsgSmbiosVersion, a[p + kSmMajorOffset], a[p + kSmMinorOffset]);
            smbios_decode(a + p, kScanBufferSize - p);
            p += kParagraph;  // its intermediate "_DMI_" is not a legacy entry point
        } else if (std::memcmp(a + p, kDmiAnchor, kDmiAnchorSize) == 0) {
            platform::PutText(kMsgLegacyBios);
            legacy_dmi_decode(a + p);
        }
    }
    g_dmiReady = true;
    platform::PutText(kMsgShutdown);
    Diag_FreeHWIO();
    return 0;
}

}  // namespace hwtk3::smbios

int Diag_FillDMIData(bool scanPhysicalMemory) {
    using namespace hwtk3::smbios;
    DmiLock lock;
    if (DmiReady()) return 0;
    return scanPhysicalMemory ? scan_bios_area() : fill_from_firmware();
}
