// hwtk3-diag --hardware and the real Linux provider, on a fake sysfs tree
// in a folder of our own: SMBIOS tables, power supplies, an ec_sys "io"
// file holding the virtual notebook's EC RAM, and /dev/mem. The provider's
// test build (its own file name, never installed) is pointed at that
// folder, and its raw port accesses at the virtual notebook, through its
// testing entry point; nothing here touches this machine's ports. The
// shipped provider is checked to have no such seam.
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <set>
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

constexpr char kProvider[] = HWTK3_TEST_LIB_DIR "/libWinRing0Testing.so";
constexpr char kShippedProvider[] = HWTK3_LIB_DIR "/libWinRing0.so";
constexpr char kEcIo[] = "/sys/kernel/debug/ec/ec0/io";
constexpr char kDevMem[] = "/dev/mem";
constexpr std::uint8_t kObf = 0x01;
constexpr std::uint8_t kIbf = 0x02;

std::uint8_t NotebookIn(std::uint16_t port) { return sim::Current().ReadIoPortByte(port); }
void NotebookOut(std::uint16_t port, std::uint8_t value) { sim::Current().WriteIoPortByte(port, value); }

// The kernel's EC driver beside us: one exchange of its own on 0x62/0x66,
// over the notebook's EC. Time goes by in status reads of 0x66. After
// `startsAt` of them the kernel's exchange holds the EC: for `busyReads`
// reads with a byte the EC has not taken yet (`busyStatus` ORed in), then
// for `answerReads` reads with a byte of its answer in the data port (OBF)
// until the kernel reads it; -1 for ever. Counted: every byte written to
// 0x62/0x66 and every data-port read while that exchange holds the EC.
struct KernelExchange {
    enum class Phase { Free, Busy, Answer };
    int startsAt = 0;
    int busyReads = 0;
    std::uint8_t busyStatus = kIbf;
    int answerReads = 0;

    int statusReads = 0;
    int bytesSentIntoIt = 0;
    int answersTaken = 0;

    Phase At(int t) const {
        if (t < startsAt) return Phase::Free;
        t -= startsAt;
        if (busyReads < 0 || t < busyReads) return Phase::Busy;
        t -= busyReads;
        return answerReads < 0 || t < answerReads ? Phase::Answer : Phase::Free;
    }
    // Between two status reads the EC stays as the last one showed it.
    Phase Now() const { return At(statusReads > 0 ? statusReads - 1 : 0); }
};
KernelExchange g_kernel;
constexpr std::uint8_t kKernelsAnswer = 0x5A;

bool IsEc62(std::uint16_t port) { return port == 0x62 || port == 0x66; }

std::uint8_t KernelIn(std::uint16_t port) {
    if (port == 0x66) {
        const KernelExchange::Phase phase = g_kernel.At(g_kernel.statusReads++);
        const std::uint8_t status = NotebookIn(port);
        if (phase == KernelExchange::Phase::Busy) return status | g_kernel.busyStatus;
        return phase == KernelExchange::Phase::Answer ? status | kObf : status;
    }
    if (port == 0x62 && g_kernel.Now() == KernelExchange::Phase::Answer) {
        ++g_kernel.answersTaken;
        return kKernelsAnswer;
    }
    return NotebookIn(port);
}

void KernelOut(std::uint16_t port, std::uint8_t value) {
    if (IsEc62(port) && g_kernel.Now() != KernelExchange::Phase::Free) ++g_kernel.bytesSentIntoIt;
    NotebookOut(port, value);
}

void WriteFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

