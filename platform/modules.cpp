// Test-side bookkeeping of loaded modules, common to both loaders.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/os_internal.h"
#include "platform/testing.h"

namespace hwtk3::platform {
namespace {

std::map<std::string, std::string>& Overrides() {
    static std::map<std::string, std::string> overrides;
    return overrides;
}

// One entry per successful load not yet freed: handle and the name asked for.
std::vector<std::pair<HMODULE, std::string>>& Loads() {
    static std::vector<std::pair<HMODULE, std::string>> loads;
    return loads;
}

}  // namespace

namespace internal {

const std::string* ModulePathOverride(const std::string& name) {
    auto it = Overrides().find(name);
    return it == Overrides().end() ? nullptr : &it->second;
}

void NoteModuleLoaded(HMODULE module, const std::string& name) { Loads().emplace_back(module, name); }

void NoteModuleFreed(HMODULE module) {
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
    if (path == nullptr) {
        Overrides().erase(name);
    } else {
        Overrides()[name] = path;
    }
}

void ReleaseAllModules() {
    while (!Loads().empty()) FreeLibrary(Loads().back().first);
}

int ModuleReferences(const char* name) {
    int count = 0;
    for (const auto& load : Loads()) {
        if (load.second == name) ++count;
    }
    return count;
}

}  // namespace testing
}  // namespace hwtk3::platform
