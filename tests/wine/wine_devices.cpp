// The real hwtk3.dll's ACPI method channel, device controls and battery
// status, run under Wine against the virtual notebook's ACPI control driver
// and battery devices. Wine has neither, so this program routes the DLL's
// own imports (CreateFileW, DeviceIoControl, CloseHandle; the Setup API
// calls, LocalAlloc, LocalFree and CreateFileA) to the models by rewriting
// hwtk3.dll's import address table. The models and the routing see exactly
// what the 32-bit DLL passes: the request byte by byte, the argument block
// read through the address in it, the record sizes of the Setup API, the
// battery I/O controls with their input records, and every handle and
// buffer taken and given back.
#define NOMINMAX
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "include/hwtk3.h"
#include "sim/notebook.h"
#include "tests/wine/wine_check.h"
#include "tests/wine/wine_import_routing.h"

using wine_check::Check;
using wine_check::CheckEqual;

namespace {

namespace sim = hwtk3::sim;
using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// What the DLL's routed calls did.

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct OpenRecord {
    std::string path;
    bool wide = false;
    DWORD access = 0, share = 0, disposition = 0, flags = 0;
    bool security = false, templateFile = false;
    HANDLE handle = nullptr;
};

struct IoctlRecord {
    HANDLE device = nullptr;
    DWORD code = 0;
    Bytes in;
    DWORD inSize = 0;
    DWORD outSize = 0;
    bool outZeroed = false;  // the output buffer held only zeros when it came in
    bool returnedCount = false;
    DWORD returnedAtEntry = 0xFFFFFFFF;
    bool overlapped = false;
    bool blockOnStack = false;  // the request's argument block address lies on the calling thread's stack
    BOOL ok = FALSE;
    double endMs = 0;
};

struct CloseRecord {
    HANDLE handle = nullptr;
    BOOL ok = FALSE;
    double atMs = 0;
};

struct Calls {
    std::vector<OpenRecord> opens;
    std::vector<IoctlRecord> ioctls;
    std::vector<CloseRecord> closes;
    void Clear() { *this = Calls{}; }
} g_calls;

std::set<HANDLE> g_modelHandles;  // every handle a model ever issued
int g_foreignCloses = 0;          // CloseHandle on a handle of Windows' own, passed on
int g_strayUses = 0;              // handles used after their close, over all notebooks so far

std::uint32_t Read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Put32(Bytes& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes Le32s(std::initializer_list<std::uint32_t> values) {
    Bytes bytes;
    for (std::uint32_t v : values) Put32(bytes, v);
    return bytes;
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char byte[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        if (!text.empty()) text += ' ';
        text += byte;
    }
    return text;
}

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// The thread's stack is one reservation: an address lies on it when it
// belongs to the same allocation as a local variable of ours.
bool OnThisThreadsStack(std::uint32_t address) {
    int local = 0;
    MEMORY_BASIC_INFORMATION ours{}, theirs{};
    if (VirtualQuery(&local, &ours, sizeof ours) == 0 ||
        VirtualQuery(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), &theirs, sizeof theirs) == 0) {
        return false;
    }
    return theirs.AllocationBase == ours.AllocationBase;
}

HANDLE OpenOnModel(const std::string& path, bool wide, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    OpenRecord record;
    record.path = path;
    record.wide = wide;
    record.access = access;
    record.share = share;
    record.disposition = disposition;
    record.flags = flags;
    record.security = security != nullptr;
    record.templateFile = templateFile != nullptr;
    hwtk3::platform::DWORD error = 0;
    const HANDLE handle = sim::Current().devices.Open(path, access, error);
    record.handle = handle;
    g_calls.opens.push_back(record);
    if (handle == INVALID_HANDLE_VALUE) {
        SetLastError(error);
    } else {
        g_modelHandles.insert(handle);
        SetLastError(ERROR_SUCCESS);
    }
    return handle;
}

HANDLE WINAPI RoutedCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile) {
    std::string path;
    for (const wchar_t* c = name; c != nullptr && *c != 0; ++c) path += *c < 0x80 ? static_cast<char>(*c) : '?';
    return OpenOnModel(path, true, access, share, security, disposition, flags, templateFile);
}