// `bytes` at `offset` of the file, which is created or extended (sparse).
void WriteBytesAt(const std::string& path, std::uint64_t offset, const Bytes& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (!std::filesystem::exists(path)) std::ofstream(path, std::ios::binary).flush();
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
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
        useFakeMachine_ =
            reinterpret_cast<Hwtk3ProviderUseFakeMachineFn>(dlsym(provider_, kHwtk3ProviderTestingEntry));
        getReport_ = reinterpret_cast<decltype(getReport_)>(dlsym(provider_, "Hwtk3ProviderGetReport"));
        ASSERT_NE(useFakeMachine_, nullptr);
        ASSERT_NE(getReport_, nullptr);
        UsePorts(NotebookIn, NotebookOut);
        diag::testing::UseMachineAt(root_, kProvider);
    }
    void TearDown() override {
        if (useFakeMachine_ != nullptr) useFakeMachine_("", nullptr, nullptr);
        diag::testing::UseMachineAt("", "");
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
    void UsePorts(Hwtk3PortIn in, Hwtk3PortOut out) { useFakeMachine_(root_.c_str(), in, out); }

    // `setup` runs on the prepared machine, before the sequence.
    Report RunDiag(Options options, const std::function<void()>& setup = {}) {
        std::string error;
        EXPECT_TRUE(diag::PrepareMachine(options, error)) << error;
        if (setup) setup();
        // Our pauses on the notebook's clock, whatever the tool set.
        UseNotebookClock();
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
    Hwtk3ProviderUseFakeMachineFn useFakeMachine_ = nullptr;
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
        readMemory_ = reinterpret_cast<decltype(readMemory_)>(dlsym(provider_, "ReadPhysicalMemory"));
        ASSERT_TRUE(init_ && deinit_ && in_ && out_ && readMemory_);
    }
    void TearDown() override {
        if (deinit_ != nullptr) deinit_();
        HardwareTest::TearDown();
    }
    // The firmware version's answer to 0xA1, one byte per OBF, as the
    // library takes it.
    std::string FirmwareText() {
        std::string text;
        for (int poll = 0; poll < 40; ++poll) {
            if ((in_(0x66) & kObf) == 0) continue;
            const std::uint8_t byte = in_(0x62);
            if (byte == 0) break;
            text += static_cast<char>(byte);
        }
        return text;
    }
    int (*init_)() = nullptr;
    void (*deinit_)() = nullptr;
    std::uint8_t (*in_)(std::uint16_t) = nullptr;
    void (*out_)(std::uint16_t, std::uint8_t) = nullptr;
    std::uint32_t (*readMemory_)(std::uintptr_t, std::uint8_t*, std::uint32_t, std::uint32_t) = nullptr;
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
    // No byte of it reached the EC, and its data port was never read; the
    // status reads before each command were the EC's own.
    EXPECT_EQ(sim::Current().trace.Count(sim::Event::Kind::PortWrite, 0x66), 0);
    EXPECT_EQ(sim::Current().trace.Count(sim::Event::Kind::PortWrite, 0x62), 0);
    EXPECT_EQ(sim::Current().trace.Count(sim::Event::Kind::PortRead, 0x62), 0);
    const Hwtk3ProviderReport report = ProviderReport();
    EXPECT_EQ(report.ecRamReadsViaFile, 2u);
    EXPECT_EQ(report.ecRamWritesViaFile, 1u);
    EXPECT_EQ(report.rawEcCommands, 0u);
    EXPECT_TRUE(report.ecIoWritable);
}

