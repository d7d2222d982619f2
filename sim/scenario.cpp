#include "sim/scenario.h"

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
