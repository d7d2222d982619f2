#include "sim/scenario.h"

#include <cstdlib>

#include "sim/smbios_builder.h"

namespace hwtk3::sim {
namespace {

void Default(Notebook&) {}
void InitializeFails(Notebook& n) { n.driver.initializeFails = true; }
void StatusError(Notebook& n) { n.driver.status = 4; }
void IbfStuck(Notebook& n) {
    for (auto& faults : n.ec.faults) faults.ibfStuck = true;
}
void ObfNever(Notebook& n) {
    for (auto& faults : n.ec.faults) faults.obfNever = true;
}
void FirmwareSilent(Notebook& n) { n.ec.firmwareSilentAfter = 4; }
void SlowEc(Notebook& n) { n.ec.latencyMs = 12; }
void FanPlatform(Notebook& n, FanModel::Map map, const char* firmware) {
    n.fan.Install(map);
    n.ec.firmwareVersion = firmware;
}
void NoBattery(Notebook& n) { n.batteries.devices.clear(); }
void UpsOnly(Notebook& n) { n.batteries.devices = {UpsBattery(1)}; }
void BatteryTagZero(Notebook& n) { n.batteries.devices.at(0).tag = 0; }
void BatteryInfoFails(Notebook& n) { n.batteries.devices.at(0).informationQueryFails = true; }
void BatteryStatusFails(Notebook& n) { n.batteries.devices.at(0).statusQueryFails = true; }
void BatteryUnknownCapacity(Notebook& n) {
    n.batteries.devices.at(0).status.Capacity = platform::battery::kUnknownCapacity;
}
void TwoBatteries(Notebook& n) {
    BatteryDevice second = SystemBattery(2);
    second.status.PowerState = platform::battery::kCharging | platform::battery::kPowerOnLine;
    second.status.Voltage = 7400;
    second.status.Capacity = 14800;
    second.information.DesignedCapacity = 29600;
    second.information.FullChargedCapacity = 29600;
    n.batteries.devices.push_back(second);
}
void ChargeNeverSticks(Notebook& n) { n.chargeSwitch.sticksFromWrite = 0; }
void ChargeSticksSecond(Notebook& n) { n.chargeSwitch.sticksFromWrite = 2; }
void ChargeSticksThird(Notebook& n) { n.chargeSwitch.sticksFromWrite = 3; }
void ChargeOtherBitFlips(Notebook& n) { n.chargeSwitch.flipOnWrite = 0x01; }
void AcpiAbsent(Notebook& n) { n.acpi.driver.faults.absent = true; }
void AcpiIoctlFails(Notebook& n) { n.acpi.driver.faults.ioControlFails = true; }
void AcpiSilent(Notebook& n) { n.acpi.driver.faults.silent = true; }
void AcpiLongReply(Notebook& n) {
    n.acpi.driver.faults.forceReply = true;
    n.acpi.driver.faults.replyDataLength = 101;
    n.acpi.driver.faults.replyData.assign(101, 0x5A);
}
void AcpiNoPowerControls(Notebook& n) { n.acpi.firmware.capabilities = 0x0C; }
void NbInvokeFails(Notebook& n) { n.acpi.objects.invokeFails = true; }
void HwrsBluetoothOnly(Notebook& n) { n.acpi.firmware.hardware = 0x100; }

void MachineType1(Notebook& n) {
    MachineIdentity id;
    id.boardSerial = "QVMB5402-0217A88";
    InstallMachine(n, id);
}
void Foreign(Notebook& n) {
    MachineIdentity id;
    id.manufacturer = "Hollin Systems Ltd.";
    id.product = "Hollin Traveller 13";
    id.boardManufacturer = "Hollin Systems Ltd.";
    id.boardSerial = "HS13-88301-Zelka";
    InstallMachine(n, id);
}
// An SMBIOS 2.0 BIOS: only a legacy "_DMI_" entry point; its service
// answer carries version 2.0.
void LegacyBios(Notebook& n) {
    std::uint16_t count = 0;
    const Bytes table = MachineTable(MachineIdentity{}, count, true);
    SmbiosLayout layout;
    layout.smbiosEntryPoint = false;
    layout.legacyEntryPoint = true;
    layout.major = 2;
    layout.minor = 0;
    layout.legacyRevision = 0x20;
    InstallSmbios(n, table, count, layout);
}
void TwoEntryPoints(Notebook& n) {
    std::uint16_t count = 0;
    const Bytes table = MachineTable(MachineIdentity{}, count);
    SmbiosLayout layout;
    layout.legacyEntryPoint = true;
    InstallSmbios(n, table, count, layout);
}
void BadChecksum(Notebook& n) {
    constexpr std::uint32_t kChecksumByte = kEntryPointAddress + 4;
    std::uint8_t checksum = 0;
    n.memory.Read(kChecksumByte, &checksum, 1);
    checksum = static_cast<std::uint8_t>(checksum + 1);
    n.memory.Write(kChecksumByte, &checksum, 1);
}
void NoSmbios(Notebook& n) {
    n.memory.Fill(kBiosAreaBase, 0, kBiosAreaSize);
    n.firmware.rsmb.clear();
}
void BiosUnreadable(Notebook& n) {
    n.memory.faultyBase = kBiosAreaBase;
    n.memory.faultySize = kBiosAreaSize;
}

}  // namespace

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> scenarios = {
        {"default", "Quorvex notebook, ZLKD EC firmware, everything working", Default},
        {"init-fails", "port-I/O driver: InitializeOls returns 0", InitializeFails},
        {"status-error", "port-I/O driver: GetDllStatus reports an error", StatusError},
        {"ibf-stuck", "EC never takes a byte on any command channel", IbfStuck},
        {"obf-never", "EC never hands out an answer byte", ObfNever},
        {"ec-fw-silent", "EC stops answering after 4 firmware-version bytes", FirmwareSilent},
        {"slow-ec", "EC takes 12 ms for every byte", SlowEc},
        {"machine-type-1", "Quorvex notebook whose board serial number lacks Zelka", MachineType1},
        {"foreign", "notebook of another manufacturer", Foreign},
        {"legacy-bios", "SMBIOS 2.0 BIOS with only a legacy _DMI_ entry point", LegacyBios},
        {"two-entry-points", "_SM_ entry point plus a bare legacy _DMI_ one", TwoEntryPoints},
        {"bad-checksum", "_SM_ entry point with a broken checksum", BadChecksum},
        {"no-smbios", "no entry point in the BIOS area, no firmware table", NoSmbios},
        {"bios-unreadable", "reads of the BIOS area fail", BiosUnreadable},
        {"zlkd", "fan and CPU temperature behind the ZLKD EC firmware (0x68/0x6C)",
         [](Notebook& n) { FanPlatform(n, FanModel::Map::Zlkd, "ZLKD 1.07.02"); }},
        {"pwm", "older EC: PWM fan setting in EC RAM behind the 0x381 window",
         [](Notebook& n) { FanPlatform(n, FanModel::Map::Pwm, "QX 1.02.11"); }},
        {"amd", "AMD platform: fan target and tachometer behind the 0xFD61 window",
         [](Notebook& n) { FanPlatform(n, FanModel::Map::Amd, "QA 2.01.00"); }},
        {"machine-type",
         "machine-type notebook: board serial without Zelka, Fan0 duty and control flag on 0x25C/0x25D",
         [](Notebook& n) {
             MachineType1(n);
             FanPlatform(n, FanModel::Map::MachineType, "QM 3.00.05");
         }},
        {"no-battery", "no battery class device", NoBattery},
        {"ups-only", "the only battery class device is a UPS", UpsOnly},
        {"battery-tag0", "the battery reports tag 0 (no battery in the slot)", BatteryTagZero},
        {"battery-info-fails", "the battery's information query fails", BatteryInfoFails},
        {"battery-status-fails", "the battery's status query fails", BatteryStatusFails},
        {"battery-unknown-capacity", "the battery reports its remaining capacity as unknown",
         BatteryUnknownCapacity},
        {"two-batteries", "a second battery, 7.4 V and charging, after the first", TwoBatteries},
        {"charge-never-sticks", "EC: the charge-switch bit never takes a write", ChargeNeverSticks},
        {"charge-sticks-second", "EC: the charge-switch bit takes only the second write on", ChargeSticksSecond},
        {"charge-sticks-third", "EC: the charge-switch bit takes only the third write on", ChargeSticksThird},
        {"charge-bit-flips", "EC: bit 0 of the charge-switch byte changes after every write", ChargeOtherBitFlips},
        {"acpi-absent", "no ACPI control driver", AcpiAbsent},
        {"acpi-ioctl-fails", "ACPI control driver fails every I/O control", AcpiIoctlFails},
        {"acpi-silent", "ACPI control driver succeeds without writing a reply", AcpiSilent},
        {"acpi-long-reply", "ACPI control driver replies with 101 data bytes", AcpiLongReply},
        {"acpi-no-power-controls", "firmware offers no radio or camera power control", AcpiNoPowerControls},
        {"nb-invoke-fails", "ACPI interface object fails every method", NbInvokeFails},
        {"hwrs-bt-only", "firmware reports Bluetooth but no wireless LAN", HwrsBluetoothOnly},
    };
    return scenarios;
}