TEST_F(ProviderEcFileTest, OtherCommandsGoToTheEcUntilTheirAnswerEnds) {
    ASSERT_EQ(init_(), 1);
    sim::Current().trace.Clear();
    out_(0x66, 0xA1);  // firmware version: to the EC itself
    EXPECT_EQ(FirmwareText(), "ZLKD 1.07.02");
    EXPECT_GT(sim::Current().trace.Count(sim::Event::Kind::PortRead, 0x62), 0);
    // After the text's NUL the data port holds nothing of ours: not read.
    const int readsAfterText = sim::Current().trace.Count(sim::Event::Kind::PortRead, 0x62);
    EXPECT_EQ(in_(0x62), 0xFF);
    EXPECT_EQ(sim::Current().trace.Count(sim::Event::Kind::PortRead, 0x62), readsAfterText);
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

// The kernel's EC driver runs an exchange of its own on 0x62/0x66 while
// the library reads the firmware version (the one command that stays on
// the raw ports beside ec_sys) or EC RAM through the file: the library
// waits while the EC is busy, never writes a byte into that exchange,
// never takes the kernel's answer, and gives up within its own bound when
// the EC stays busy.
TEST_F(HardwareTest, EcExchangesWaitForTheKernelsExchangeAndNeverJoinIt) {
    enum class Before { Nothing, NoEcSysFile, EcRamReadThroughFile, FirmwareRead, ShortFirmwareRead };
    struct Row {
        const char* name;
        Before before;
        KernelExchange kernel;
        bool chargeState;  // the EC RAM read instead of the firmware version
        bool succeeds;
        const char* line;
        int ecWrites;  // bytes written to 0x62/0x66
    };
    // {startsAt, busyReads, busyStatus, answerReads}
    const KernelExchange quiet{}, busyAWhile{0, 40}, busyForEver{0, -1, kIbf | kObf};
    const KernelExchange answerAWhile{0, 0, kIbf, 40}, answerForEver{0, 0, kIbf, -1};
    const char* const kText = "EC FW:=ZLKD 1.07.02=\n";
    const char* const kIbfTimeout = "WaitIBFTimeout timeout!!\n";
    const Row rows[] = {
        {"EC busy for a while right after InitializeOls", Before::Nothing, busyAWhile, false, true, kText, 1},
        {"EC busy for ever (status 0x03)", Before::Nothing, busyForEver, false, false, kIbfTimeout, 0},
        {"kernel's answer waiting after an EC RAM read through the file", Before::EcRamReadThroughFile,
         answerAWhile, false, true, kText, 1},
        {"kernel's answer never taken", Before::EcRamReadThroughFile, answerForEver, false, false, kIbfTimeout, 0},
        {"kernel's answer after our complete firmware read", Before::FirmwareRead, answerAWhile, false, true, kText,
         1},
        {"the rest of our own text after a short read", Before::ShortFirmwareRead, quiet, false, true, kText, 1},
        {"EC RAM read through the file while the EC is busy", Before::Nothing, busyAWhile, true, true, "", 0},
        {"EC RAM read through the file after our firmware read, kernel's answer waiting", Before::FirmwareRead,
         answerForEver, true, false, "", 0},
        {"EC RAM read on the raw ports while the EC is busy", Before::NoEcSysFile, busyAWhile, true, true, "", 2},
        {"EC RAM read on the raw ports, kernel's answer never taken", Before::NoEcSysFile, answerForEver, true, false,
         "", 0},
    };
    constexpr std::uint64_t kEndsWithinMs = 1000;  // far above the exports' own bounds: they end
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResetLibrary();
        // A charge byte that neither failure value (0, 0xFF) can pass for.
        sim::ResetCurrent().chargeSwitch.Set(sim::ChargeSwitch::kRamByte, 0x95);
        InstallMachine();
        const std::uint8_t chargeByte = ReadBytes(EcIoPath())[0xD2];
        ASSERT_EQ(chargeByte, 0x95);
        if (row.before == Before::NoEcSysFile) std::filesystem::remove(EcIoPath());
        g_kernel = KernelExchange{};
        UsePorts(KernelIn, KernelOut);
        platform::testing::OverrideModulePath("WinRing0.dll", kProvider);
        Capture();
        ASSERT_EQ(Diag_InitHWIO(), 1);
        char text[16] = {};
        switch (row.before) {
            case Before::Nothing:
            case Before::NoEcSysFile:
                break;
            case Before::EcRamReadThroughFile:
                EXPECT_EQ(Diag_GetBatteryChargeState(), chargeByte);
                break;
            case Before::FirmwareRead:
                EXPECT_EQ(Diag_GetECFirmwareVer2(text, sizeof text), 1);
                break;
            case Before::ShortFirmwareRead:
                EXPECT_EQ(Diag_GetECFirmwareVer2(text, 4), 0);
                break;
        }
        g_kernel = row.kernel;
        sim::Current().trace.Clear();
        Output();
        bool succeeded = false;
        if (row.chargeState) {
            const unsigned char state = Diag_GetBatteryChargeState();
            succeeded = state == chargeByte && ProviderReport().ecRamFileFailures == 0;
        } else {
            succeeded = Diag_GetECFirmwareVer2(text, sizeof text) == 1;
            EXPECT_EQ(succeeded, std::string(text) == "ZLKD 1.07.02");
        }
        const std::string output = Output();
        EXPECT_EQ(succeeded, row.succeeds);
        EXPECT_NE(output.find(row.line), std::string::npos) << output;
        EXPECT_EQ(g_kernel.bytesSentIntoIt, 0);
        EXPECT_EQ(g_kernel.answersTaken, 0);
        const sim::Trace& trace = sim::Current().trace;
        const int ecWrites =
            trace.Count(sim::Event::Kind::PortWrite, 0x66) + trace.Count(sim::Event::Kind::PortWrite, 0x62);
        EXPECT_EQ(ecWrites, row.ecWrites);
        EXPECT_LE(trace.SleepTotalMs(), kEndsWithinMs);
        Diag_FreeHWIO();
        StopCapture();
    }
}

