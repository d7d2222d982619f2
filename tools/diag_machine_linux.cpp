// On Linux hwtk3-diag runs on the virtual notebook: the library binds the
// stand-in port-I/O library, and its firmware table, device and pause
// calls are answered by the notebook. With --hardware it runs on the
// machine itself: the library binds the real provider (libWinRing0.so in
// lib/ beside bin/, or beside the program), reads the SMBIOS table from
// /sys/firmware/dmi/tables and the batteries from /sys/class/power_supply,
// and pauses for real. The steps that drive EC ports run there only with
// --ec, as root and outside kernel lockdown.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "include/hwtk3.h"
#include "platform/linux_services.h"
#include "platform/testing.h"
#include "platform/winring0_provider_linux.h"
#include "sim/notebook.h"
#include "sim/scenario.h"
#include "sim/smbios_builder.h"
#include "tools/diag_machine.h"

namespace hwtk3::diag {
namespace {

constexpr platform::DWORD kProgressSliceMs = 250;  // pauses longer than this show progress
constexpr platform::DWORD kProgressEveryMs = 1000;

constexpr const char kDmiTables[] = "/sys/firmware/dmi/tables";
constexpr const char kPowerSupplies[] = "/sys/class/power_supply";
constexpr const char kProviderName[] = "libWinRing0.so";

bool g_fast = false;
bool g_hardware = false;
std::string g_root;      // "" for the machine's own files
std::string g_provider;  // the real provider's path; "" when none was found
// Set by the tests only.
std::string g_testRoot;
std::string g_testProvider;
double g_pauseSeconds = 0.0;
std::string g_progressTitle;
platform::DWORD g_progressMs = 0;

void ProgressTick(platform::DWORD ms) {
    if (g_progressTitle.empty()) return;
    const platform::DWORD before = g_progressMs / kProgressEveryMs;
    g_progressMs += ms;
    if (g_progressMs / kProgressEveryMs != before) {
        std::fprintf(stderr, "   ... %s: %.1f s\n", g_progressTitle.c_str(), g_progressMs / 1000.0);
    }
}

// Every pause of the library: counted, moved to the notebook's clock on
// --fast, slept for real (in slices, so progress can be shown) otherwise.
void Pause(platform::DWORD ms, void*) {
    g_pauseSeconds += ms / 1000.0;
    if (g_fast) {
        sim::Current().Sleep(ms);
        return;
    }
    for (platform::DWORD left = ms; left > 0;) {
        const platform::DWORD slice = left < kProgressSliceMs ? left : kProgressSliceMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        left -= slice;
        if (ms > kProgressSliceMs) ProgressTick(slice);
    }
}

std::uint64_t VirtualTickCount(void*) { return sim::Current().clock.NowMs(); }

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The provider in lib/ beside the program's bin/, or beside the program.
// Never the virtual notebook's stand-in of the same name.
std::string FindProvider() {
    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "";
    std::string directory(self, static_cast<std::size_t>(length));
    directory.resize(directory.rfind('/') + 1);
    for (const std::string& candidate : {directory + "../lib/" + kProviderName, directory + kProviderName}) {
        if (Exists(candidate)) return candidate;
    }
    return "";
}

// Why this process may not drive ports at all; empty when it may try.
std::string PrivilegeRefusal() {
    if (geteuid() != 0) return "not root (port I/O and /dev/mem need root)";
    const std::string lockdown = Hwtk3KernelLockdownMode(g_root);
    if (Hwtk3LockdownForbidsPortIo(lockdown)) {
        return "kernel lockdown [" + lockdown + "] forbids port I/O and /dev/mem";
    }
    return "";
}

// Our own reference to the provider the library loads: the same instance,
// kept loaded when the library releases it, so its account of the run
// survives the release step.
void* g_providerModule = nullptr;
std::string g_providerModulePath;

void OpenProviderModule() {
    if (g_providerModulePath == g_provider) return;
    if (g_providerModule != nullptr) dlclose(g_providerModule);
    g_providerModule = g_provider.empty() ? nullptr : dlopen(g_provider.c_str(), RTLD_NOW | RTLD_LOCAL);
    g_providerModulePath = g_provider;
}

bool ProviderReport(Hwtk3ProviderReport& report) {
    if (g_providerModule == nullptr) return false;
    auto get = reinterpret_cast<void (*)(Hwtk3ProviderReport*)>(dlsym(g_providerModule, "Hwtk3ProviderGetReport"));
    if (get != nullptr) get(&report);
    return get != nullptr;
}

bool IsEcStep(const std::string& id) {
    return id == "bind" || id == "ec-firmware" || id == "fan" || id == "charge";
}

}  // namespace

bool PrepareMachine(const Options& options, std::string& error) {
    g_fast = options.fast;
    g_hardware = options.hardware;
    g_pauseSeconds = 0.0;
    // With --fast the pauses go to the notebook's clock, and so must the
    // library's deadlines, or a slow EC would cost its poll cap instead.
    platform::testing::SetSleepHook(Pause, nullptr, g_fast ? VirtualTickCount : nullptr);
    if (g_hardware) {
        g_root = g_testRoot;
        g_provider = g_testProvider.empty() ? FindProvider() : g_testProvider;
        OpenProviderModule();
        platform::testing::SetDeviceHost(nullptr);
        platform::testing::SetFirmwareTableHost(nullptr);
        platform::testing::SetFirmwareTableDirectory(g_root.empty() ? nullptr : (g_root + kDmiTables).c_str());
        platform::internal::SetPowerSupplyRoot(g_root.empty() ? nullptr : (g_root + kPowerSupplies).c_str());
        // A missing provider makes the load fail, never falls back to the
        // stand-in on the program's library path.
        platform::testing::OverrideModulePath("WinRing0.dll", g_provider.c_str());
        return true;
    }
    sim::Notebook& notebook = sim::ResetCurrent();
    if (!sim::ApplyScenarios(notebook, options.scenario)) {
        error = "unknown scenario in '" + options.scenario + "' (see --list-scenarios)";
        return false;
    }
    if (!g_fast) notebook.clock.UseRealTime(true);
    platform::testing::SetDeviceHost(&notebook.devices);
    platform::testing::SetFirmwareTableHost(&sim::FirmwareHost());
    return true;
}

std::string MachineName() { return g_hardware ? "this machine" : "virtual notebook"; }

std::string MachineScenario(const Options& options) { return options.hardware ? "" : options.scenario; }

double LibraryPauseSeconds() { return g_pauseSeconds; }

std::string ScenarioList() {
    std::string list;
    char line[160];
    for (const sim::Scenario& scenario : sim::Scenarios()) {
        std::snprintf(line, sizeof line, "%-22s %s\n", scenario.name, scenario.description);
        list += line;
    }
    return list;
}

void BeginProgress(const std::string& title) {
    g_progressTitle = title;
    g_progressMs = 0;
}

void EndProgress() { g_progressTitle.clear(); }

bool MayRun(const Options& options, const std::string& id, bool bound, std::string& reason) {
    if (!g_hardware) return true;
    if (id == "machine" && options.dmiScan) {
        reason = PrivilegeRefusal();
        if (!reason.empty()) reason = "--dmi-scan: " + reason;
        return reason.empty();
    }
    if (id == "acpi" || id == "presence") {
        reason = "Linux has no ACPI control driver (\\\\.\\ZORDACPI) or ACPI interface library";
        return false;
    }
    if (id == "release" && !bound) {
        reason = "nothing bound";
        return false;
    }
    if (!IsEcStep(id)) return true;
    if (!options.ec) {
        reason = "drives EC ports: run with --ec (as root)";
        return false;
    }
    reason = PrivilegeRefusal();
    if (!reason.empty()) return false;
    if (id == "bind") return true;
    if (!bound) {
        reason = "port I/O not bound";
        return false;
    }
    Hwtk3ProviderReport report{};
    // On machine type 0 the charge byte is EC RAM 0xD2, written through the
    // io file; the other platforms' byte 0x04F8 is on 0x25C/0x25D.
    if (id == "charge" && Diag_GetMachineType() == 0 && ProviderReport(report) && report.ecIoReadable &&
        !report.ecIoWritable) {
        reason = std::string("EC RAM is read-only through ") + report.ecIoPath +
                 " (load ec_sys with write_support=1)";
        return false;
    }
    return true;
}

std::string BindRefusal() {
    if (!g_hardware) return "";
    if (g_provider.empty()) return "";  // a broken installation: a failure, not a skip
    Hwtk3ProviderReport report{};
    if (!ProviderReport(report)) return "";
    switch (report.refusal) {
        case kHwtk3RefusedLockdown:
            return std::string("kernel lockdown [") + report.lockdown + "] forbids port I/O";
        case kHwtk3RefusedNoPortAccess:
            return std::string("no port access (iopl: ") + std::strerror(report.portErrno) + ")";
        case kHwtk3RefusedNoPortIo:
            return "no port access (no port I/O on this processor)";
        default:
            return "";
    }
}

std::string IdentityHint(bool dmiScan) {
    if (!g_hardware) return "";
    if (dmiScan) {
        const std::string refusal = BindRefusal();
        if (!refusal.empty()) return refusal;
        return access((g_root + "/dev/mem").c_str(), R_OK) == 0 ? "" : "cannot read " + g_root + "/dev/mem";
    }
    const std::string tables = g_root + kDmiTables;
    if (!Exists(tables + "/DMI")) return "no SMBIOS table in " + tables;
    if (access((tables + "/DMI").c_str(), R_OK) != 0) return "cannot read " + tables + "/DMI (root only)";
    return "";
}

std::string BatteryHint() {
    if (!g_hardware) return "";
    return "no system battery under " + g_root + kPowerSupplies;
}

void DescribeChannels(Report& report) {
    if (!g_hardware) return;
    Hwtk3ProviderReport provider{};
    bool ranEc = false;
    for (const StepResult& step : report.steps) ranEc = ranEc || (step.id == "bind" && !step.skipped);
    if (!ranEc) {
        report.channels.push_back({"EC ports", "not touched", false});
        return;
    }
    if (g_provider.empty()) {
        report.channels.push_back({"EC ports", "no provider libWinRing0.so beside hwtk3-diag", false});
        return;
    }
    if (!ProviderReport(provider)) {
        report.channels.push_back({"EC ports", "provider " + g_provider + " gave no account", false});
        return;
    }
    const std::string file = provider.ecIoPath;
    std::string read, write;
    if (provider.ecIoReadable) {
        read = "through " + file + " (" + std::to_string(provider.ecRamReadsViaFile) + " reads)";
        write = provider.ecIoWritable
                    ? "through " + file + " (" + std::to_string(provider.ecRamWritesViaFile) + " writes)"
                    : "refused: " + file + " is read-only (ec_sys without write_support=1)";
        if (provider.ecRamFileFailures != 0) {
            write += ", " + std::to_string(provider.ecRamFileFailures) + " accesses failed there";
        }
    } else {
        read = write = "raw ports (no " + file + ": load ec_sys)";
    }
    report.channels.push_back({"0x62/0x66 EC RAM read 0x80", read, false});
    report.channels.push_back({"0x62/0x66 EC RAM write 0x81", write, false});
    report.channels.push_back({"0x62/0x66 other commands (0xA1 firmware version)",
                               "raw ports (" + std::to_string(provider.rawEcCommands) + " commands)", false});
    report.channels.push_back({"0x68/0x6C, 0x25C/0x25D, windows 0x381, 0xFD61",
                               "raw ports (" + std::to_string(provider.otherPortAccesses) + " accesses)", false});
}

void testing::UseMachineAt(const std::string& root, const std::string& provider) {
    g_testRoot = root;
    g_testProvider = provider;
}

}  // namespace hwtk3::diag
