// Routes imports of a loaded module to functions of the test program: the
// module's import address table is rewritten in place, so the module's own
// calls (and nobody else's) reach the replacement. Used to put the virtual
// notebook's devices behind hwtk3.dll's device and Setup API calls.
#ifndef HWTK3_TESTS_WINE_IMPORT_ROUTING_H
#define HWTK3_TESTS_WINE_IMPORT_ROUTING_H

#include <windows.h>

#include <cstring>

namespace wine_routing {

// Replaces every import slot of `module` for `function` of `dll` (names
// compared as Windows does: the DLL name without regard to case, the
// function name exactly) with `replacement`. The number of slots rewritten.
inline int RouteImport(HMODULE module, const char* dll, const char* function, const void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    if (base == nullptr) return 0;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return 0;

    // Without a name table, a slot is recognised by the address the loader
    // bound it to.
    FARPROC bound = nullptr;
    if (HMODULE exporter = GetModuleHandleA(dll)) bound = GetProcAddress(exporter, function);

    int routed = 0;
    for (auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0) continue;
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        const IMAGE_THUNK_DATA* name = descriptor->OriginalFirstThunk != 0
                                           ? reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk)
                                           : nullptr;
        for (; slot->u1.Function != 0; ++slot) {
            bool match = false;
            if (name != nullptr) {
                if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) {
                    const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
                    match = std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0;
                }
                ++name;
            } else {
                match = bound != nullptr && slot->u1.Function == reinterpret_cast<ULONG_PTR>(bound);
            }
            if (!match) continue;
            DWORD protection = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection)) continue;
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
            ++routed;
        }
    }
    return routed;
}

}  // namespace wine_routing

// Routes `api` of `dll` to `hook`, which must have exactly the type of the
// Win32 function, calling convention included: the conversion to the API's
// own pointer type does not compile otherwise.
#define WINE_ROUTE_IMPORT(module, dll, api, hook) \
    ::wine_routing::RouteImport(module, dll, #api, reinterpret_cast<const void*>(static_cast<decltype(&::api)>(hook)))

#endif  // HWTK3_TESTS_WINE_IMPORT_ROUTING_H