// The kernel starts an exchange between the status read that showed the
// EC free and the byte that followed it: that byte is held back, and the
// rest of its exchange is dropped (writes not sent, reads unanswered,
// nothing from the data port), until the next command starts afresh.
TEST_F(ProviderEcFileTest, ByteTheEcIsNotReadyForIsHeldBackWithTheRestOfItsExchange) {
    const sim::Trace& trace = sim::Current().trace;
    // The firmware version command, beside the ec_sys file.
    g_kernel = KernelExchange{1, 1};  // busy at the status read right before our command
    UsePorts(KernelIn, KernelOut);
    ASSERT_EQ(init_(), 1);
    sim::Current().trace.Clear();
    EXPECT_EQ(in_(0x66), 0x00);
    out_(0x66, 0xA1);
    EXPECT_EQ(trace.Count(sim::Event::Kind::PortWrite, 0x66), 0);
    EXPECT_EQ(ProviderReport().rawEcBytesHeldBack, 1u);
    EXPECT_EQ(ProviderReport().rawEcCommands, 0u);
    EXPECT_EQ(in_(0x66) & kObf, 0);  // no answer comes
    EXPECT_EQ(in_(0x62), 0xFF);
    out_(0x62, 0x10);
    EXPECT_EQ(trace.Count(sim::Event::Kind::PortRead, 0x62), 0);
    EXPECT_EQ(trace.Count(sim::Event::Kind::PortWrite, 0x62), 0);
    out_(0x66, 0xA1);  // the next command, with the EC free
    EXPECT_EQ(trace.Count(sim::Event::Kind::PortWrite, 0x66), 1);
    EXPECT_EQ(FirmwareText(), "ZLKD 1.07.02");
    deinit_();

    // An EC RAM write on the raw ports (no ec_sys file): the kernel starts
    // between our command and its index.
    std::filesystem::remove(EcIoPath());
    const std::uint8_t before = sim::Current().ec.Ram(0xD2);
    // Free for the opening status read, our command's and the wait's; busy
    // at the index's.
    g_kernel = KernelExchange{3, 1};
    ASSERT_EQ(init_(), 1);
    sim::Current().trace.Clear();
    EXPECT_EQ(in_(0x66), 0x00);
    out_(0x66, 0x81);
    EXPECT_EQ(in_(0x66) & kIbf, 0);
    out_(0x62, 0xD2);
    EXPECT_EQ(in_(0x66) & kIbf, 0);
    out_(0x62, static_cast<std::uint8_t>(~before));
    EXPECT_EQ(trace.Count(sim::Event::Kind::PortWrite, 0x66), 1);
    EXPECT_EQ(trace.Count(sim::Event::Kind::PortWrite, 0x62), 0);
    EXPECT_EQ(sim::Current().ec.Ram(0xD2), before);
    EXPECT_EQ(ProviderReport().rawEcBytesHeldBack, 1u);
    EXPECT_EQ(g_kernel.bytesSentIntoIt, 0);
}

