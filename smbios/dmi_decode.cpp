// The identity record and the decoding of the structure table found in
// physical memory.
#include "smbios/dmi_decode.h"

#include <cassert>
#include <new>

#include "hwio/port_io.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace hwtk3::smbios {
namespace {

constexpr const char kMsgMemChunk[] = "mem_chunk, base=0x%X, len=%d\n";
constexpr const char kMsgMallocError[] = "malloc error!\n";
constexpr const char kMsgReadPhysical[] = "ReadPhysicalMemory: Address 0x%X, length %d\n";
constexpr const char kMsgReadPhysicalError[] = "ReadPhysicalMemory error! ret_len = %d\n";
constexpr const char kMsgDmiTable[] = "dmi_table\n";
constexpr const char kMsgTableUnreachable[] = "Table is not reachable, exit!\n";

constexpr const char kNotSpecified[] = "Not Specified";
constexpr const char kBadIndex[] = "<BAD INDEX>";

// Structure header.
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kTypeOffset = 0x00;
constexpr std::size_t kLengthOffset = 0x01;

// Structure types.
constexpr std::uint8_t kTypeBios = 0;
constexpr std::uint8_t kTypeSystem = 1;
constexpr std::uint8_t kTypeBaseboard = 2;
constexpr std::uint8_t kTypeChassis = 3;
constexpr std::uint8_t kTypeProcessor = 4;
constexpr std::uint8_t kTypeMemoryModule = 6;
constexpr std::uint8_t kTypeCache = 7;
constexpr std::uint8_t kTypeOemStrings = 11;
constexpr std::uint8_t kTypeMemoryDevice = 17;
constexpr std::uint8_t kTypeEndOfTable = 127;

// BIOS information.
constexpr std::uint8_t kBiosMinLength = 0x12;
constexpr std::size_t kBiosVendor = 0x04;
constexpr std::size_t kBiosVersion = 0x05;
constexpr std::size_t kBiosAddress = 0x06;
constexpr std::size_t kBiosDate = 0x08;
constexpr std::size_t kBiosRomSize = 0x09;
constexpr std::uint32_t kBiosRomUnitKb = 64;

// System information.
constexpr std::uint8_t kSystemMinLength = 0x08;
constexpr std::uint8_t kSystemUuidMinLength = 0x19;
constexpr std::uint8_t kSystemSkuMinLength = 0x1B;
constexpr std::size_t kSystemManufacturer = 0x04;
constexpr std::size_t kSystemProductName = 0x05;
constexpr std::size_t kSystemVersion = 0x06;
constexpr std::size_t kSystemSerialNumber = 0x07;
constexpr std::size_t kSystemUuid = 0x08;
constexpr std::size_t kSystemSku = 0x19;
constexpr std::size_t kSystemFamily = 0x1A;

// Baseboard information.
constexpr std::uint8_t kBoardMinLength = 0x08;
constexpr std::size_t kBoardManufacturer = 0x04;
constexpr std::size_t kBoardProductName = 0x05;
constexpr std::size_t kBoardVersion = 0x06;
constexpr std::size_t kBoardSerialNumber = 0x07;

// System enclosure.
constexpr std::uint8_t kChassisMinLength = 0x09;
constexpr std::size_t kChassisManufacturer = 0x04;
constexpr std::size_t kChassisVersion = 0x06;
constexpr std::size_t kChassisSerialNumber = 0x07;

// Processor information.
constexpr std::uint8_t kProcessorMinLength = 0x1A;
constexpr std::size_t kProcessorSocket = 0x04;
constexpr std::size_t kProcessorManufacturer = 0x07;
constexpr std::size_t kProcessorId = 0x08;
constexpr std::size_t kProcessorVersion = 0x10;
constexpr std::size_t kProcessorExternalClock = 0x12;
constexpr std::size_t kProcessorMaxSpeed = 0x14;
constexpr std::size_t kProcessorCurrentSpeed = 0x16;

// Memory module information.
constexpr std::uint8_t kMemoryModuleMinLength = 0x0C;
constexpr std::size_t kMemoryModuleSocket = 0x04;
constexpr std::size_t kMemoryModuleSpeed = 0x06;
constexpr std::size_t kMemoryModuleInstalledSize = 0x09;
constexpr std::size_t kMemoryModuleEnabledSize = 0x0A;
constexpr std::uint8_t kModuleSizeMask = 0x7F;  // bit 7: double bank
constexpr std::uint8_t kModuleSizeUndeterminable = 0x7D;
constexpr std::uint8_t kModuleSizeNotEnabled = 0x7E;
constexpr std::uint8_t kModuleSizeNotInstalled = 0x7F;
constexpr std::uint8_t kModuleSizeLargestExponent = 30;  // 2^30 MB still fits in i32
constexpr std::int32_t kModuleUndeterminable = -1;
constexpr std::int32_t kModuleNotEnabled = -2;
constexpr std::int32_t kModuleNotInstalled = -3;

// Cache information.
constexpr std::uint8_t kCacheMinLength = 0x0F;
constexpr std::uint8_t kCacheSpeedMinLength = 0x10;
constexpr std::size_t kCacheSocket = 0x04;
constexpr std::size_t kCacheMaxSize = 0x07;
constexpr std::size_t kCacheInstalledSize = 0x09;
constexpr std::size_t kCacheSpeed = 0x0F;
constexpr std::uint16_t kCacheGranularity64K = 0x8000;
constexpr std::uint16_t kCacheSizeMask = 0x7FFF;
constexpr std::uint32_t kCacheGranuleKb = 64;

// OEM strings: the count byte is the only formatted field.
constexpr std::uint8_t kOemStringsMinLength = 0x05;
constexpr std::size_t kOemStringCount = 0x04;
constexpr std::uint8_t kOemSkuString = 3;

// Memory device.
constexpr std::uint8_t kMemoryDeviceMinLength = 0x15;
constexpr std::uint8_t kMemoryDeviceSpeedMinLength = 0x17;
constexpr std::size_t kMemoryDeviceSize = 0x0C;
constexpr std::size_t kMemoryDeviceSpeed = 0x15;

// Printable text: everything outside 0x20..0x7E becomes '.'.
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kDelete = 0x7F;
constexpr char kReplacement = '.';

// Guarded by DmiLock.
DmiData g_dmiData;

platform::CriticalSection& RecordLock() {
    static platform::CriticalSection lock;
    return lock;
}

std::uint16_t Word(const std::uint8_t* bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint8_t Length(const DmiStructure& s) { return s.data[kLengthOffset]; }

std::string Text(const DmiStructure& s, std::size_t offset) { return structure_string(s, s.data[offset]); }

// The lowest slot whose occupancy key is 0, or kDmiSlots when all are taken.
template <typename Key>
std::size_t FreeSlot(const std::array<Key, kDmiSlots>& keys) {
    std::size_t slot = 0;
    while (slot < kDmiSlots && keys[slot] != 0) ++slot;
    return slot;
}

void DecodeBios(const DmiStructure& s) {
    DmiData& d = g_dmiData;
    d.BiosVendor = Text(s, kBiosVendor);
    d.BiosVersion = Text(s, kBiosVersion);
    d.BiosDate = Text(s, kBiosDate);
    d.BiosAddress = Word(s.data, kBiosAddress);
    d.BiosRomSize = (static_cast<std::uint32_t>(s.data[kBiosRomSize]) + 1) * kBiosRomUnitKb;
}

void DecodeSystem(const DmiStructure& s) {
    DmiData& d = g_dmiData;
    d.SystemManufacturer = Text(s, kSystemManufacturer);
    d.SystemProductName = Text(s, kSystemProductName);
    d.SystemVersion = Text(s, kSystemVersion);
    d.SystemSerialNumber = Text(s, kSystemSerialNumber);
    if (Length(s) >= kSystemUuidMinLength) {
        for (std::size_t i = 0; i < d.SystemUuid.size(); ++i) d.SystemUuid[i] = s.data[kSystemUuid + i];
    }
    if (Length(s) >= kSystemSkuMinLength) {
        d.SystemSku = Text(s, kSystemSku);
        d.SystemFamily = Text(s, kSystemFamily);
    }
}

void DecodeBaseboard(const DmiStructure& s) {
    DmiData& d = g_dmiData;
    d.BoardManufacturer = Text(s, kBoardManufacturer);
    d.BoardProductName = Text(s, kBoardProductName);
    d.BoardVersion = Text(s, kBoardVersion);
    d.BoardSerialNumber = Text(s, kBoardSerialNumber);
}

void DecodeChassis(const DmiStructure& s) {
    DmiData& d = g_dmiData;
    d.ChassisManufacturer = Text(s, kChassisManufacturer);
    d.ChassisVersion = Text(s, kChassisVersion);
    d.ChassisSerialNumber = Text(s, kChassisSerialNumber);
}

void DecodeProcessor(const DmiStructure& s) {
    DmiData& d = g_dmiData;
    d.ProcessorSocket = Text(s, kProcessorSocket);
    d.ProcessorManufacturer = Text(s, kProcessorManufacturer);
    for (std::size_t i = 0; i < d.ProcessorId.size(); ++i) d.ProcessorId[i] = s.data[kProcessorId + i];
    d.ProcessorVersion = Text(s, kProcessorVersion);
    d.ProcessorExternalClock = Word(s.data, kProcessorExternalClock);
    d.ProcessorMaxSpeed = Word(s.data, kProcessorMaxSpeed);
    d.ProcessorCurrentSpeed = Word(s.data, kProcessorCurrentSpeed);
}

void DecodeMemoryModule(const DmiStructure& s) {
    DmiData& d = g_dmiData;
    const std::size_t slot = FreeSlot(d.MemoryInstalledSize);
    if (slot == kDmiSlots) return;
    d.MemoryDimm[slot] = Text(s, kMemoryModuleSocket);
    d.MemoryCurrentSpeed[slot] = s.data[kMemoryModuleSpeed];
    d.MemoryInstalledSize[slot] = memory_module_size(s.data[kMemoryModuleInstalledSize]);
    d.MemoryEnabledSize[slot] = memory_module_size(s.data[kMemoryModuleEnabledSize]);
}

void DecodeCache(const DmiStructure& s) {
    DmiData& d = g_dmiData;
    const std::size_t slot = FreeSlot(d.CacheInstalledSize);
    if (slot == kDmiSlots) return;
    d.CacheSocket[slot] = Text(s, kCacheSocket);
    d.CacheInstalledSize[slot] = cache_size(Word(s.data, kCacheInstalledSize));
    d.CacheMaxSize[slot] = cache_size(Word(s.data, kCacheMaxSize));
    if (Length(s) >= kCacheSpeedMinLength) d.CacheCurrentSpeed[slot] = s.data[kCacheSpeed];
}

void DecodeMemoryDevice(const DmiStructure& s) {
    DmiData& d = g_dmiData;
    const std::size_t slot = FreeSlot(d.MemoryDeviceSize);
    if (slot == kDmiSlots) return;
    d.MemoryDeviceSize[slot] = Word(s.data, kMemoryDeviceSize);
    if (Length(s) >= kMemoryDeviceSpeedMinLength) d.MemoryDeviceSpeed[slot] = Word(s.data, kMemoryDeviceSpeed);
}

}  // namespace

DmiData& Dmi() { return g_dmiData; }

DmiLock::DmiLock() {
    // Taken with the binding lock held, this would invert the lock order.
    assert(!hwio::BindingLockHeld());
    RecordLock().Enter();
}
DmiLock::~DmiLock() { RecordLock().Leave(); }

namespace testing {
void ResetDmiData() {
    DmiLock lock;
    g_dmiData = DmiData{};
}
}  // namespace testing

std::uint8_t* mem_chunk(std::uint32_t address, std::uint16_t length) {
    platform::Printf(kMsgMemChunk, address, static_cast<int>(length));
    // One byte at least, so that an empty table still has an address.
    auto* block = new (std::nothrow) std::uint8_t[length != 0 ? length : 1];
    if (block == nullptr) {
        platform::PutText(kMsgMallocError);
        return nullptr;
    }
    platform::Printf(kMsgReadPhysical, address, static_cast<int>(length));
    const std::uint32_t copied = hwio::ReadPhysicalMemory(address, block, length);
    if (copied != length) {
        platform::Printf(kMsgReadPhysicalError, static_cast<int>(copied));
        delete[] block;
        return nullptr;
    }
    return block;
}

void dmi_table(std::uint32_t address, std::uint16_t length, std::uint16_t count) {
    platform::PutText(kMsgDmiTable);
    std::uint8_t* table = mem_chunk(address, length);
    if (table == nullptr) {
        platform::PutText(kMsgTableUnreachable);
        return;
    }
    decode_table(table, length, count);
    delete[] table;
}

void decode_table(std::uint8_t* table, std::size_t length, std::uint16_t count) {
    std::size_t start = 0;
    for (std::uint16_t decoded = 0; decoded < count && start + kHeaderSize <= length; ++decoded) {
        std::uint8_t* structure = table + start;
        if (structure[kTypeOffset] == kTypeEndOfTable) break;
        // The string set ends at the first double zero after the formatted area.
        std::size_t end = start + structure[kLengthOffset];
        while (end + 1 < length && (table[end] != 0 || table[end + 1] != 0)) ++end;
        const std::size_t next = end + 2;
        if (next <= length) decode_structure(DmiStructure{structure, next - start});
        start = next;
    }
}

void decode_structure(const DmiStructure& s) {
    if (s.size < kHeaderSize) return;
    const std::uint8_t length = Length(s);
    switch (s.data[kTypeOffset]) {
        case kTypeBios:
            if (length >= kBiosMinLength) DecodeBios(s);
            break;
        case kTypeSystem:
            if (length >= kSystemMinLength) DecodeSystem(s);
            break;
        case kTypeBaseboard:
            if (length >= kBoardMinLength) DecodeBaseboard(s);
            break;
        case kTypeChassis:
            if (length >= kChassisMinLength) DecodeChassis(s);
            break;
        case kTypeProcessor:
            if (length >= kProcessorMinLength) DecodeProcessor(s);
            break;
        case kTypeMemoryModule:
            if (length >= kMemoryModuleMinLength) DecodeMemoryModule(s);
            break;
        case kTypeCache:
            if (length >= kCacheMinLength) DecodeCache(s);
            break;
        case kTypeOemStrings:
            if (length >= kOemStringsMinLength) decode_oem_strings(s);
            break;
        case kTypeMemoryDevice:
            if (length >= kMemoryDeviceMinLength) DecodeMemoryDevice(s);
            break;
        default:
            break;
    }
}

std::string structure_string(const DmiStructure& s, std::uint8_t index) {
    if (index == 0) return kNotSpecified;
    const std::size_t end = s.size;
    std::size_t at = Length(s);
    while (index > 1 && at < end && s.data[at] != 0) {
        while (at < end && s.data[at] != 0) ++at;
        ++at;  // the text's NUL
        --index;
    }
    if (at >= end || s.data[at] == 0) return kBadIndex;
    const std::size_t first = at;
    for (; at < end && s.data[at] != 0; ++at) {
        const std::uint8_t c = s.data[at];
        if (c < kFirstPrintable || c >= kDelete) s.data[at] = static_cast<std::uint8_t>(kReplacement);
    }
    return std::string(reinterpret_cast<const char*>(s.data + first), at - first);
}

std::int32_t memory_module_size(std::uint8_t code) {
    const std::uint8_t n = code & kModuleSizeMask;
    switch (n) {
        case kModuleSizeUndeterminable:
            return kModuleUndeterminable;
        case kModuleSizeNotEnabled:
            return kModuleNotEnabled;
        case kModuleSizeNotInstalled:
            return kModuleNotInstalled;
        default:
            break;
    }
    // No module reports more than 2^30 MB; a larger exponent cannot be a
    // size, so it counts as not determinable rather than overflowing.
    if (n > kModuleSizeLargestExponent) return kModuleUndeterminable;
    return static_cast<std::int32_t>(1) << n;
}

std::uint32_t cache_size(std::uint16_t code) {
    if ((code & kCacheGranularity64K) != 0) return static_cast<std::uint32_t>(code & kCacheSizeMask) * kCacheGranuleKb;
    return code;
}

void decode_oem_strings(const DmiStructure& s) {
    if (s.size <= kOemStringCount || Length(s) < kOemStringsMinLength) return;
    std::uint8_t n = s.data[kOemStringCount];
    if (n > kDmiSlots) n = static_cast<std::uint8_t>(kDmiSlots);
    for (std::uint8_t i = 1; i <= n; ++i) g_dmiData.OemString[i - 1] = structure_string(s, i);
    if (n >= kOemSkuString) g_dmiData.SystemSku = structure_string(s, kOemSkuString);
}

void reset_dmi_slots() {
    g_dmiData.MemoryInstalledSize.fill(0);
    g_dmiData.CacheInstalledSize.fill(0);
    g_dmiData.MemoryDeviceSize.fill(0);
}

}  // namespace hwtk3::smbios
