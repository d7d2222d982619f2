// LoadLibraryA, GetProcAddress and FreeLibrary over the dynamic loader.
//
// "Name.dll" is opened as "libName.so" through the ordinary search
// (LD_LIBRARY_PATH, the caller's run path, the system directories), so the
// port-I/O library's six entry points come from a shared object exporting
// them as plain C symbols. Windows' own kernel32.dll, asked for by its full
// path, is answered by our layer itself.
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>

#include "platform/linux_services.h"
#include "platform/os_internal.h"
#include "platform/platform.h"
#include "platform/testing.h"

namespace hwtk3::platform {
namespace {

thread_local DWORD t_lastError = 0;

constexpr const char kKernel32Path[] = "C:\\Windows\\system32\\kernel32.dll";

// The handle that stands for kernel32.dll: the address of an object of ours,
// never a dlopen handle.
char g_kernel32Module;

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Modules served from inside the process; the handle of each is the
// address of its entry. Withdrawing a module only clears its lookup: a
// reference still held to it (a failed bind leaves its module loaded) stays
// a handle of ours, so FreeLibrary drops the reference instead of passing
// our own address to dlclose. The names are the few a test or fuzz target
// serves, so the entries are never erased. Guarded by the module lock.
struct InProcessModule {
    testing::ProcLookup lookup = nullptr;
};

std::map<std::string, InProcessModule>& InProcessModules() {
    static std::map<std::string, InProcessModule> modules;
    return modules;
}

// The module served under `name` right now, or null.
InProcessModule* FindInProcess(const std::string& name) {
    auto it = InProcessModules().find(name);
    return it == InProcessModules().end() || it->second.lookup == nullptr ? nullptr : &it->second;
}

// Any entry, withdrawn ones included: the handle stays ours.
InProcessModule* InProcessByHandle(HMODULE module) {
    for (auto& entry : InProcessModules()) {
        if (&entry.second == module) return &entry.second;
    }
    return nullptr;
}

// True when `module` is a module served in-process; `address` is then what
// its lookup answers.
bool ServedLookup(HMODULE module, const char* procName, ProcAddress& address) {
    internal::ModuleLock lock;
    InProcessModule* served = InProcessByHandle(module);
    if (served == nullptr) return false;
    address = served->lookup != nullptr ? served->lookup(procName) : nullptr;
    return true;
}

// "WinRing0.dll" -> "libWinRing0.so"; a name with a directory part is a path
// and is used as given.
std::string SharedObjectName(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    std::string base = name;
    if (base.size() > 4 && EqualsIgnoringCase(base.substr(base.size() - 4), ".dll")) {
        base.resize(base.size() - 4);
    }
    return "lib" + base + ".so";
}

}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

HMODULE LoadLibraryA(const char* fileName) {
    if (fileName == nullptr) {
        SetLastError(kErrorModNotFound);
        return nullptr;
    }
    const std::string name = fileName;
    internal::ModuleLock lock;
    if (InProcessModule* served = FindInProcess(name)) {
        internal::NoteModuleLoaded(served, name);
        return served;
    }
    std::string path;
    const bool overridden = internal::ModulePathOverride(name, path);
    if (!overridden && EqualsIgnoringCase(name, kKernel32Path)) {
        internal::NoteModuleLoaded(&g_kernel32Module, name);
        return &g_kernel32Module;
    }
    if (!overridden) path = SharedObjectName(name);
    if (path.empty()) {
        SetLastError(kErrorModNotFound);
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        SetLastError(kErrorModNotFound);
        return nullptr;
    }
    internal::NoteModuleLoaded(handle, name);
    return handle;
}

HMODULE LoadLibraryFromInstallFolders(const char* fileName) {
    if (fileName == nullptr) return LoadLibraryA(fileName);
    internal::ModuleLock lock;
    std::string overridden;
    if (internal::ModulePathOverride(fileName, overridden) || FindInProcess(fileName) != nullptr) {
        return LoadLibraryA(fileName);
    }
    // The folder of the object this code is in: libhwtk3.so, or the program
    // when the library is linked in statically.
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&LoadLibraryFromInstallFolders), &self) != 0 &&
        self.dli_fname != nullptr) {
        const std::string own = self.dli_fname;
        const std::size_t slash = own.rfind('/');
        if (slash != std::string::npos) {
            const std::string path = own.substr(0, slash + 1) + SharedObjectName(fileName);
            if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
                internal::NoteModuleLoaded(handle, fileName);
                return handle;
            }
        }
    }
    return LoadLibraryA(fileName);
}

ProcAddress GetProcAddress(HMODULE module, const char* procName) {
    if (module == nullptr || procName == nullptr) {
        SetLastError(kErrorProcNotFound);
        return nullptr;
    }
    ProcAddress address = nullptr;
    if (internal::FirmwareTableOverride(procName, address)) {
        // The virtual notebook's firmware table service.
    } else if (module == &g_kernel32Module) {
        address = internal::Kernel32ProcAddress(procName);
    } else if (ServedLookup(module, procName, address)) {
        // A module served in-process (nothing, once withdrawn).
    } else {
        address = reinterpret_cast<ProcAddress>(dlsym(module, procName));
    }
    if (address == nullptr) SetLastError(kErrorProcNotFound);
    return address;
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr) return 0;
    internal::ModuleLock lock;
    internal::NoteModuleFreed(module);
    if (module == &g_kernel32Module || InProcessByHandle(module) != nullptr) return 1;
    return dlclose(module) == 0 ? 1 : 0;
}

namespace testing {

void ServeModuleInProcess(const char* name, ProcLookup lookup) {
    internal::ModuleLock lock;
    if (lookup != nullptr) {
        InProcessModules()[name].lookup = lookup;
    } else if (auto it = InProcessModules().find(name); it != InProcessModules().end()) {
        it->second.lookup = nullptr;
    }
}

}  // namespace testing

}  // namespace hwtk3::platform