// Physical memory is /dev/mem at offset = address, and only while
// InitializeOls has granted access, as the ports are.
TEST_F(ProviderEcFileTest, PhysicalMemoryIsDevMemAtTheAddressOnlyWhileInitialised) {
    constexpr std::uint32_t kMemSize = 0x3000;
    Bytes memory(kMemSize);
    for (std::uint32_t i = 0; i < kMemSize; ++i) memory[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    WriteBytes(root_ + kDevMem, memory);
    enum class Binding { NotInitialised, Initialised, InitialisationFailed, Deinitialised };
    struct Row {
        const char* name;
        Binding binding;
        std::uint32_t address;
        std::uint32_t count;
        std::uint32_t unitSize;
        std::uint32_t copied;
    };
    const Row rows[] = {
        {"before InitializeOls", Binding::NotInitialised, 0x100, 16, 1, 0},
        {"after a refused InitializeOls", Binding::InitialisationFailed, 0x100, 16, 1, 0},
        {"after DeinitializeOls", Binding::Deinitialised, 0x100, 16, 1, 0},
        {"at 0", Binding::Initialised, 0, 16, 1, 16},
        {"at an offset", Binding::Initialised, 0x1234, 0x40, 1, 0x40},
        {"in units of 4", Binding::Initialised, 0x2000, 32, 4, 32},
        {"running past the end: short", Binding::Initialised, kMemSize - 10, 32, 1, 10},
        {"at the end", Binding::Initialised, kMemSize, 16, 1, 0},
        {"past the end", Binding::Initialised, kMemSize + 0x1000, 16, 1, 0},
        {"no whole unit", Binding::Initialised, 0, 6, 4, 0},
    };
    constexpr std::uint8_t kUntouched = 0xEE;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(root_ + "/sys/kernel/security/lockdown");
        if (row.binding == Binding::InitialisationFailed) {
            WriteFile(root_ + "/sys/kernel/security/lockdown", "none [integrity] confidentiality\n");
            ASSERT_EQ(init_(), 0);
        } else if (row.binding != Binding::NotInitialised) {
            ASSERT_EQ(init_(), 1);
            if (row.binding == Binding::Deinitialised) deinit_();
        }
        Bytes buffer(row.count + 8, kUntouched);
        EXPECT_EQ(readMemory_(row.address, buffer.data(), row.count, row.unitSize), row.copied);
        Bytes expected(row.count + 8, kUntouched);
        std::copy_n(memory.begin() + std::min(row.address, kMemSize), row.copied, expected.begin());
        EXPECT_EQ(buffer, expected);
        deinit_();
    }
}

