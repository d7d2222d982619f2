// Test-side bookkeeping of loaded modules, common to both loaders.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/os_internal.h"
#include "platform/sync.h"
#include "platform/testing.h"

namespace hwtk3::platform {
namespace {

CriticalSection& ModuleBookkeepingLock() {
    static CriticalSection lock;
    return lock;
}

// Guarded by ModuleLock.
std::map<std::string, std::string>& Overrides() {
    static std::map<std::string, std::string> overrides;
    return overrides;
}

// One entry per successful load not yet freed: handle and the name asked
// for. Guarded by ModuleLock.
std::vector<std::pair<HMODULE, std::string>>& Loads() {
    static std::vector<std::pair<HMODULE, std::string>> loads;
    return loads;
}

}  // namespace

namespace internal {

ModuleLock::ModuleLock() { ModuleBookkeepingLock().Enter(); }
ModuleLock::~ModuleLock() { ModuleBookkeepingLock().Leave(); }

bool ModulePathOverride(const std::string& name, std::string& path) {
    ModuleLock lock;
    auto it = Overrides().find(name);
    if (it == Overrides().end()) return false;
    path = it->second;
    return true;
}

void NoteModuleLoaded(HMODULE module, const std::string& name) {
    ModuleLock lock;
    Loads().emplace_back(module, name);
}

void NoteModuleFreed(HMODULE module) {
    ModuleLock lock;
    auto& loads = Loads();
    for (auto it = loads.begin(); it != loads.end(); ++it) {
        if (it->first == module) {
            loads.erase(it);
            return;
        }
    }
}

}  // namespace internal

namespace testing {

void OverrideModulePath(const char* name, const char* path) {
    internal::ModuleLock lock;
    if (path == nullptr) {
        Overrides().erase(name);
    } else {
        Overrides()[name] = path;
    }
}

void ReleaseAllModules() {
    internal::ModuleLock lock;
    while (!Loads().empty()) FreeLibrary(Loads().back().first);
}

int ModuleReferences(const char* name) {
    internal::ModuleLock lock;
    int count = 0;
    for (const auto& load : Loads()) {
        if (load.second == name) ++count;
    }
    return count;
}

}  // namespace testing
}  // namespace hwtk3::platform