HANDLE WINAPI RoutedCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile) {
    return OpenOnModel(name != nullptr ? name : "", false, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI RoutedDeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD returned, LPOVERLAPPED overlapped) {
    IoctlRecord record;
    record.device = device;
    record.code = code;
    record.inSize = inSize;
    if (in != nullptr) record.in.assign(static_cast<const std::uint8_t*>(in), static_cast<const std::uint8_t*>(in) + inSize);
    record.outSize = outSize;
    record.outZeroed = out != nullptr;
    for (DWORD i = 0; out != nullptr && i < outSize; ++i) {
        if (static_cast<const std::uint8_t*>(out)[i] != 0) record.outZeroed = false;
    }
    record.returnedCount = returned != nullptr;
    if (returned != nullptr) record.returnedAtEntry = *returned;
    record.overlapped = overlapped != nullptr;
    if (record.in.size() >= 20) record.blockOnStack = OnThisThreadsStack(Read32(&record.in[16]));
    hwtk3::platform::DWORD error = 0;
    hwtk3::platform::DWORD count = returned != nullptr ? *returned : 0;
    const BOOL ok = sim::Current().devices.IoControl(device, code, in, inSize, out, outSize,
                                                     returned != nullptr ? &count : nullptr, error);
    if (returned != nullptr) *returned = count;
    record.ok = ok;
    record.endMs = NowMs();
    g_calls.ioctls.push_back(record);
    SetLastError(ok ? ERROR_SUCCESS : error);
    return ok;
}

BOOL WINAPI RoutedCloseHandle(HANDLE handle) {
    if (g_modelHandles.count(handle) == 0) {
        ++g_foreignCloses;
        return CloseHandle(handle);
    }
    CloseRecord record;
    record.handle = handle;
    record.atMs = NowMs();
    record.ok = sim::Current().devices.Close(handle);
    g_calls.closes.push_back(record);
    SetLastError(record.ok ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
    return record.ok;
}

// ---------------------------------------------------------------------------
// The Setup API over the notebook's battery devices, and the local memory
// its detail records come in.

// {72631E54-78A4-11D0-BCF7-00AA00B7B32A}, spelled out here on purpose.
const GUID kBatteryClass = {0x72631E54, 0x78A4, 0x11D0, {0xBC, 0xF7, 0x00, 0xAA, 0x00, 0xB7, 0xB3, 0x2A}};
constexpr DWORD kInterfaceDataSize32 = 28;  // SP_DEVICE_INTERFACE_DATA in a 32-bit process
constexpr DWORD kDetailDataSize32 = 5;      // SP_DEVICE_INTERFACE_DETAIL_DATA_A, packed to 1 byte
constexpr DWORD kDevicePathOffset = 4;

struct SetupApi {
    // Faults.
    bool classDevsFails = false;
    std::map<DWORD, DWORD> enumErrors;  // interface index -> error of its enumeration
    std::set<DWORD> detailFails;        // indices whose detail query with a buffer fails

    // What the DLL did.
    std::vector<std::string> interfaces;  // as enumerated, taken when the set is made
    int classDevsCalls = 0;
    std::string classDevsProblems;
    std::set<HDEVINFO> liveSets;
    int destroyed = 0;
    int badSetUses = 0;
    std::vector<DWORD> enumIndices;
    std::vector<DWORD> interfaceDataSizes;
    std::vector<DWORD> detailDataSizes;
    std::string detailProblems;
    std::map<HLOCAL, SIZE_T> liveBlocks;
    std::vector<UINT> allocFlags;
    int frees = 0;
    int badFrees = 0;
    std::uintptr_t nextSet = 0x5E700000;
} g_setup;

HDEVINFO WINAPI RoutedSetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
    SetupApi& m = g_setup;
    ++m.classDevsCalls;
    if (classGuid == nullptr || !IsEqualGUID(*classGuid, kBatteryClass)) m.classDevsProblems += " class GUID;";
    if (enumerator != nullptr) m.classDevsProblems += " enumerator;";
    if (parent != nullptr) m.classDevsProblems += " window;";
    if (flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) m.classDevsProblems += " flags " + Hex32(flags) + ";";
    if (m.classDevsFails) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    m.interfaces = sim::Current().devices.BatteryInterfaces();
    const auto set = reinterpret_cast<HDEVINFO>(m.nextSet += 0x10);
    m.liveSets.insert(set);
    SetLastError(ERROR_SUCCESS);
    return set;
}

BOOL WINAPI RoutedSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* interfaceClass,
                                              DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    SetupApi& m = g_setup;
    m.enumIndices.push_back(index);
    if (m.liveSets.count(set) == 0) {
        ++m.badSetUses;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (deviceInfo != nullptr || interfaceClass == nullptr || !IsEqualGUID(*interfaceClass, kBatteryClass) ||
        data == nullptr) {
        m.detailProblems += " enumeration arguments;";
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    m.interfaceDataSizes.push_back(data->cbSize);
    if (data->cbSize != kInterfaceDataSize32) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (index >= m.interfaces.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const auto fault = m.enumErrors.find(index);
    if (fault != m.enumErrors.end()) {
        SetLastError(fault->second);
        return FALSE;
    }
    data->InterfaceClassGuid = kBatteryClass;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI RoutedSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                   PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                                   PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo) {
    SetupApi& m = g_setup;
    if (m.liveSets.count(set) == 0) {
        ++m.badSetUses;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (data == nullptr || data->Reserved == 0 || data->Reserved > m.interfaces.size() || deviceInfo != nullptr) {
        m.detailProblems += " detail arguments;";
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD index = static_cast<DWORD>(data->Reserved - 1);
    const std::string& path = m.interfaces[index];
    const DWORD needed = static_cast<DWORD>(kDevicePathOffset + path.size() + 1);
    if (requiredSize != nullptr) *requiredSize = needed;
    if (detail == nullptr) {
        SetLastError(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    m.detailDataSizes.push_back(detail->cbSize);
    const auto block = m.liveBlocks.find(detail);
    if (block == m.liveBlocks.end()) {
        m.detailProblems += " detail buffer not from LocalAlloc;";
    } else if (block->second != needed || detailSize != needed) {
        m.detailProblems += " detail buffer " + std::to_string(block->second) + "/" + std::to_string(detailSize) +
                            " bytes for " + std::to_string(needed) + ";";
    }
    if (detail->cbSize != kDetailDataSize32) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (m.detailFails.count(index) != 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    std::memcpy(reinterpret_cast<char*>(detail) + kDevicePathOffset, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI RoutedSetupDiDestroyDeviceInfoList(HDEVINFO set) {
    SetupApi& m = g_setup;
    if (m.liveSets.erase(set) == 0) {
        ++m.badSetUses;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ++m.destroyed;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

HLOCAL WINAPI RoutedLocalAlloc(UINT flags, SIZE_T bytes) {
    const HLOCAL block = LocalAlloc(flags, bytes);
    const DWORD error = GetLastError();
    g_setup.allocFlags.push_back(flags);
    if (block != nullptr) g_setup.liveBlocks[block] = bytes;
    SetLastError(error);
    return block;
}

HLOCAL WINAPI RoutedLocalFree(HLOCAL block) {
    if (g_setup.liveBlocks.erase(block) == 0) {
        ++g_setup.badFrees;
        SetLastError(ERROR_INVALID_HANDLE);
        return block;
    }
    ++g_setup.frees;
    return LocalFree(block);
}

// ---------------------------------------------------------------------------
// ACPI control exports on the model driver.

constexpr DWORD kIoctlEvalMethod = 0x222404;
constexpr std::uint32_t kPBLG = sim::AcpiName("PBLG"), kPBLS = sim::AcpiName("PBLS");
constexpr std::uint32_t kCFVG = sim::AcpiName("CFVG"), kCFVS = sim::AcpiName("CFVS");
constexpr std::uint32_t kWLDG = sim::AcpiName("WLDG"), kWLDS = sim::AcpiName("WLDS");
constexpr std::uint32_t kBTHG = sim::AcpiName("BTHG"), kBTHS = sim::AcpiName("BTHS");
constexpr std::uint32_t kCAMG = sim::AcpiName("CAMG"), kCAMS = sim::AcpiName("CAMS");
constexpr std::uint32_t kCMSG = sim::AcpiName("CMSG");
static_assert(kPBLG == 0x474C4250u && kCMSG == 0x47534D43u, "method names");

sim::Notebook& FreshNotebook() {
    const sim::Notebook& old = sim::Current();
    g_strayUses += old.devices.strayHandleUses + old.batteries.badHandleUses;
    sim::Notebook& notebook = sim::ResetCurrent();
    notebook.clock.UseRealTime(true);
    return notebook;
}

// The caller's variables every export may write, preset to values no
// export writes.
struct Outputs {
    unsigned char brightness = 0xEE, high = 0xEE, low = 0xEE;
    tDiagWifiBTPowerState power{0x80, 0x55, 0x7F};
    bool wlan = false, bluetooth = true, camera = false;
    bool Untouched() const {
        return brightness == 0xEE && high == 0xEE && low == 0xEE && power.bWifi == 0x80 && power.bBT == 0x55 &&
               power.bCam == 0x7F && !wlan && bluetooth && !camera;
    }
};

struct ExportUse {
    const char* name;
    std::uint32_t method;
    bool hasArgument;
    std::uint32_t argument;  // what must arrive for the call below, with the Outputs above
    int pauseMs;
    bool (*run)(Outputs&);
};

const ExportUse kExports[] = {
    {"Diag_GetPanelBrightness", kPBLG, false, 0, 50, [](Outputs& o) { return Diag_GetPanelBrightness(&o.brightness); }},
    {"Diag_SetPanelBrightness", kPBLS, true, 70, 50, [](Outputs&) { return Diag_SetPanelBrightness(70); }},
    {"Diag_GetCPUMode", kCFVG, false, 0, 50, [](Outputs& o) { return Diag_GetCPUMode(&o.high, &o.low); }},
    {"Diag_SetCPUMode", kCFVS, true, 2, 50, [](Outputs&) { return Diag_SetCPUMode(2); }},
    {"Diag_SetWifiState", kWLDS, true, 1, 50, [](Outputs& o) { return Diag_SetWifiState(&o.power); }},
    {"Diag_GetWifiState", kWLDG, false, 0, 100, [](Outputs& o) { return Diag_GetWifiState(&o.power); }},
    {"Diag_SetBTState", kBTHS, true, 1, 50, [](Outputs& o) { return Diag_SetBTState(&o.power); }},
    {"Diag_GetBTState", kBTHG, false, 0, 100, [](Outputs& o) { return Diag_GetBTState(&o.power); }},
    {"Diag_SetCamState", kCAMS, true, 1, 50, [](Outputs& o) { return Diag_SetCamState(&o.power); }},
    {"Diag_GetCamState", kCAMG, false, 0, 100, [](Outputs& o) { return Diag_GetCamState(&o.power); }},
    {"Diag_GetACPISupportMethods", kCMSG, false, 0, 0,
     [](Outputs& o) { return Diag_GetACPISupportMethods(&o.wlan, &o.bluetooth, &o.camera); }},
};

// Pause between the end of the I/O control and the close, per export.
std::map<std::string, std::vector<double>> g_pauses;

struct ExportRun {
    bool result = false;
    std::string printed;
    double ms = 0;
};

template <typename Call>
ExportRun RunExport(Call call) {
    g_calls.Clear();
    sim::Current().acpi.driver.calls.clear();
    ExportRun run;
    wine_check::StdoutCapture out;
    const double start = NowMs();
    run.result = call();
    run.ms = NowMs() - start;
    run.printed = out.Text();
    return run;
}

void AddProblem(std::string& problems, const std::string& problem) {
    if (!problems.empty()) problems += "; ";
    problems += problem;
}

// One export's traffic against one well-formed method call: one open of
// "\\.\ZORDACPI", one 20-byte request for `method` on that handle with its
// argument block, one close of that handle, never two handles at once.
// `evaluated`: the driver got as far as reading the argument block.
std::string ChannelProblems(const char* exportName, std::uint32_t method, bool hasArgument, std::uint32_t argument,
                            bool evaluated) {
    std::string p;
    const sim::AcpiDriver& driver = sim::Current().acpi.driver;
    HANDLE handle = nullptr;
    if (g_calls.opens.size() != 1) {
        AddProblem(p, std::to_string(g_calls.opens.size()) + " opens");
    } else {
        const OpenRecord& o = g_calls.opens[0];
        handle = o.handle;
        if (!o.wide || o.path != "\\\\.\\ZORDACPI") AddProblem(p, "opened [" + o.path + "]");
        if (o.access != (GENERIC_READ | GENERIC_WRITE)) AddProblem(p, "access " + Hex32(o.access));
        if (o.share != (FILE_SHARE_READ | FILE_SHARE_WRITE)) AddProblem(p, "share " + Hex32(o.share));
        if (o.disposition != OPEN_EXISTING) AddProblem(p, "disposition " + Hex32(o.disposition));
        if (o.flags != 0) AddProblem(p, "flags " + Hex32(o.flags));
        if (o.security || o.templateFile) AddProblem(p, "security attributes or template given");
    }
    if (g_calls.ioctls.size() != 1) {
        AddProblem(p, std::to_string(g_calls.ioctls.size()) + " I/O controls");
    } else {
        const IoctlRecord& r = g_calls.ioctls[0];
        if (r.device != handle) AddProblem(p, "I/O control on another handle");
        if (r.code != kIoctlEvalMethod) AddProblem(p, "code " + Hex32(r.code));
        if (r.inSize != 20) AddProblem(p, "request of " + std::to_string(r.inSize) + " bytes");
        if (r.outSize != 768) AddProblem(p, "reply buffer of " + std::to_string(r.outSize) + " bytes");
        if (!r.outZeroed) AddProblem(p, "reply buffer not zero-filled");
        if (!r.returnedCount || r.returnedAtEntry != 0) AddProblem(p, "bytes-returned variable missing or not 0");
        if (r.overlapped) AddProblem(p, "overlapped structure given");
        const Bytes head = Le32s({hasArgument ? 2u : 1u, method, hasArgument ? 1u : 0u, 8u});
        if (r.in.size() < 16 || !std::equal(head.begin(), head.end(), r.in.begin())) {
            AddProblem(p, "request [" + Hex(r.in) + "], first 16 bytes should be [" + Hex(head) + "]");
        }
        if (!r.blockOnStack) AddProblem(p, "argument block address outside the caller's stack");
    }
    if (evaluated) {
        Bytes block = {0, 0, 4, 0};
        Put32(block, hasArgument ? argument : 0);
        if (driver.calls.size() != 1 || !driver.calls[0].accepted) {
            AddProblem(p, "driver did not accept the request");
        } else if (driver.calls[0].argument != block) {
            AddProblem(p, "argument block [" + Hex(driver.calls[0].argument) + "], should be [" + Hex(block) + "]");
        }
    }
    if (g_calls.closes.size() != 1 || g_calls.closes[0].handle != handle || !g_calls.closes[0].ok) {
        AddProblem(p, std::to_string(g_calls.closes.size()) + " closes, or not of the opened handle");
    }
    if (driver.OpenHandles() != 0 || driver.maxOpenHandles > 1) {
        AddProblem(p, std::to_string(driver.maxOpenHandles) + " handles open at once, " +
                          std::to_string(driver.OpenHandles()) + " left open");
    }
    if (p.empty() && !g_calls.ioctls.empty()) {
        g_pauses[exportName].push_back(g_calls.closes[0].atMs - g_calls.ioctls[0].endMs);
    }
    return p;
}

// Checks one export call made through RunExport.
void CheckControl(const std::string& what, const ExportRun& run, bool expected, bool outputsRight,
                  const char* exportName, std::uint32_t method, bool hasArgument, std::uint32_t argument,
                  bool evaluated = true, const std::string& printed = "") {
    std::string problems = ChannelProblems(exportName, method, hasArgument, argument, evaluated);
    if (run.result != expected) AddProblem(problems, std::string("returned ") + (run.result ? "true" : "false"));
    if (!outputsRight) AddProblem(problems, "outputs wrong");
    if (run.printed != printed) AddProblem(problems, "printed [" + run.printed + "]");
    Check(problems.empty(), what.c_str(), problems);
}

void TestEveryControl() {
    // Each export once on the default firmware: its method, its argument,
    // one handle, its result.
    sim::Notebook& notebook = FreshNotebook();
    for (const ExportUse& e : kExports) {
        Outputs o;
        const ExportRun run = RunExport([&] { return e.run(o); });
        const bool printsSupport = e.method == kCMSG;
        CheckControl(std::string(e.name) + ": " + (e.hasArgument ? "argument " + Hex32(e.argument) : "no argument") +
                         " on the firmware's answer",
                     run, true, true, e.name, e.method, e.hasArgument, e.argument, true,
                     printsSupport ? "acpi wlan supported\nacpi bluetooth supported\nacpi camera supported\n" : "");
    }
    Check(notebook.acpi.firmware.brightness == 70 && notebook.acpi.firmware.cpuMode == 2,
          "the firmware took the brightness and CPU mode sent");
}

void TestBrightnessAndCpuMode() {
    sim::Notebook& notebook = FreshNotebook();
    sim::AcpiFirmware& firmware = notebook.acpi.firmware;

    ExportRun run = RunExport([] { return Diag_SetPanelBrightness(40); });
    CheckControl("Diag_SetPanelBrightness(40) accepted", run, true, firmware.brightness == 40,
                 "Diag_SetPanelBrightness", kPBLS, true, 40);
    Outputs o;
    run = RunExport([&] { return Diag_GetPanelBrightness(&o.brightness); });
    CheckControl("Diag_GetPanelBrightness reads 40 back", run, true, o.brightness == 40, "Diag_GetPanelBrightness",
                 kPBLG, false, 0);
    run = RunExport([] { return Diag_SetPanelBrightness(255); });
    CheckControl("Diag_SetPanelBrightness(255) sends 0x000000FF; firmware refuses: false", run, false,
                 firmware.brightness == 40, "Diag_SetPanelBrightness", kPBLS, true, 0xFF);
    firmware.forcedResults[kPBLG] = 0xABCD0142;
    o = Outputs{};
    run = RunExport([&] { return Diag_GetPanelBrightness(&o.brightness); });
    CheckControl("Diag_GetPanelBrightness keeps the low 8 bits of 0xABCD0142", run, true, o.brightness == 0x42,
                 "Diag_GetPanelBrightness", kPBLG, false, 0);

    run = RunExport([] { return Diag_SetCPUMode(0xFFFFFFFFul); });
    CheckControl("Diag_SetCPUMode(0xFFFFFFFF) sends all 32 bits; firmware refuses: false", run, false,
                 firmware.cpuMode == 1, "Diag_SetCPUMode", kCFVS, true, 0xFFFFFFFF);
    run = RunExport([] { return Diag_SetCPUMode(0); });
    CheckControl("Diag_SetCPUMode(0) accepted", run, true, firmware.cpuMode == 0, "Diag_SetCPUMode", kCFVS, true, 0);
    o = Outputs{};
    run = RunExport([&] { return Diag_GetCPUMode(&o.high, &o.low); });
    CheckControl("Diag_GetCPUMode after mode 0: bits 8-15 = 0, bits 0-7 = 3", run, true, o.high == 0 && o.low == 3,
                 "Diag_GetCPUMode", kCFVG, false, 0);
    firmware.forcedResults[kCFVG] = 0xABCD1234;
    o = Outputs{};
    run = RunExport([&] { return Diag_GetCPUMode(&o.high, &o.low); });
    CheckControl("Diag_GetCPUMode of 0xABCD1234: 0x12 and 0x34", run, true, o.high == 0x12 && o.low == 0x34,
                 "Diag_GetCPUMode", kCFVG, false, 0);
    firmware.forcedResults[kCFVG] = 0;
    o = Outputs{};
    run = RunExport([&] { return Diag_GetCPUMode(&o.high, &o.low); });
    CheckControl("Diag_GetCPUMode of 0: false, nothing written, still paused and closed", run, false, o.Untouched(),
                 "Diag_GetCPUMode", kCFVG, false, 0);
}

void TestRadios() {
    struct Radio {
        const char* name;
        std::uint32_t set, get;
        unsigned char tDiagWifiBTPowerState::*field;
        bool sim::AcpiFirmware::*power;
        bool (*setExport)(tDiagWifiBTPowerState*);
        bool (*getExport)(tDiagWifiBTPowerState*);
        const char* setName;
        const char* getName;
    };
    const Radio radios[] = {
        {"wireless LAN", kWLDS, kWLDG, &tDiagWifiBTPowerState::bWifi, &sim::AcpiFirmware::wlanPower,
         Diag_SetWifiState, Diag_GetWifiState, "Diag_SetWifiState", "Diag_GetWifiState"},
        {"Bluetooth", kBTHS, kBTHG, &tDiagWifiBTPowerState::bBT, &sim::AcpiFirmware::bluetoothPower, Diag_SetBTState,
         Diag_GetBTState, "Diag_SetBTState", "Diag_GetBTState"},
        {"camera", kCAMS, kCAMG, &tDiagWifiBTPowerState::bCam, &sim::AcpiFirmware::cameraPower, Diag_SetCamState,
         Diag_GetCamState, "Diag_SetCamState", "Diag_GetCamState"},
    };
    for (const Radio& r : radios) {
        sim::Notebook& notebook = FreshNotebook();
        sim::AcpiFirmware& firmware = notebook.acpi.firmware;
        const std::string name = r.name;

        // Only the export's own field is read: the others say the opposite.
        tDiagWifiBTPowerState state{0xFF, 0xFF, 0xFF};
        state.*r.field = 0;
        ExportRun run = RunExport([&] { return r.setExport(&state); });
        CheckControl(name + " off: own field 0 sends 0", run, true, !(firmware.*r.power), r.setName, r.set, true, 0);
        state = tDiagWifiBTPowerState{0, 0, 0};
        state.*r.field = 0x80;
        run = RunExport([&] { return r.setExport(&state); });
        CheckControl(name + " on: own field 0x80 sends 1", run, true, firmware.*r.power, r.setName, r.set, true, 1);

        // Each query writes 1 or 0 into its own field and nothing else.
        firmware.*r.power = false;
        const auto othersKept = [&](const tDiagWifiBTPowerState& s) {
            return (r.field == &tDiagWifiBTPowerState::bWifi || s.bWifi == 0xEE) &&
                   (r.field == &tDiagWifiBTPowerState::bBT || s.bBT == 0xEE) &&
                   (r.field == &tDiagWifiBTPowerState::bCam || s.bCam == 0xEE);
        };
        const std::uint32_t answers[] = {0, 1, 2};
        for (std::uint32_t answer : answers) {
            firmware.forcedResults[r.get] = answer;
            state = tDiagWifiBTPowerState{0xEE, 0xEE, 0xEE};
            run = RunExport([&] { return r.getExport(&state); });
            const unsigned char want = answer == 1 ? 1 : 0;
            CheckControl(name + " query answer " + std::to_string(answer) + " reads " + std::to_string(want), run,
                         true, state.*r.field == want && othersKept(state), r.getName, r.get, false, 0);
        }
    }
}

void TestSupportMethods() {
    sim::Notebook& notebook = FreshNotebook();
    notebook.acpi.firmware.forcedResults[kCMSG] = 0x13;
    bool wlan = false, bluetooth = false, camera = false;
    ExportRun run = RunExport([&] { return Diag_GetACPISupportMethods(&wlan, &bluetooth, &camera); });
    CheckControl("support methods 0x13: three lines in order, all three set", run, true, wlan && bluetooth && camera,
                 "Diag_GetACPISupportMethods", kCMSG, false, 0, true,
                 "acpi wlan supported\nacpi bluetooth supported\nacpi camera supported\n");
    notebook.acpi.firmware.forcedResults[kCMSG] = 0x0C;
    wlan = true;
    bluetooth = false;
    camera = true;
    run = RunExport([&] { return Diag_GetACPISupportMethods(&wlan, &bluetooth, &camera); });
    CheckControl("support methods 0x0C: nothing printed, the caller's values kept", run, true,
                 wlan && !bluetooth && camera, "Diag_GetACPISupportMethods", kCMSG, false, 0);
    notebook.acpi.firmware.forcedResults[kCMSG] = 0x02;
    wlan = false;
    bluetooth = false;
    camera = false;
    run = RunExport([&] { return Diag_GetACPISupportMethods(&wlan, &bluetooth, &camera); });
    CheckControl("support methods 0x02: Bluetooth only", run, true, !wlan && bluetooth && !camera,
                 "Diag_GetACPISupportMethods", kCMSG, false, 0, true, "acpi bluetooth supported\n");
}

void TestFailingIoControl() {
    // Every export: false, nothing written, but the request went out and
    // the pause and the close still happen.
    sim::Notebook& notebook = FreshNotebook();
    notebook.acpi.driver.faults.ioControlFails = true;
    for (const ExportUse& e : kExports) {
        Outputs o;
        const ExportRun run = RunExport([&] { return e.run(o); });
        CheckControl(std::string("failing I/O control: ") + e.name + " false, outputs kept, paused, closed", run,
                     false, o.Untouched(), e.name, e.method, e.hasArgument, e.argument, false);
    }
}

void TestReplyLength() {
    sim::Notebook& notebook = FreshNotebook();
    sim::AcpiDriverFaults& faults = notebook.acpi.driver.faults;
    faults.forceReply = true;

    // DataLength 101: the reply is refused; a Get must not report the 0 it
    // leaves behind.
    faults.replyDataLength = 101;
    faults.replyData = Bytes(101, 0x01);
    Outputs o;
    ExportRun run = RunExport([&] { return Diag_GetPanelBrightness(&o.brightness); });
    CheckControl("DataLength 101: Diag_GetPanelBrightness false, nothing written", run, false, o.Untouched(),
                 "Diag_GetPanelBrightness", kPBLG, false, 0);
    run = RunExport([&] { return Diag_GetBTState(&o.power); });
    CheckControl("DataLength 101: Diag_GetBTState false, nothing written", run, false, o.Untouched(),
                 "Diag_GetBTState", kBTHG, false, 0);
    run = RunExport([] { return Diag_SetPanelBrightness(10); });
    CheckControl("DataLength 101: Diag_SetPanelBrightness false", run, false, true, "Diag_SetPanelBrightness", kPBLS,
                 true, 10);
    run = RunExport([&] { return Diag_GetACPISupportMethods(&o.wlan, &o.bluetooth, &o.camera); });
    CheckControl("DataLength 101: Diag_GetACPISupportMethods false, nothing printed or set", run, false,
                 o.Untouched(), "Diag_GetACPISupportMethods", kCMSG, false, 0);

    // DataLength 100 is still a reply; the result is its first 4 bytes.
    faults.replyDataLength = 100;
    faults.replyData = Bytes(100, 0x77);
    faults.replyData[0] = 0x2A;
    faults.replyData[1] = faults.replyData[2] = faults.replyData[3] = 0;
    o = Outputs{};
    run = RunExport([&] { return Diag_GetPanelBrightness(&o.brightness); });
    CheckControl("DataLength 100: brightness 0x2A from the first 4 bytes", run, true, o.brightness == 0x2A,
                 "Diag_GetPanelBrightness", kPBLG, false, 0);

    // A short DataLength still yields all 4 bytes at reply offset 16.
    faults.replyDataLength = 1;
    faults.replyData = {0x34, 0x12, 0xCD, 0xAB};
    o = Outputs{};
    run = RunExport([&] { return Diag_GetCPUMode(&o.high, &o.low); });
    CheckControl("DataLength 1: the full 32-bit value 0xABCD1234 is read", run, true, o.high == 0x12 && o.low == 0x34,
                 "Diag_GetCPUMode", kCFVG, false, 0);

    // A driver that succeeds and writes nothing: result 0.
    faults.forceReply = false;
    faults.silent = true;
    o = Outputs{};
    run = RunExport([&] { return Diag_GetPanelBrightness(&o.brightness); });
    CheckControl("empty reply: brightness 0, true", run, true, o.brightness == 0, "Diag_GetPanelBrightness", kPBLG,
                 false, 0);
    o = Outputs{};
    run = RunExport([&] { return Diag_GetCPUMode(&o.high, &o.low); });
    CheckControl("empty reply: Diag_GetCPUMode false, nothing written", run, false, o.Untouched(), "Diag_GetCPUMode",
                 kCFVG, false, 0);
}

void TestDeviceAbsent() {
    sim::Notebook& notebook = FreshNotebook();
    notebook.acpi.driver.faults.absent = true;
    for (const ExportUse& e : kExports) {
        Outputs o;
        const ExportRun run = RunExport([&] { return e.run(o); });
        std::string problems;
        if (run.result) AddProblem(problems, "returned true");
        if (!o.Untouched()) AddProblem(problems, "outputs written");
        if (g_calls.opens.size() != 1) AddProblem(problems, std::to_string(g_calls.opens.size()) + " open attempts");
        if (!g_calls.ioctls.empty() || !g_calls.closes.empty()) AddProblem(problems, "I/O control or close issued");
        if (run.ms >= 45.0) AddProblem(problems, "took " + std::to_string(run.ms) + " ms");
        if (!run.printed.empty()) AddProblem(problems, "printed [" + run.printed + "]");
        Check(problems.empty(), (std::string("no device: ") + e.name + " false at once, nothing written").c_str(),
              problems);
    }
}

// The pause between the method call and the close, on real time: loose
// bounds, as other programs share the machine. Every sample must be at
// least the pause; the shortest must show it is the right one.
void CheckPauses() {
    for (const ExportUse& e : kExports) {
        const std::vector<double>& samples = g_pauses[e.name];
        if (samples.empty()) {
            Check(false, (std::string(e.name) + ": pause measured").c_str());
            continue;
        }
        const double shortest = *std::min_element(samples.begin(), samples.end());
        bool ok = false;
        if (e.pauseMs == 0) ok = shortest < 40.0;
        if (e.pauseMs == 50) ok = shortest >= 45.0 && shortest < 95.0;
        if (e.pauseMs == 100) ok = shortest >= 95.0 && shortest < 400.0;
        char what[128];
        std::snprintf(what, sizeof what, "%s pauses %d ms before closing", e.name, e.pauseMs);
        char detail[96];
        std::snprintf(detail, sizeof detail, "shortest of %u: %.1f ms", static_cast<unsigned>(samples.size()),
                      shortest);
        Check(ok, what, detail);
    }
}

// ---------------------------------------------------------------------------
// Battery status on the model battery devices and the Setup API above.

tBattery Sentinel() {
    tBattery b;
    b.reserved = 0x1234ABCD;
    b.state = "untouched";
    b.designCapacity = -1;
    b.fullChargeCapacity = -2;
    b.remainingCapacity = -3;
    b.remainingPercentage = -4;
    b.voltage = -5.0;
    return b;
}

bool Untouched(const tBattery& b) {
    return b.reserved == 0x1234ABCD && b.state == "untouched" && b.designCapacity == -1 &&
           b.fullChargeCapacity == -2 && b.remainingCapacity == -3 && b.remainingPercentage == -4 &&
           b.voltage == -5.0;
}

std::string Describe(const tBattery& b) {
    char text[160];
    std::snprintf(text, sizeof text, "reserved %x, \"%s\", %d/%d/%d mAh, %d %%, %.4f V", b.reserved, b.state.c_str(),
                  b.designCapacity, b.fullChargeCapacity, b.remainingCapacity, b.remainingPercentage, b.voltage);
    return text;
}

sim::Notebook& FreshBatteries(std::vector<sim::BatteryDevice> devices) {
    sim::Notebook& notebook = FreshNotebook();
    notebook.batteries.devices = std::move(devices);
    g_setup = SetupApi{};
    return notebook;
}

struct BatteryRun {
    bool result = false;
    tBattery record;
    std::string printed;
};

BatteryRun RunBatteryState() {
    g_calls.Clear();
    BatteryRun run;
    run.record = Sentinel();
    wine_check::StdoutCapture out;
    run.result = Diag_BatteryState(&run.record);
    run.printed = out.Text();
    return run;
}

// Everything taken for the enumeration was given back: the device
// information set, every detail buffer, every battery handle.
std::string ReleaseProblems(const sim::Notebook& notebook) {
    std::string p;
    const SetupApi& m = g_setup;
    if (m.classDevsCalls != 1) AddProblem(p, std::to_string(m.classDevsCalls) + " device information sets asked for");
    if (!m.liveSets.empty() || m.badSetUses != 0) AddProblem(p, "device information set not destroyed, or misused");
    if (!m.liveBlocks.empty() || m.badFrees != 0) {
        AddProblem(p, std::to_string(m.liveBlocks.size()) + " LocalAlloc blocks kept, " + std::to_string(m.badFrees) +
                          " bad frees");
    }
    if (notebook.batteries.OpenHandles() != 0 || notebook.batteries.badHandleUses != 0 ||
        notebook.batteries.opens != notebook.batteries.closes) {
        AddProblem(p, std::to_string(notebook.batteries.opens) + " battery opens, " +
                          std::to_string(notebook.batteries.closes) + " closes, " +
                          std::to_string(notebook.batteries.badHandleUses) + " bad handle uses");
    }
    for (UINT flags : m.allocFlags) {
        if (flags != LPTR) AddProblem(p, "LocalAlloc flags " + Hex32(flags));
    }
    if (!m.classDevsProblems.empty()) AddProblem(p, "SetupDiGetClassDevsA:" + m.classDevsProblems);
    if (!m.detailProblems.empty()) AddProblem(p, "details:" + m.detailProblems);
    for (DWORD size : m.interfaceDataSizes) {
        if (size != kInterfaceDataSize32) AddProblem(p, "SP_DEVICE_INTERFACE_DATA.cbSize " + std::to_string(size));
    }
    for (DWORD size : m.detailDataSizes) {
        if (size != kDetailDataSize32) AddProblem(p, "SP_DEVICE_INTERFACE_DETAIL_DATA_A.cbSize " + std::to_string(size));
    }
    return p;
}

void TestBatteryExample() {
    sim::BatteryDevice battery = sim::SystemBattery(1);
    battery.tag = 0x5A17;
    sim::Notebook& notebook = FreshBatteries({battery});
    const BatteryRun run = RunBatteryState();
    Check(run.result && run.record.reserved == 0x1234ABCD && run.record.state == "discharging" &&
              run.record.designCapacity == 4400 && run.record.fullChargeCapacity == 4000 &&
              run.record.remainingCapacity == 2000 && run.record.remainingPercentage == 50 &&
              run.record.voltage == 11100 / 1000.0,
          "11100 mV, 48840/44400/22200 mWh: 11.1 V, 4400/4000/2000 mAh, 50 %, discharging",
          Describe(run.record));
    CheckEqual(run.printed, "", "battery status prints nothing");

    // The Setup API saw the 32-bit record sizes and the enumeration ended
    // at the first index past the last interface.
    const SetupApi& m = g_setup;
    Check(m.interfaceDataSizes == std::vector<DWORD>{28, 28} && m.detailDataSizes == std::vector<DWORD>{5},
          "SP_DEVICE_INTERFACE_DATA.cbSize 28, SP_DEVICE_INTERFACE_DETAIL_DATA_A.cbSize 5");
    Check(m.enumIndices == std::vector<DWORD>{0, 1}, "enumeration stops at ERROR_NO_MORE_ITEMS");

    std::string p;
    if (g_calls.opens.size() != 1) {
        AddProblem(p, std::to_string(g_calls.opens.size()) + " opens");
    } else {
        const OpenRecord& o = g_calls.opens[0];
        if (o.wide || o.path != battery.path) AddProblem(p, "opened [" + o.path + "]");
        if (o.access != (GENERIC_READ | GENERIC_WRITE) || o.share != (FILE_SHARE_READ | FILE_SHARE_WRITE) ||
            o.disposition != OPEN_EXISTING || o.flags != FILE_ATTRIBUTE_NORMAL || o.security || o.templateFile) {
            AddProblem(p, "CreateFileA arguments " + Hex32(o.access) + " " + Hex32(o.share) + " " +
                              Hex32(o.disposition) + " " + Hex32(o.flags));
        }
    }
    Check(p.empty(), "CreateFileA on the interface path, read/write, shared, existing, normal attributes", p);

    // The three battery I/O controls with their input records.
    struct Query {
        DWORD code;
        Bytes in;
        DWORD outSize;
    };
    const Query expected[] = {
        {0x294040, Le32s({0}), 4},                      // tag, waiting 0 ms
        {0x294044, Le32s({0x5A17, 0, 0}), 36},          // tag, BatteryInformation, rate 0
        {0x29404C, Le32s({0x5A17, 0, 0, 0, 0}), 16},    // tag, no wait, no condition
    };
    p.clear();
    if (g_calls.ioctls.size() != 3) AddProblem(p, std::to_string(g_calls.ioctls.size()) + " I/O controls");
    for (std::size_t i = 0; i < g_calls.ioctls.size() && i < 3; ++i) {
        const IoctlRecord& r = g_calls.ioctls[i];
        if (r.code != expected[i].code || r.in != expected[i].in || r.inSize != expected[i].in.size() ||
            r.outSize != expected[i].outSize || r.overlapped || !r.ok ||
            (g_calls.opens.size() == 1 && r.device != g_calls.opens[0].handle)) {
            AddProblem(p, "#" + std::to_string(i) + " code " + Hex32(r.code) + " in [" + Hex(r.in) + "] out " +
                              std::to_string(r.outSize));
        }
    }
    Check(p.empty(), "tag query (wait 0), information query (tag, level 0), status query (tag, no wait)", p);
    p = ReleaseProblems(notebook);
    Check(p.empty() && m.allocFlags.size() == 1 && m.frees == 1,
          "the set, the detail buffer (LPTR) and the battery handle are released", p);
}

void TestStatePrecedence() {
    constexpr std::uint32_t kOnLine = 0x1, kDischarging = 0x2, kCharging = 0x4, kCritical = 0x8;
    const struct {
        std::uint32_t bits;
        const char* state;
    } cases[] = {
        {kCharging | kCritical, "charging"},
        {kCharging | kDischarging | kOnLine, "charging"},
        {kDischarging | kOnLine | kCritical, "discharging"},
        {kOnLine, "charged"},
        {kOnLine | kCritical, "charged"},
        {kCritical, "critical"},
        {0, "unknown"},
    };
    for (const auto& c : cases) {
        sim::BatteryDevice battery = sim::SystemBattery(1);
        battery.status.PowerState = c.bits;
        sim::Notebook& notebook = FreshBatteries({battery});
        const BatteryRun run = RunBatteryState();
        const std::string problems = ReleaseProblems(notebook);
        CheckEqual(run.result ? run.record.state + (problems.empty() ? "" : " (" + problems + ")") : "false",
                   c.state, ("power state " + Hex32(c.bits) + " reads \"" + c.state + "\"").c_str());
    }
}

void TestUnknownCapacity() {
    sim::BatteryDevice battery = sim::SystemBattery(1);
    battery.status.Capacity = 0xFFFFFFFF;
    sim::Notebook& notebook = FreshBatteries({battery});
    const BatteryRun run = RunBatteryState();
    Check(run.result && run.record.remainingCapacity == 0 && run.record.remainingPercentage == 0 &&
              run.record.designCapacity == 4400 && run.record.fullChargeCapacity == 4000 &&
              run.record.voltage == 11.1 && run.record.state == "discharging" && ReleaseProblems(notebook).empty(),
          "unknown capacity: remaining 0 mAh and 0 %, the rest filled", Describe(run.record));
}

void TestNoBattery() {
    {
        sim::Notebook& notebook = FreshBatteries({});
        const BatteryRun run = RunBatteryState();
        const std::string p = ReleaseProblems(notebook);
        Check(!run.result && Untouched(run.record) && run.printed.empty() && p.empty(),
              "no battery device: false, record and its string untouched", Describe(run.record) + " " + p);
    }
    {
        sim::Notebook& notebook = FreshBatteries({sim::UpsBattery(1), sim::UpsBattery(2)});
        const BatteryRun run = RunBatteryState();
        const std::string p = ReleaseProblems(notebook);
        Check(!run.result && Untouched(run.record) && p.empty() && notebook.batteries.opens == 2,
              "only UPS batteries: false, record untouched, both queried and closed", Describe(run.record) + " " + p);
    }
    {
        FreshBatteries({sim::SystemBattery(1)});
        g_setup.classDevsFails = true;
        const BatteryRun run = RunBatteryState();
        Check(!run.result && Untouched(run.record) && g_setup.enumIndices.empty() && g_setup.destroyed == 0 &&
                  g_calls.opens.empty(),
              "no device information set: false, nothing enumerated or destroyed", Describe(run.record));
    }
}

// Devices that fail at every step before the notebook's battery: each is
// skipped, each gives back what it took, and the battery is reported.
void TestFaultyDevicesReleased() {
    std::vector<sim::BatteryDevice> devices;
    for (int i = 0; i < 8; ++i) {
        sim::BatteryDevice bogus = sim::SystemBattery(10 + i);
        bogus.status.Voltage = 9000;  // reported, it would give other numbers
        bogus.information.DesignedCapacity = 9000;
        devices.push_back(bogus);
    }
    devices[0].openFails = true;
    devices[1].tagQueryFails = true;
    // devices[2]: its enumeration fails (ERROR_INVALID_PARAMETER)
    // devices[3]: its detail query fails
    devices[4].tag = 0;
    devices[5].informationQueryFails = true;
    devices[6] = sim::UpsBattery(1);
    sim::BatteryDevice battery = sim::SystemBattery(2);
    battery.status.Voltage = 12000;
    battery.status.PowerState = 0x4;
    battery.status.Capacity = 36000;
    battery.information.DesignedCapacity = 60000;
    battery.information.FullChargedCapacity = 48000;
    devices[7] = battery;
    sim::Notebook& notebook = FreshBatteries(devices);
    g_setup.enumErrors[2] = ERROR_INVALID_PARAMETER;
    g_setup.detailFails.insert(3);
    const BatteryRun run = RunBatteryState();
    Check(run.result && run.record.state == "charging" && run.record.designCapacity == 5000 &&
              run.record.fullChargeCapacity == 4000 && run.record.remainingCapacity == 3000 &&
              run.record.remainingPercentage == 75 && run.record.voltage == 12.0,
          "failing devices skipped, the battery after them reported", Describe(run.record));
    const std::string p = ReleaseProblems(notebook);
    Check(p.empty() && g_setup.allocFlags.size() == 7 && g_setup.frees == 7 && notebook.batteries.opens == 5,
          "7 detail buffers freed, 5 opened devices closed, the set destroyed",
          p + " allocations " + std::to_string(g_setup.allocFlags.size()) + ", opens " +
              std::to_string(notebook.batteries.opens));
    Check(g_setup.enumIndices.size() == 9 && g_setup.enumIndices.back() == 8, "enumeration went on past the failures",
          std::to_string(g_setup.enumIndices.size()) + " indices");
}

bool RouteImports() {
    const HMODULE dll = GetModuleHandleA("hwtk3.dll");
    const struct {
        const char* name;
        int routed;
    } routes[] = {
        {"CreateFileW", WINE_ROUTE_IMPORT(dll, "KERNEL32.dll", CreateFileW, RoutedCreateFileW)},
        {"CreateFileA", WINE_ROUTE_IMPORT(dll, "KERNEL32.dll", CreateFileA, RoutedCreateFileA)},
        {"DeviceIoControl", WINE_ROUTE_IMPORT(dll, "KERNEL32.dll", DeviceIoControl, RoutedDeviceIoControl)},
        {"CloseHandle", WINE_ROUTE_IMPORT(dll, "KERNEL32.dll", CloseHandle, RoutedCloseHandle)},
        {"LocalAlloc", WINE_ROUTE_IMPORT(dll, "KERNEL32.dll", LocalAlloc, RoutedLocalAlloc)},
        {"LocalFree", WINE_ROUTE_IMPORT(dll, "KERNEL32.dll", LocalFree, RoutedLocalFree)},
        {"SetupDiGetClassDevsA",
         WINE_ROUTE_IMPORT(dll, "SETUPAPI.dll", SetupDiGetClassDevsA, RoutedSetupDiGetClassDevsA)},
        {"SetupDiEnumDeviceInterfaces",
         WINE_ROUTE_IMPORT(dll, "SETUPAPI.dll", SetupDiEnumDeviceInterfaces, RoutedSetupDiEnumDeviceInterfaces)},
        {"SetupDiGetDeviceInterfaceDetailA", WINE_ROUTE_IMPORT(dll, "SETUPAPI.dll", SetupDiGetDeviceInterfaceDetailA,
                                                               RoutedSetupDiGetDeviceInterfaceDetailA)},
        {"SetupDiDestroyDeviceInfoList",
         WINE_ROUTE_IMPORT(dll, "SETUPAPI.dll", SetupDiDestroyDeviceInfoList, RoutedSetupDiDestroyDeviceInfoList)},
    };
    std::string missing;
    for (const auto& r : routes) {
        if (r.routed != 1) missing += std::string(" ") + r.name + "(" + std::to_string(r.routed) + ")";
    }
    Check(dll != nullptr && missing.empty(), "hwtk3.dll imports routed to the virtual notebook", missing);
    return dll != nullptr && missing.empty();
}

}  // namespace

int main() {
    if (!RouteImports()) return wine_check::Finish();

    TestEveryControl();
    TestBrightnessAndCpuMode();
    TestRadios();
    TestSupportMethods();
    TestFailingIoControl();
    TestReplyLength();
    TestDeviceAbsent();
    CheckPauses();
    FreshNotebook();
    Check(g_strayUses == 0 && g_foreignCloses == 0, "no handle used after its close, none closed unknown to the models",
          std::to_string(g_strayUses) + " stray uses, " + std::to_string(g_foreignCloses) + " foreign closes");

    TestBatteryExample();
    TestStatePrecedence();
    TestUnknownCapacity();
    TestNoBattery();
    TestFaultyDevicesReleased();
    return wine_check::Finish();
}