// The library's BIOS-area scan through the provider: a /dev/mem that ends
// before the table does gives a short read, which the library takes as
// failed; one that ends inside the BIOS area fails the scan.
TEST_F(HardwareTest, ShortPhysicalMemoryReadFailsTheScan) {
    Bytes area(sim::kBiosAreaSize);
    ASSERT_EQ(sim::Current().memory.Read(sim::kBiosAreaBase, area.data(), sim::kBiosAreaSize), sim::kBiosAreaSize);
    std::uint16_t count = 0;
    const Bytes table = sim::MachineTable(sim::MachineIdentity{}, count);
    struct Row {
        const char* name;
        std::uint64_t size;  // of /dev/mem
        const char* line;
        const char* product;
    };
    const std::string tableShort = "ReadPhysicalMemory error! ret_len = " + std::to_string(table.size() - 100) + "\n";
    const Row rows[] = {
        {"whole", sim::kTableAddress + table.size(), "", "Quorvex Aero 14 K5402"},
        {"ending 100 bytes before the table's end", sim::kTableAddress + table.size() - 100, tableShort.c_str(), ""},
        {"ending inside the BIOS area", sim::kBiosAreaBase + 0x8000, "Failed to read DMI memory!\n", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResetLibrary();
        const std::string mem = root_ + kDevMem;
        std::filesystem::remove(mem);
        WriteBytesAt(mem, sim::kBiosAreaBase, area);
        WriteBytesAt(mem, sim::kTableAddress, table);
        std::filesystem::resize_file(mem, row.size);
        platform::testing::OverrideModulePath("WinRing0.dll", kProvider);
        Capture();
        Diag_FillDMIData(true);
        char product[64] = {};
        Diag_GetProductName(product, sizeof product);
        const std::string output = Output();
        StopCapture();
        EXPECT_NE(output.find(row.line), std::string::npos) << output;
        EXPECT_STREQ(product, row.product);
    }
}

// The shipped provider reads the machine's own files whatever the
// environment says (earlier builds took every path under
// HWTK3_SYSFS_ROOT), and has no testing entry point; the test build,
// pointed at the same fake tree and the notebook's ports through that
// entry point, shows what each check sees when a seam reads there. Run in children, so that a provider
// that does get port access on this machine keeps it out of the test
// process.
TEST_F(HardwareTest, ShippedProviderHasNoTestSeam) {
    const Bytes marker = {'n', 'o', 't', ' ', 'p', 'h', 'y', 's', 'i', 'c', 'a', 'l'};
    WriteBytes(root_ + kDevMem, marker);
    const std::string machineLockdown = Hwtk3KernelLockdownMode("");
    constexpr int kReadFakeLockdown = 1;
    constexpr int kReadFakeMemory = 2;
    struct Row {
        const char* name;
        const char* provider;
        bool lockdownFile;
        int reads;
    };
    const Row rows[] = {
        {"shipped, fake lockdown file", kShippedProvider, true, 0},
        {"shipped, fake /dev/mem", kShippedProvider, false, 0},
        {"test build, fake lockdown file", kProvider, true, machineLockdown == "integrity" ? 0 : kReadFakeLockdown},
        {"test build, fake /dev/mem", kProvider, false, kReadFakeMemory},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string lockdown = root_ + "/sys/kernel/security/lockdown";
        std::filesystem::remove(lockdown);
        if (row.lockdownFile) WriteFile(lockdown, "none [integrity] confidentiality\n");
        void* provider = dlopen(row.provider, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(provider, nullptr) << dlerror();
        std::fflush(stdout);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("HWTK3_SYSFS_ROOT", root_.c_str(), 1);
            const auto seam =
                reinterpret_cast<Hwtk3ProviderUseFakeMachineFn>(dlsym(provider, kHwtk3ProviderTestingEntry));
            if (seam != nullptr) seam(root_.c_str(), NotebookIn, NotebookOut);
            const auto init = reinterpret_cast<int (*)()>(dlsym(provider, "InitializeOls"));
            const auto read = reinterpret_cast<std::uint32_t (*)(std::uintptr_t, std::uint8_t*, std::uint32_t,
                                                                 std::uint32_t)>(dlsym(provider, "ReadPhysicalMemory"));
            const auto report =
                reinterpret_cast<void (*)(Hwtk3ProviderReport*)>(dlsym(provider, "Hwtk3ProviderGetReport"));
            init();
            Hwtk3ProviderReport account{};
            report(&account);
            Bytes bytes(marker.size());
            const bool memory = read(0, bytes.data(), static_cast<std::uint32_t>(bytes.size()), 1) == bytes.size() &&
                                bytes == marker;
            _exit((account.lockdown != machineLockdown ? kReadFakeLockdown : 0) | (memory ? kReadFakeMemory : 0));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        dlclose(provider);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), row.reads);
    }

    // Exactly the six entry points and the report (no testing entry
    // point), and nothing that reads the environment. An unoptimised build
    // also exports the standard library's templates it instantiated.
    const auto symbols = [](const std::string& options) {
        std::set<std::string> names;
        std::FILE* pipe = popen(("nm -D " + options + " " + kShippedProvider + " 2>/dev/null").c_str(), "r");
        if (pipe == nullptr) return names;
        char line[1024];
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            std::string text(line);
            text.erase(text.find_last_not_of("\n") + 1);
            std::string name = text.substr(text.rfind(' ') + 1);
            name = name.substr(0, name.find('@'));
            bool standard = false;
            for (const char* prefix :
                 {"_ZSt", "_ZNSt", "_ZNKSt", "_ZZNSt", "_ZZNKSt", "_ZN9__gnu_cxx", "_ZNK9__gnu_cxx"}) {
                standard = standard || name.rfind(prefix, 0) == 0;
            }
            if (!standard) names.insert(name);
        }
        pclose(pipe);
        return names;
    };
    const std::set<std::string> defined = symbols("--defined-only");
    EXPECT_EQ(defined, (std::set<std::string>{"DeinitializeOls", "GetDllStatus", "Hwtk3ProviderGetReport",
                                              "InitializeOls", "ReadIoPortByte", "ReadPhysicalMemory",
                                              "WriteIoPortByte"}));
    const std::set<std::string> used = symbols("--undefined-only");
    EXPECT_FALSE(used.empty());
    EXPECT_EQ(used.count("getenv") + used.count("secure_getenv"), 0u);
}

