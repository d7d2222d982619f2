#include "sim/scenario.h"

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

}  // namespace hwtk3::sim
