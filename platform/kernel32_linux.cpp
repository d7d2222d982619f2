// The kernel32.dll exports our Linux layer answers by name.
//
// GetSystemFirmwareTable answers the 'RSMB' provider as Windows does: an
// 8-byte header (calling-method flag, SMBIOS major and minor version, DMI
// revision, table length) followed by the structure table. The kernel
// publishes the entry point and the table it found under
// /sys/firmware/dmi/tables; without them the service has no table.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/linux_services.h"
#include "platform/testing.h"

namespace hwtk3::platform {
namespace {

constexpr const char kGetSystemFirmwareTable[] = "GetSystemFirmwareTable";
constexpr const char kDefaultTableDirectory[] = "/sys/firmware/dmi/tables";
constexpr const char kEntryPointFile[] = "/smbios_entry_point";
constexpr const char kTableFile[] = "/DMI";

constexpr DWORD kProviderRsmb = 0x52534D42;  // 'RSMB'
constexpr std::size_t kAnswerHeaderSize = 8;

// Entry point anchors and the offsets of their version bytes.
constexpr const char kAnchor2[] = "_SM_";
constexpr std::size_t kAnchor2Size = 4;
constexpr std::size_t kSm2MajorOffset = 0x06;
constexpr std::size_t kSm2MinorOffset = 0x07;
// The 2.1 document gave the length as 0x1E, and firmwares written to it
// still say so; the kernel publishes as many bytes as the entry point
// states. Its fields end at 0x1E either way.
constexpr std::size_t kSm2MinSize = 0x1E;
constexpr const char kAnchor3[] = "_SM3_";
constexpr std::size_t kAnchor3Size = 5;
constexpr std::size_t kSm3MajorOffset = 0x07;
constexpr std::size_t kSm3MinorOffset = 0x08;
constexpr std::size_t kSm3DocRevOffset = 0x09;
constexpr std::size_t kSm3Size = 0x18;
constexpr const char kAnchorLegacy[] = "_DMI_";
constexpr std::size_t kAnchorLegacySize = 5;
constexpr std::size_t kLegacyRevisionOffset = 0x0E;
constexpr std::size_t kLegacySize = 0x0F;

std::string& TableDirectory() {
    static std::string directory = kDefaultTableDirectory;
    return directory;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

bool StartsWith(const std::vector<std::uint8_t>& bytes, const char* anchor, std::size_t size) {
    return bytes.size() >= size && std::memcmp(bytes.data(), anchor, size) == 0;
}

// The answer Windows would give, or false when there is no usable table.
bool BuildRsmbAnswer(std::vector<std::uint8_t>& answer) {
    std::vector<std::uint8_t> entry;
    std::vector<std::uint8_t> table;
    if (!ReadWholeFile(TableDirectory() + kEntryPointFile, entry) ||
        !ReadWholeFile(TableDirectory() + kTableFile, table) || table.empty()) {
        return false;
    }
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    std::uint8_t revision = 0;
    if (StartsWith(entry, kAnchor3, kAnchor3Size) && entry.size() >= kSm3Size) {
        major = entry[kSm3MajorOffset];
        minor = entry[kSm3MinorOffset];
        revision = entry[kSm3DocRevOffset];
    } else if (StartsWith(entry, kAnchor2, kAnchor2Size) && entry.size() >= kSm2MinSize) {
        major = entry[kSm2MajorOffset];
        minor = entry[kSm2MinorOffset];
    } else if (StartsWith(entry, kAnchorLegacy, kAnchorLegacySize) && entry.size() >= kLegacySize) {
        major = entry[kLegacyRevisionOffset] >> 4;
        minor = entry[kLegacyRevisionOffset] & 0x0F;
    } else {
        return false;
    }
    if (table.size() > UINT32_MAX - kAnswerHeaderSize) return false;
    const auto length = static_cast<std::uint32_t>(table.size());
    answer.assign(kAnswerHeaderSize, 0);
    answer[1] = major;
    answer[2] = minor;
    answer[3] = revision;
    for (std::size_t i = 0; i < 4; ++i) answer[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    answer.insert(answer.end(), table.begin(), table.end());
    return true;
}

DWORD HWTK3_WINAPI GetSystemFirmwareTable(DWORD provider, DWORD tableId, void* buffer, DWORD size) {
    (void)tableId;  // 'RSMB' has one table; Windows ignores the id
    std::vector<std::uint8_t> answer;
    if (provider != kProviderRsmb) {
        SetLastError(kErrorInvalidFunction);
        return 0;
    }
    if (!BuildRsmbAnswer(answer)) {
        SetLastError(kErrorFileNotFound);
        return 0;
    }
    const auto needed = static_cast<DWORD>(answer.size());
    if (buffer == nullptr || size < needed) {
        SetLastError(kErrorInsufficientBuffer);
        return needed;
    }
    std::memcpy(buffer, answer.data(), answer.size());
    return needed;
}

}  // namespace

namespace testing {
void SetFirmwareTableDirectory(const char* directory) {
    TableDirectory() = directory != nullptr ? directory : kDefaultTableDirectory;
}
}  // namespace testing

namespace internal {

ProcAddress Kernel32ProcAddress(const char* procName) {
    if (procName != nullptr && std::strcmp(procName, kGetSystemFirmwareTable) == 0) {
        return reinterpret_cast<ProcAddress>(&GetSystemFirmwareTable);
    }
    return nullptr;
}

}  // namespace internal
}  // namespace hwtk3::platform