// A machine with none of it, as in a container, and no privilege: the
// sequence with its report lines, summary and JSON as the program prints
// them, in a child that gave up root.
TEST(HardwareProgramTest, EmptyMachineWithoutPrivilegeSkipsOrFailsEveryStepInBoundedTime) {
    char pattern[] = "/tmp/hwtk3-empty-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    chmod(pattern, 0755);
    const std::string root = pattern;
    const std::string lines = root + "/report.txt";
    std::FILE* out = std::fopen(lines.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(out), STDERR_FILENO);
        diag::testing::UseMachineAt(root, "");
        Options options;
        options.hardware = true;
        options.ec = true;
        options.chargeSwitch = true;
        std::string error;
        if (!diag::PrepareMachine(options, error)) _exit(101);
        const Report report = diag::RunSequence(options, stdout);
        std::printf("%s%s\n%s\n", diag::ChannelLines(report).c_str(), diag::SummaryLine(report).c_str(),
                    diag::ToJson(report).c_str());
        std::fflush(stdout);
        _exit(diag::ExitStatus(report));
    }
    std::fclose(out);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_LT(seconds, 10.0);
    const std::string text = ReadText(lines);
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

// hwtk3-diag itself reads the machine's own files whatever the environment
// says: the fake notebook's identity and battery never show.
TEST_F(HardwareTest, ProgramIgnoresTheOldRootVariable) {
    InstallMachine();
    const std::string command =
        "HWTK3_SYSFS_ROOT=" + root_ + " " HWTK3_BIN_DIR "/hwtk3-diag --hardware --steps machine,battery 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    for (int c = std::fgetc(pipe); c != EOF; c = std::fgetc(pipe)) text += static_cast<char>(c);
    pclose(pipe);
    EXPECT_NE(text.find(">> ---- machine check"), std::string::npos) << text;
    EXPECT_EQ(text.find(sim::MachineIdentity{}.product), std::string::npos) << text;
    EXPECT_EQ(text.find("4400 mAh"), std::string::npos) << text;
    EXPECT_EQ(text.find(root_), std::string::npos) << text;
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
