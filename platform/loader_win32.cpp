// LoadLibraryA, GetProcAddress and FreeLibrary: the Win32 calls, with the
// bookkeeping the test suite reads.
#include <windows.h>

#include <string>

#include "platform/os_internal.h"
#include "platform/platform.h"

namespace hwtk3::platform {

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD error) { ::SetLastError(error); }

HMODULE LoadLibraryA(const char* fileName) {
    if (fileName == nullptr) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const std::string name = fileName;
    std::string path;
    if (!internal::ModulePathOverride(name, path)) path = name;
    if (path.empty()) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE module = ::LoadLibraryA(path.c_str());
    if (module != nullptr) internal::NoteModuleLoaded(module, name);
    return module;
}

namespace {

// Folder part of a module's path, with its trailing separator; empty when
// the path cannot be had.
std::string ModuleFolder(::HMODULE module) {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::string folder(path, length);
    const std::size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

::HMODULE OwnModule() {
    ::HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
}

// A library by full path; its own dependencies come from its folder and the
// system folder where the system can restrict the search, else from the
// search that starts at its folder.
::HMODULE LoadByPath(const std::string& path) {
    ::HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr,
                                        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

// One restricted search; `fallbackFolder` stands in where the flag is not
// supported (systems without the LOAD_LIBRARY_SEARCH_* update).
::HMODULE LoadFromSearch(const char* fileName, DWORD flag, const std::string& fallbackFolder) {
    ::HMODULE module = ::LoadLibraryExA(fileName, nullptr, flag);
    if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER && !fallbackFolder.empty()) {
        module = LoadByPath(fallbackFolder + fileName);
    }
    return module;
}

std::string SystemFolder() {
    char path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::string(path, length) + "\\";
}

}  // namespace

HMODULE LoadLibraryFromInstallFolders(const char* fileName) {
    if (fileName == nullptr) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const std::string name = fileName;
    std::string overridden;
    if (internal::ModulePathOverride(name, overridden)) return LoadLibraryA(fileName);
    ::HMODULE module = nullptr;
    const std::string ownFolder = ModuleFolder(OwnModule());
    if (!ownFolder.empty()) module = LoadByPath(ownFolder + name);
    if (module == nullptr) {
        module = LoadFromSearch(fileName, LOAD_LIBRARY_SEARCH_APPLICATION_DIR, ModuleFolder(nullptr));
    }
    if (module == nullptr) module = LoadFromSearch(fileName, LOAD_LIBRARY_SEARCH_SYSTEM32, SystemFolder());
    if (module != nullptr) internal::NoteModuleLoaded(module, name);
    return module;
}

ProcAddress GetProcAddress(HMODULE module, const char* procName) {
    ProcAddress address = nullptr;
    if (internal::FirmwareTableOverride(procName, address)) {
        if (address == nullptr) ::SetLastError(ERROR_PROC_NOT_FOUND);
        return address;
    }
    return reinterpret_cast<ProcAddress>(
        ::GetProcAddress(static_cast<::HMODULE>(module), procName));
}

BOOL FreeLibrary(HMODULE module) {
    internal::NoteModuleFreed(module);
    return ::FreeLibrary(static_cast<::HMODULE>(module));
}

}  // namespace hwtk3::platform
