// Why WinRing0 could not be bound on this Windows machine, as far as we can
// tell from outside hwtk3.dll, which only says "Failed to init WinRing0!":
// where WinRing0.dll is (the library looks beside hwtk3.dll, then in the
// program's folder, then in the system folder), whether its driver file is
// beside it (antivirus programs like to quarantine it), whether we are
// elevated (only an administrator can start the driver), and whether memory
// integrity or the vulnerable-driver block list is on (either makes Windows
// refuse the driver), from their documented registry values.
#include <windows.h>

#include <cctype>
#include <initializer_list>
#include <string>
#include <vector>

#include "tools/diag_bind_check.h"

namespace hwtk3::diag {
namespace {

constexpr const char kPortIoLibrary[] = "WinRing0.dll";
constexpr const char kLibraryModule[] = "hwtk3.dll";
// The driver WinRing0.dll installs: the 64-bit one on 64-bit Windows, also
// for a 32-bit process.
constexpr const char kDriver32[] = "WinRing0.sys";
constexpr const char kDriver64[] = "WinRing0x64.sys";

constexpr const char kMemoryIntegrityKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\HypervisorEnforcedCodeIntegrity";
constexpr const char kMemoryIntegrityValue[] = "Enabled";
constexpr const char kBlockListKey[] = "SYSTEM\\CurrentControlSet\\Control\\CI\\Config";
constexpr const char kBlockListValue[] = "VulnerableDriverBlocklistEnable";

constexpr const char kMsgLibraryLoaded[] = "WinRing0.dll was loaded from %s.";
constexpr const char kMsgLibraryFound[] = "WinRing0.dll is at %s, where the library looks for it.";
constexpr const char kMsgLibraryMissing[] =
    "WinRing0.dll was not found where the library looks (%s): put the 32-bit WinRing0.dll beside "
    "hwtk3.dll, with its driver file.";
constexpr const char kMsgDriverPresent[] = "The driver file %s is beside it.";
constexpr const char kMsgDriverMissing[] =
    "The driver file %s is not beside it in %s: copy it there with WinRing0.dll; if it was there, the "
    "antivirus may have quarantined it (restore it and exclude the folder).";
constexpr const char kMsgElevated[] = "The process is elevated.";
constexpr const char kMsgNotElevated[] =
    "The process is not elevated, and only an administrator can start the port-I/O driver: run the "
    "program as administrator.";
constexpr const char kMsgElevationUnknown[] = "Whether the process is elevated cannot be told (error %s).";
constexpr const char kMsgMemoryIntegrityOn[] =
    "Memory integrity (HVCI) is on (HKLM\\%s, %s = %s), and Windows then refuses the port-I/O driver: "
    "turn it off under Windows Security > Device security > Core isolation, then restart.";
constexpr const char kMsgMemoryIntegrityOff[] = "Memory integrity (HVCI) is off (HKLM\\%s, %s = 0).";
constexpr const char kMsgMemoryIntegrityUnset[] =
    "Memory integrity (HVCI) is not set in the registry (no %s under HKLM\\%s), so it is off unless a "
    "policy turns it on.";
constexpr const char kMsgBlockListOn[] =
    "The vulnerable-driver block list is on (HKLM\\%s, %s = %s), and it can refuse the port-I/O driver: "
    "turn off \"Microsoft Vulnerable Driver Blocklist\" under Windows Security > Device security > Core "
    "isolation, then restart.";
constexpr const char kMsgBlockListOff[] = "The vulnerable-driver block list is off (HKLM\\%s, %s = 0).";
constexpr const char kMsgBlockListUnset[] =
    "The vulnerable-driver block list is not set in the registry (no %s under HKLM\\%s); Windows 11 "
    "2022 and later keep it on by default, and memory integrity enforces it.";

// The pattern with each "%s" replaced by the next argument.
std::string Fill(const char* pattern, std::initializer_list<std::string> arguments) {
    std::string text;
    auto argument = arguments.begin();
    for (const char* c = pattern; *c != '\0'; ++c) {
        if (c[0] == '%' && c[1] == 's' && argument != arguments.end()) {
            text += *argument++;
            ++c;
        } else {
            text += *c;
        }
    }
    return text;
}

// Folder of a module, with its trailing backslash; empty when unknown.
std::string ModuleFolder(HMODULE module) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const std::string file(path, length);
    const std::size_t slash = file.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

std::string SystemFolder() {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(path, length) + "\\";
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A folder as a sentence shows it: without the trailing backslash.
std::string Shown(const std::string& folder) {
    return folder.size() > 1 && folder.back() == '\\' ? folder.substr(0, folder.size() - 1) : folder;
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

struct Place {
    std::string folder;
    std::string roles;
};

// The folders the library searches, in its order, each once.
std::vector<Place> SearchedFolders() {
    const std::pair<std::string, const char*> candidates[] = {
        {ModuleFolder(GetModuleHandleA(kLibraryModule)), "hwtk3.dll's folder"},
        {ModuleFolder(nullptr), "the program's folder"},
        {SystemFolder(), "the system folder"},
    };
    std::vector<Place> places;
    for (const auto& candidate : candidates) {
        if (candidate.first.empty()) continue;
        bool merged = false;
        for (Place& place : places) {
            if (Lower(place.folder) == Lower(candidate.first)) {
                place.roles += std::string(" and ") + candidate.second;
                merged = true;
            }
        }
        if (!merged) places.push_back({candidate.first, candidate.second});
    }
    return places;
}

std::string Describe(const std::vector<Place>& places) {
    std::string text;
    for (const Place& place : places) {
        if (!text.empty()) text += ", then ";
        text += Shown(place.folder) + " (" + place.roles + ")";
    }
    return text;
}

bool SixtyFourBitWindows() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

// WinRing0.dll, and its folder when there is one: the file the library
// still holds after a failed initialisation, else the first in its search.
Finding LibraryFinding(std::string& folder) {
    const std::vector<Place> places = SearchedFolders();
    if (HMODULE loaded = GetModuleHandleA(kPortIoLibrary)) {
        folder = ModuleFolder(loaded);
        if (!folder.empty()) return {"winring0_dll", "loaded", Fill(kMsgLibraryLoaded, {folder + kPortIoLibrary})};
    }
    for (const Place& place : places) {
        if (FileExists(place.folder + kPortIoLibrary)) {
            folder = place.folder;
            return {"winring0_dll", "found", Fill(kMsgLibraryFound, {folder + kPortIoLibrary})};
        }
    }
    folder.clear();
    return {"winring0_dll", "missing", Fill(kMsgLibraryMissing, {Describe(places)})};
}

Finding DriverFinding(const std::string& folder) {
    const std::string driver = SixtyFourBitWindows() ? kDriver64 : kDriver32;
    if (FileExists(folder + driver)) return {"driver_file", "present", Fill(kMsgDriverPresent, {driver})};
    return {"driver_file", "missing", Fill(kMsgDriverMissing, {driver, Shown(folder)})};
}

Finding ElevationFinding() {
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    DWORD error = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        error = GetLastError();
    } else {
        if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) error = GetLastError();
        CloseHandle(token);
    }
    if (error != 0) return {"elevated", "unknown", Fill(kMsgElevationUnknown, {std::to_string(error)})};
    return elevation.TokenIsElevated ? Finding{"elevated", "yes", kMsgElevated}
                                     : Finding{"elevated", "no", kMsgNotElevated};
}

// A DWORD under HKLM, from the 64-bit view on 64-bit Windows; false when
// the key or the value is not there.
bool ReadMachineDword(const char* key, const char* value, unsigned long& data) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD number = 0;
    DWORD size = sizeof number;
    const LONG status = RegQueryValueExA(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof number) return false;
    data = number;
    return true;
}

struct SwitchTexts {
    const char* id;
    const char* key;
    const char* value;
    const char* on;
    const char* off;
    const char* unset;
};

Finding SwitchFinding(const SwitchTexts& texts) {
    unsigned long data = 0;
    if (!ReadMachineDword(texts.key, texts.value, data)) {
        return {texts.id, "not set", Fill(texts.unset, {texts.value, texts.key})};
    }
    if (data == 0) return {texts.id, "off", Fill(texts.off, {texts.key, texts.value})};
    return {texts.id, "on", Fill(texts.on, {texts.key, texts.value, std::to_string(data)})};
}

}  // namespace

std::vector<Finding> CheckFailedBind() {
    std::vector<Finding> findings;
    std::string folder;
    findings.push_back(LibraryFinding(folder));
    if (!folder.empty()) findings.push_back(DriverFinding(folder));
    findings.push_back(ElevationFinding());
    findings.push_back(SwitchFinding({"memory_integrity", kMemoryIntegrityKey, kMemoryIntegrityValue,
                                      kMsgMemoryIntegrityOn, kMsgMemoryIntegrityOff, kMsgMemoryIntegrityUnset}));
    findings.push_back(SwitchFinding({"driver_block_list", kBlockListKey, kBlockListValue, kMsgBlockListOn,
                                      kMsgBlockListOff, kMsgBlockListUnset}));
    return findings;
}

}  // namespace hwtk3::diag
