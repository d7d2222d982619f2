// hwtk3-diag --hardware and the real Linux provider, on a fake sysfs tree
// under a root of our own (HWTK3_SYSFS_ROOT): SMBIOS tables, power
// supplies, and an ec_sys "io" file holding the virtual notebook's EC RAM.
// The provider's raw port accesses go to the virtual notebook through its
// test hook, so nothing here touches this machine's ports.
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/linux_services.h"
#include "platform/winring0_provider_linux.h"
#include "tests/support.h"
#include "tools/diag_machine.h"
#include "tools/diag_report.h"
#include "tools/diag_sequence.h"

namespace hwtk3::test {
namespace {

using diag::Options;
using diag::Report;
using Bytes = std::vector<std::uint8_t>;

constexpr char kProvider[] = HWTK3_LIB_DIR "/libWinRing0.so";
constexpr char kEcIo[] = "/sys/kernel/debug/ec/ec0/io";

std::uint8_t NotebookIn(std::uint16_t port) { return sim::Current().ReadIoPortByte(port); }
void NotebookOut(std::uint16_t port, std::uint8_t value) { sim::Current().WriteIoPortByte(port, value); }

void WriteFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class HardwareTest : public NotebookTest {
protected:
    void SetUp() override {
        NotebookTest::SetUp();
        char pattern[] = "/tmp/hwtk3-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        provider_ = dlopen(kProvider, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(provider_, nullptr) << dlerror();
        usePorts_ = reinterpret_cast<decltype(usePorts_)>(dlsym(provider_, "Hwtk3ProviderUsePorts"));
        getReport_ = reinterpret_cast<decltype(getReport_)>(dlsym(provider_, "Hwtk3ProviderGetReport"));
        ASSERT_NE(usePorts_, nullptr);
        ASSERT_NE(getReport_, nullptr);
        usePorts_(NotebookIn, NotebookOut);
        setenv(kHwtk3SysfsRootVariable, root_.c_str(), 1);
    }
    void TearDown() override {
        if (usePorts_ != nullptr) usePorts_(nullptr, nullptr);
        unsetenv(kHwtk3SysfsRootVariable);
        platform::testing::SetFirmwareTableDirectory(nullptr);
        platform::internal::SetPowerSupplyRoot(nullptr);
        platform::testing::SetDeviceHost(nullptr);
        NotebookTest::TearDown();
        if (provider_ != nullptr) dlclose(provider_);
        std::filesystem::remove_all(root_);
    }

    // The notebook's identity, batteries and EC RAM as the kernel would
    // publish them.
    void InstallMachine() {
        std::uint16_t count = 0;
        const Bytes table = sim::MachineTable(sim::MachineIdentity{}, count);
        WriteBytes(root_ + "/sys/firmware/dmi/tables/smbios_entry_point",
                   sim::SmbiosEntryPoint(2, 8, sim::kTableAddress, static_cast<std::uint16_t>(table.size()), count));
        WriteBytes(root_ + "/sys/firmware/dmi/tables/DMI", table);
        const std::string supplies = root_ + "/sys/class/power_supply/";
        WriteFile(supplies + "AC/type", "Mains\n");
        WriteFile(supplies + "AC/online", "0\n");
        // A wireless mouse's battery: listed, but not the system's.
        WriteFile(supplies + "hid-mouse-battery/type", "Battery\n");
        WriteFile(supplies + "hid-mouse-battery/scope", "Device\n");
        WriteFile(supplies + "hid-mouse-battery/voltage_now", "3700000\n");
        WriteFile(supplies + "hid-mouse-battery/energy_now", "500000\n");
        const std::string bat = supplies + "BAT0/";
        WriteFile(bat + "type", "Battery\n");
        WriteFile(bat + "status", "Discharging\n");
        WriteFile(bat + "voltage_now", "11100000\n");
        WriteFile(bat + "energy_full_design", "48840000\n");
        WriteFile(bat + "energy_full", "44400000\n");
        WriteFile(bat + "energy_now", "22200000\n");
        WriteEcRamFile();
    }
    void WriteEcRamFile() {
        Bytes ram(256);
        for (int i = 0; i < 256; ++i) ram[i] = sim::Current().ec.Ram(static_cast<std::uint16_t>(i));
        WriteBytes(EcIoPath(), ram);
    }
    std::string EcIoPath() const { return root_ + kEcIo; }

    // `setup` runs on the prepared machine, before the sequence.
    Report RunDiag(Options options, const std::function<void()>& setup = {}) {
        std::string error;
        EXPECT_TRUE(diag::PrepareMachine(options, error)) << error;
        if (setup) setup();
        // Our pauses on the notebook's clock, whatever the tool set.
        platform::testing::SetSleepHook([](platform::DWORD ms, void*) { sim::Current().Sleep(ms); }, nullptr);
        Capture();
        std::FILE* lines = std::tmpfile();
        Report report = diag::RunSequence(options, lines);
        std::fclose(lines);
        output_ = Output();
        StopCapture();
        return report;
    }
    Hwtk3ProviderReport ProviderReport() {
        Hwtk3ProviderReport report{};
        getReport_(&report);
        return report;
    }
    int PortWrites(std::uint16_t port, std::uint8_t value) const {
        int count = 0;
        for (const sim::Event& e : sim::Current().trace.Events()) {
            count += e.kind == sim::Event::Kind::PortWrite && e.a == port && e.b == value ? 1 : 0;
        }
        return count;
    }
    static const diag::StepResult* Step(const Report& report, const std::string& id) {
        for (const auto& step : report.steps) {
            if (step.id == id) return &step;
        }
        return nullptr;
    }
    static std::string Channel(const Report& report, const std::string& prefix) {
        for (const auto& channel : report.channels) {
            if (channel.key.rfind(prefix, 0) == 0) return channel.text;
        }
        return "<none>";
    }

    std::string root_;
    std::string output_;
    void* provider_ = nullptr;
    void (*usePorts_)(Hwtk3PortIn, Hwtk3PortOut) = nullptr;
    void (*getReport_)(Hwtk3ProviderReport*) = nullptr;
};

// The same machine, once as the virtual notebook and once through the
// kernel's files and the real provider: the same steps, the same figures.
TEST_F(HardwareTest, HardwareReportMatchesTheVirtualNotebook) {
    constexpr std::uint8_t kChargeByte = 0x95;  // charging on, other bits the firmware's
    Options options;
    options.chargeSwitch = true;
    options.fast = true;
    const Report virtualReport = RunDiag(
        options, [] { sim::Current().chargeSwitch.Set(sim::ChargeSwitch::kRamByte, kChargeByte); });
    ASSERT_EQ(virtualReport.Failed(), 0) << diag::ToJson(virtualReport);

    ResetLibrary();
    sim::ResetCurrent();
    sim::Current().chargeSwitch.Set(sim::ChargeSwitch::kRamByte, kChargeByte);
    sim::Current().ec.Ram(0x10) = 0x5A;
    InstallMachine();
    const Bytes before = ReadBytes(EcIoPath());
    options.fast = false;
    options.hardware = true;
    options.ec = true;
    const Report hardware = RunDiag(options);

    EXPECT_EQ(hardware.machine, "this machine");
    EXPECT_EQ(hardware.scenario, "");
    EXPECT_EQ(hardware.Failed(), 0) << diag::ToJson(hardware);
    for (const char* id : {"machine", "bind", "ec-firmware", "fan", "battery", "charge", "release"}) {
        SCOPED_TRACE(id);
        const diag::StepResult* a = Step(virtualReport, id);
        const diag::StepResult* b = Step(hardware, id);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(b->passed);
        EXPECT_FALSE(b->skipped);
        EXPECT_EQ(a->detail, b->detail);
        ASSERT_EQ(a->values.size(), b->values.size());
        for (std::size_t i = 0; i < a->values.size(); ++i) {
            EXPECT_EQ(a->values[i].key, b->values[i].key);
            EXPECT_EQ(a->values[i].text, b->values[i].text);
        }
    }
    // Linux has no ACPI control driver: skipped, with the reason.
    ASSERT_NE(Step(hardware, "acpi"), nullptr);
    EXPECT_TRUE(Step(hardware, "acpi")->skipped);
    EXPECT_NE(Step(hardware, "presence")->detail.find("Linux has no ACPI"), std::string::npos);
    EXPECT_EQ(diag::ExitStatus(hardware), 3);

    // The EC RAM commands went through the io file, never to ports
    // 0x62/0x66; the firmware version and the fan went to the ports.
    const Hwtk3ProviderReport provider = ProviderReport();
    EXPECT_EQ(provider.ecRamWritesViaFile, 2u);  // off, on
    // Off: original and read-back; the state; on: original and read-back.
    EXPECT_EQ(provider.ecRamReadsViaFile, 5u);
    EXPECT_EQ(provider.ecRamFileFailures, 0u);
    EXPECT_EQ(PortWrites(0x66, 0x80), 0);
    EXPECT_EQ(PortWrites(0x66, 0x81), 0);
    EXPECT_EQ(PortWrites(0x66, 0xA1), 1);
    EXPECT_EQ(PortWrites(0x6C, 0x24), 1);
    EXPECT_EQ(provider.rawEcCommands, 1u);
    EXPECT_NE(Channel(hardware, "0x62/0x66 EC RAM read").find("through " + EcIoPath()), std::string::npos);
    EXPECT_NE(Channel(hardware, "0x62/0x66 EC RAM write").find("(2 writes)"), std::string::npos);
    EXPECT_NE(Channel(hardware, "0x62/0x66 other commands").find("raw ports (1 commands)"), std::string::npos);
    // Charging ends on; every byte of EC RAM but none changed.
    EXPECT_EQ(ReadBytes(EcIoPath()), before);
    EXPECT_EQ(before[0xD2], kChargeByte);
    const std::string json = diag::ToJson(hardware);
    EXPECT_NE(json.find("\"machine\":\"this machine\""), std::string::npos);
    EXPECT_NE(json.find("\"skipped\":2"), std::string::npos) << json;
    EXPECT_NE(json.find("\"channels\":{\"0x62/0x66 EC RAM read 0x80\":"), std::string::npos) << json;
    std::string errors;
    EXPECT_TRUE(ValidReports({json}, errors)) << errors;
}

// Without --ec the read-only steps run and the EC steps are skipped with
// the option that asks for them; nothing reaches a port or the io file.
TEST_F(HardwareTest, WithoutEcOnlyIdentityAndBatteryRun) {
    InstallMachine();
    const Bytes before = ReadBytes(EcIoPath());
    Options options;
    options.hardware = true;
    options.chargeSwitch = true;
    const Report report = RunDiag(options);
    EXPECT_TRUE(Step(report, "machine")->passed);
    const diag::StepResult* battery = Step(report, "battery");
    EXPECT_TRUE(battery->passed);
    EXPECT_EQ(battery->detail, "discharging, 50%, design 4400 mAh, full 4000 mAh, remaining 2000 mAh, 11.10 V");
    for (const char* id : {"bind", "ec-firmware", "fan", "charge"}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(Step(report, id)->skipped);
        EXPECT_EQ(Step(report, id)->detail, "drives EC ports: run with --ec (as root)");
    }
    EXPECT_EQ(report.Failed(), 0);
    EXPECT_EQ(diag::ExitStatus(report), 3);
    EXPECT_EQ(sim::Current().trace.PortAccesses(), 0);
    EXPECT_EQ(ReadBytes(EcIoPath()), before);
    EXPECT_EQ(Channel(report, "EC ports"), "not touched");
    EXPECT_NE(diag::SummaryLine(report).find("2 passed, 0 failed, 7 skipped"), std::string::npos)
        << diag::SummaryLine(report);
}

// ec_sys without write support: EC RAM reads still go through the file,
// and the charge switch is skipped rather than written on the raw ports.
// (The io path is a directory here: it opens for reading, never for
// writing, whoever runs the test.)
TEST_F(HardwareTest, ReadOnlyEcRamSkipsTheChargeSwitch) {
    InstallMachine();
    std::filesystem::remove(EcIoPath());
    std::filesystem::create_directories(EcIoPath());
    Options options;
    options.hardware = true;
    options.ec = true;
    options.chargeSwitch = true;
    const Report report = RunDiag(options);
    EXPECT_TRUE(Step(report, "ec-firmware")->passed);
    EXPECT_TRUE(Step(report, "fan")->passed);
    const diag::StepResult* charge = Step(report, "charge");
    EXPECT_TRUE(charge->skipped);
    EXPECT_EQ(charge->detail, "EC RAM is read-only through " + EcIoPath() + " (load ec_sys with write_support=1)");
    EXPECT_EQ(PortWrites(0x66, 0x81), 0);
    EXPECT_EQ(PortWrites(0x66, 0x80), 0);
    EXPECT_NE(Channel(report, "0x62/0x66 EC RAM write").find("is read-only"), std::string::npos);
    EXPECT_EQ(diag::ExitStatus(report), 3);
}

// Kernel lockdown: the tool refuses before binding, and the provider on its
// own refuses to initialise as well.
TEST_F(HardwareTest, KernelLockdownSkipsEveryEcStep) {
    if (geteuid() != 0) GTEST_SKIP() << "the lockdown check follows the root check";
    InstallMachine();
    WriteFile(root_ + "/sys/kernel/security/lockdown", "none [integrity] confidentiality\n");
    Options options;
    options.hardware = true;
    options.ec = true;
    const Report report = RunDiag(options);
    for (const char* id : {"bind", "ec-firmware", "fan"}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(Step(report, id)->skipped);
        EXPECT_EQ(Step(report, id)->detail, "kernel lockdown [integrity] forbids port I/O and /dev/mem");
    }
    EXPECT_EQ(sim::Current().trace.PortAccesses(), 0);

    platform::testing::OverrideModulePath("WinRing0.dll", kProvider);
    Capture();
    EXPECT_EQ(Diag_InitHWIO(), 0);
    StopCapture();
    const Hwtk3ProviderReport provider = ProviderReport();
    EXPECT_EQ(provider.refusal, kHwtk3RefusedLockdown);
    EXPECT_STREQ(provider.lockdown, "integrity");
    WriteFile(root_ + "/sys/kernel/security/lockdown", "none integrity [confidentiality]\n");
    options.chargeSwitch = true;
    ResetLibrary();
    const Report second = RunDiag(options);
    EXPECT_NE(Step(second, "charge")->detail.find("[confidentiality]"), std::string::npos);
}

// The provider alone, driven with the byte sequences the library sends.
class ProviderEcFileTest : public HardwareTest {
protected:
    void SetUp() override {
        HardwareTest::SetUp();
        Bytes ram(256);
        for (int i = 0; i < 256; ++i) ram[i] = static_cast<std::uint8_t>(i ^ 0xA5);
        WriteBytes(EcIoPath(), ram);
        ram_ = ram;
        init_ = reinterpret_cast<int (*)()>(dlsym(provider_, "InitializeOls"));
        deinit_ = reinterpret_cast<void (*)()>(dlsym(provider_, "DeinitializeOls"));
        in_ = reinterpret_cast<std::uint8_t (*)(std::uint16_t)>(dlsym(provider_, "ReadIoPortByte"));
        out_ = reinterpret_cast<void (*)(std::uint16_t, std::uint8_t)>(dlsym(provider_, "WriteIoPortByte"));
        ASSERT_TRUE(init_ && deinit_ && in_ && out_);
    }
    void TearDown() override {
        if (deinit_ != nullptr) deinit_();
        HardwareTest::TearDown();
    }
    int (*init_)() = nullptr;
    void (*deinit_)() = nullptr;
    std::uint8_t (*in_)(std::uint16_t) = nullptr;
    void (*out_)(std::uint16_t, std::uint8_t) = nullptr;
    Bytes ram_;
};

TEST_F(ProviderEcFileTest, ReadAndWriteCommandsGoThroughTheFileAtTheirIndex) {
    ASSERT_EQ(init_(), 1);
    sim::Current().trace.Clear();
    // Read: status idle, command, index; the answer waits with OBF set.
    EXPECT_EQ(in_(0x66), 0x00);
    out_(0x66, 0x80);
    EXPECT_EQ(in_(0x66) & 0x02, 0);  // IBF clear: the command was taken
    out_(0x62, 0xD2);
    EXPECT_EQ(in_(0x66), 0x01);
    EXPECT_EQ(in_(0x62), ram_[0xD2]);
    EXPECT_EQ(in_(0x66), 0x00);  // OBF clear once taken
    // Write: command, index, value; only that byte of the file changes.
    out_(0x66, 0x81);
    out_(0x62, 0x37);
    EXPECT_EQ(in_(0x66), 0x00);
    out_(0x62, 0x42);
    Bytes expected = ram_;
    expected[0x37] = 0x42;
    EXPECT_EQ(ReadBytes(EcIoPath()), expected);
    // Index 0xFF is the last byte of the file.
    out_(0x66, 0x80);
    out_(0x62, 0xFF);
    EXPECT_EQ(in_(0x62), ram_[0xFF]);
    EXPECT_EQ(sim::Current().trace.PortAccesses(), 0);  // none of it reached a port
    const Hwtk3ProviderReport report = ProviderReport();
    EXPECT_EQ(report.ecRamReadsViaFile, 2u);
    EXPECT_EQ(report.ecRamWritesViaFile, 1u);
    EXPECT_EQ(report.rawEcCommands, 0u);
    EXPECT_TRUE(report.ecIoWritable);
}

TEST_F(ProviderEcFileTest, OtherCommandsFollowTheRawPortsUntilTheNextEcRamCommand) {
    ASSERT_EQ(init_(), 1);
    sim::Current().trace.Clear();
    out_(0x66, 0xA1);  // firmware version: to the EC itself
    std::string text;
    for (int i = 0; i < 40; ++i) {
        if ((in_(0x66) & 0x01) == 0) continue;
        const std::uint8_t byte = in_(0x62);
        if (byte == 0) break;
        text += static_cast<char>(byte);
    }
    EXPECT_EQ(text, "ZLKD 1.07.02");
    EXPECT_GT(sim::Current().trace.Count(sim::Event::Kind::PortRead, 0x62), 0);
    // A data byte while no command waits for one is dropped, not sent.
    out_(0x66, 0x80);
    out_(0x62, 0x10);
    EXPECT_EQ(in_(0x62), ram_[0x10]);
    const int writesBefore = sim::Current().trace.Count(sim::Event::Kind::PortWrite, 0x62);
    out_(0x62, 0x99);
    EXPECT_EQ(sim::Current().trace.Count(sim::Event::Kind::PortWrite, 0x62), writesBefore);
    EXPECT_EQ(ReadBytes(EcIoPath()), ram_);
    // The other channels are raw ports.
    out_(0x6C, 0x2D);
    EXPECT_EQ(sim::Current().trace.Count(sim::Event::Kind::PortWrite, 0x6C), 1);
    EXPECT_EQ(ProviderReport().rawEcCommands, 1u);
}

// ec_sys without write_support: the file opens for reading only. A write
// command is refused there and never sent to the ports instead. Run in a
// child that is not root, so the file's mode holds.
TEST_F(ProviderEcFileTest, ReadOnlyFileRefusesWritesWithoutRawAccess) {
    for (std::filesystem::path dir = std::filesystem::path(EcIoPath()).parent_path(); dir.string().size() >= root_.size();
         dir = dir.parent_path()) {
        chmod(dir.c_str(), 0755);
    }
    chmod(EcIoPath().c_str(), 0444);
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
        int failed = 0;
        if (init_() != 1) _exit(101);
        sim::Current().trace.Clear();
        const Hwtk3ProviderReport opened = ProviderReport();
        failed |= opened.ecIoReadable ? 0 : 1;
        failed |= opened.ecIoWritable ? 2 : 0;
        out_(0x66, 0x81);
        out_(0x62, 0xD2);
        out_(0x62, 0x00);
        failed |= sim::Current().trace.PortAccesses() == 0 ? 0 : 4;
        failed |= ProviderReport().ecRamFileFailures == 1 ? 0 : 8;
        failed |= ReadBytes(EcIoPath()) == ram_ ? 0 : 16;
        out_(0x66, 0x80);  // reads still work
        out_(0x62, 0xD2);
        failed |= in_(0x62) == ram_[0xD2] ? 0 : 32;
        _exit(failed);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The library's charge switch through the io file: read-modify-write at
// EC RAM 0xD2, the other seven bits kept, the state read back there.
TEST_F(ProviderEcFileTest, ChargeSwitchKeepsTheOtherBitsThroughTheFile) {
    ram_[0xD2] = 0xBD;
    WriteBytes(EcIoPath(), ram_);
    platform::testing::OverrideModulePath("WinRing0.dll", kProvider);
    Capture();
    ASSERT_EQ(Diag_InitHWIO(), 1);
    EXPECT_TRUE(Diag_SetBatteryChargeEnabled(false));
    EXPECT_EQ(ReadBytes(EcIoPath())[0xD2], 0xFD);
    EXPECT_EQ(Diag_GetBatteryChargeState(), 0xFD);
    EXPECT_TRUE(Diag_SetBatteryChargeEnabled(true));
    const std::string output = Output();
    StopCapture();
    EXPECT_EQ(ReadBytes(EcIoPath()), ram_);
    EXPECT_NE(output.find("Original data of address 0xD2 = 0xBD\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Read address 0xD2 back, value = 0xFD\n"), std::string::npos) << output;
    EXPECT_EQ(PortWrites(0x66, 0x80) + PortWrites(0x66, 0x81), 0);
    Diag_FreeHWIO();
}

// A machine with none of it, as in a container, and no privilege: the
// program itself, run as an unprivileged user.
TEST(HardwareProgramTest, EmptyMachineWithoutPrivilegeSkipsOrFailsEveryStepInBoundedTime) {
    char pattern[] = "/tmp/hwtk3-empty-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    chmod(pattern, 0755);
    const std::string root = pattern;
    const std::string json = root + "/report.json";
    // The unprivileged user may not be able to enter the checkout (a 0700
    // folder): it runs a copy of the program and its libraries from here.
    namespace fs = std::filesystem;
    const fs::path program = fs::path(root) / "program";
    fs::create_directories(program / "bin");
    fs::create_directories(program / "lib");
    fs::create_directories(program / "sim");
    fs::copy_file(HWTK3_BIN_DIR "/hwtk3-diag", program / "bin" / "hwtk3-diag");
    fs::copy_file(HWTK3_LIB_DIR "/libWinRing0.so", program / "lib" / "libWinRing0.so");
    for (const auto& entry : fs::directory_iterator(HWTK3_SIM_DIR)) {
        if (entry.path().extension() == ".so") fs::copy_file(entry.path(), program / "sim" / entry.path().filename());
    }
    std::string command = std::string("HWTK3_SYSFS_ROOT=") + root + " LD_LIBRARY_PATH=" + (program / "sim").string() + " ";
    if (geteuid() == 0) command += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    command += (program / "bin" / "hwtk3-diag").string() + " --hardware --ec --charge-switch --json >" + json + " 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int raw = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(WIFEXITED(raw)) << raw;
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_LT(seconds, 10.0);
    std::ifstream file(json);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(root);
    EXPECT_NE(text.find("[FAIL] machine check"), std::string::npos) << text;
    EXPECT_NE(text.find("no SMBIOS table in " + root + "/sys/firmware/dmi/tables"), std::string::npos) << text;
    EXPECT_NE(text.find("[FAIL] battery status"), std::string::npos) << text;
    for (const char* title : {"bind port I/O", "EC firmware version", "fan test", "charge switch"}) {
        EXPECT_NE(text.find(std::string("[SKIP] ") + title), std::string::npos) << title << "\n" << text;
    }
    EXPECT_NE(text.find("not root (port I/O and /dev/mem need root)"), std::string::npos) << text;
    EXPECT_EQ(text.find("[PASS]"), std::string::npos) << text;
    EXPECT_NE(text.find("0 passed, 2 failed, 7 skipped"), std::string::npos) << text;
    EXPECT_NE(text.find("\"result\":\"FAIL\""), std::string::npos) << text;
    std::string errors;
    const std::size_t document = text.rfind("{\"tool\"");
    ASSERT_NE(document, std::string::npos);
    EXPECT_TRUE(ValidReports({text.substr(document, text.find('\n', document) - document)}, errors)) << errors;
}

TEST(HardwareProgramTest, HardwareOptionsAreCheckedAndTheDefaultStaysVirtual) {
    auto status = [](const std::string& arguments) {
        const int raw = std::system((HWTK3_BIN_DIR "/hwtk3-diag " + arguments + " >/dev/null 2>&1").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status("--hardware --scenario zlkd"), 2);
    EXPECT_EQ(status("--hardware --fast"), 2);
    EXPECT_EQ(status("--ec"), 2);
    std::FILE* pipe = popen(HWTK3_BIN_DIR "/hwtk3-diag --fast --steps machine 2>/dev/null", "r");
    ASSERT_NE(pipe, nullptr);
    char first[256] = {};
    ASSERT_NE(std::fgets(first, sizeof first, pipe), nullptr);
    while (std::fgetc(pipe) != EOF) {
    }
    EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 0);
    EXPECT_STREQ(first, ">> hwtk3-diag on the virtual notebook (scenario default)\n");
}

}  // namespace
}  // namespace hwtk3::test