bool ApplyScenarios(Notebook& notebook, const std::string& names) {
    std::size_t start = 0;
    while (start <= names.size()) {
        const std::size_t comma = names.find(',', start);
        const std::string name =
            names.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!name.empty()) {
            const Scenario* found = nullptr;
            for (const Scenario& scenario : Scenarios()) {
                if (name == scenario.name) found = &scenario;
            }
            if (found == nullptr) return false;
            found->apply(notebook);
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

std::string ApplyScenarioVariable(Notebook& notebook, const char* names) {
    const std::string all = names != nullptr ? names : "";
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t comma = all.find(',', start);
        const std::string name = all.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!ApplyScenarios(notebook, name)) {
            return all + " (unknown scenario \"" + name + "\": it and the names after it not applied)";
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return all.empty() ? "default" : all;
}

namespace {
std::string& StandinScenarioText() {
    static std::string text = "default";
    return text;
}
}  // namespace

Notebook& StandinNotebook() {
#if defined(HWTK3_SIM_STANDALONE)
    static bool configured = false;
    Notebook& notebook = Current();
    if (!configured) {
        configured = true;
        notebook.clock.UseRealTime(true);
        StandinScenarioText() = ApplyScenarioVariable(notebook, std::getenv(kScenarioVariable));
    }
    return notebook;
#else
    return Current();
#endif
}

const std::string& StandinScenario() {
    StandinNotebook();
    return StandinScenarioText();
}

}  // namespace hwtk3::sim
