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
    std::string path = name;
    if (const std::string* override = internal::ModulePathOverride(name)) path = *override;
    if (path.empty()) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE module = ::LoadLibraryA(path.c_str());
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
