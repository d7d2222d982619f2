// Diag_InitHWIO / Diag_FreeHWIO: load, resolve and initialise the port-I/O
// library, and release it again.
#include "hwio/port_io.h"

#include <atomic>

#include "hwio/ec.h"
#include "include/hwtk3.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace hwtk3::hwio {
namespace {

constexpr const char kMsgAlreadyInitialized[] =
    "WinRing0 has been initialized. No need to initialize again\n";
constexpr const char kMsgPreparing[] = "preparing to initialize WinRing0\n";
constexpr const char kMsgInitFailed[] = "Failed to init WinRing0!\n";
constexpr const char kMsgInitialized[] = "WinRing0 was initialized\n";
constexpr const char kMsgStatusError[] = "Get WinRing0 dll status error!\n";
constexpr const char kMsgLoadFailed[] = "Failed to LoadLibrary, err code %d\n";
constexpr const char kMsgProcFailed[] = "Failed to GetProcAddress\n";
constexpr const char kMsgReleasing[] = "IO driver is going to release...\n";

// Guarded by BindingLock.
PortIoTable g_portIo;
bool g_hwioReady = false;

platform::CriticalSection& Lock() {
    static platform::CriticalSection lock;
    return lock;
}

// Which thread holds the binding lock (0: none), and how deep; both
// changed only by the holder, with the lock held. No thread-local storage:
// a host may load and unload us, and storage of ours left in its threads
// would outlive us.
std::atomic<platform::DWORD> g_bindingHolder{0};
int g_bindingDepth = 0;

template <typename Fn>
Fn Resolve(platform::HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(platform::GetProcAddress(module, name));
}

// Loads the library and resolves all six entry points before testing any;
// yields InitializeOls' result, or 0. On a failed lookup or initialisation
// the library stays loaded and its handle stays stored.
BOOL LoadStep() {
    g_portIo.module = platform::LoadLibraryFromInstallFolders(kPortIoLibrary);
    if (g_portIo.module == nullptr) {
        platform::Printf(kMsgLoadFailed, static_cast<int>(platform::GetLastError()));
        return 0;
    }
    g_portIo.GetDllStatus = Resolve<GetDllStatusFn>(g_portIo.module, "GetDllStatus");
    g_portIo.InitializeOls = Resolve<InitializeOlsFn>(g_portIo.module, "InitializeOls");
    g_portIo.DeinitializeOls = Resolve<DeinitializeOlsFn>(g_portIo.module, "DeinitializeOls");
    g_portIo.ReadIoPortByte = Resolve<ReadIoPortByteFn>(g_portIo.module, "ReadIoPortByte");
    g_portIo.WriteIoPortByte = Resolve<WriteIoPortByteFn>(g_portIo.module, "WriteIoPortByte");
    g_portIo.ReadPhysicalMemory =
        Resolve<ReadPhysicalMemoryFn>(g_portIo.module, "ReadPhysicalMemory");
    if (g_portIo.GetDllStatus == nullptr || g_portIo.InitializeOls == nullptr ||
        g_portIo.DeinitializeOls == nullptr || g_portIo.ReadIoPortByte == nullptr ||
        g_portIo.WriteIoPortByte == nullptr || g_portIo.ReadPhysicalMemory == nullptr) {
        platform::PutText(kMsgProcFailed);
        return 0;
    }
    return g_portIo.InitializeOls();
}

// The other members keep their (now stale) values until the next load step
// replaces them; nothing calls them while HwioReady is false. The shared EC
// mutex goes with the binding: no transaction runs without it.
void UnloadStep() {
    ec::CloseSharedMutex();
    if (g_portIo.module == nullptr) return;
    // Only a library that resolved all six entry points was ever
    // initialised; one left loaded without DeinitializeOls has nothing to
    // deinitialise.
    if (g_portIo.DeinitializeOls != nullptr) g_portIo.DeinitializeOls();
    platform::FreeLibrary(g_portIo.module);
    g_portIo.module = nullptr;
}

}  // namespace

BindingLock::BindingLock() {
    Lock().Enter();
    if (g_bindingDepth++ == 0) g_bindingHolder.store(platform::GetCurrentThreadId());
}
BindingLock::~BindingLock() {
    if (--g_bindingDepth == 0) g_bindingHolder.store(0);
    Lock().Leave();
}

bool BindingLockHeld() { return g_bindingHolder.load() == platform::GetCurrentThreadId(); }

bool HwioReady() {
    BindingLock lock;
    return g_hwioReady;
}

std::uint8_t ReadPort(std::uint16_t port) {
    BindingLock lock;
    return g_hwioReady ? g_portIo.ReadIoPortByte(port) : 0xFF;
}

void WritePort(std::uint16_t port, std::uint8_t value) {
    BindingLock lock;
    if (g_hwioReady) g_portIo.WriteIoPortByte(port, value);
}

std::uint32_t ReadPhysicalMemory(std::uint32_t address, std::uint8_t* buffer, std::uint32_t count) {
    BindingLock lock;
    return g_hwioReady ? g_portIo.ReadPhysicalMemory(address, buffer, count, 1) : 0;
}

namespace testing {

void ResetBinding() {
    BindingLock lock;
    UnloadStep();
    g_portIo = PortIoTable{};
    g_hwioReady = false;
}

}  // namespace testing
}  // namespace hwtk3::hwio

using namespace hwtk3::hwio;

int Diag_InitHWIO(void) {
    BindingLock lock;
    if (g_hwioReady) {
        hwtk3::platform::PutText(kMsgAlreadyInitialized);
        return 1;
    }
    hwtk3::platform::PutText(kMsgPreparing);
    if (LoadStep() == 0) {
        hwtk3::platform::PutText(kMsgInitFailed);
        return 0;
    }
    hwtk3::platform::PutText(kMsgInitialized);
    g_hwioReady = true;
    if (g_portIo.GetDllStatus() == 0) return 1;
    hwtk3::platform::PutText(kMsgStatusError);
    UnloadStep();
    g_hwioReady = false;
    return 0;
}

void Diag_FreeHWIO(void) {
    BindingLock lock;
    if (!g_hwioReady) return;
    hwtk3::platform::PutText(kMsgReleasing);
    UnloadStep();
    g_hwioReady = false;
}
