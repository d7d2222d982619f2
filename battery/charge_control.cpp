// Diag_GetBatteryChargeState, Diag_SetBatteryChargeEnabled and
// Diag_IsBatteryChargeEnabled. The EC never confirms a write, so a switch
// counts as made only when a read-back shows it.
#include "battery/charge_control.h"

#include <cstdint>

#include "hwio/ec.h"
#include "hwio/port_io.h"
#include "include/hwtk3.h"
#include "platform/platform.h"
#include "smbios/identity.h"

namespace hwtk3::battery {
namespace {

constexpr const char kMsgSetCharging[] = "Set battery to charging state\n";
constexpr const char kMsgSetDischarging[] = "Set battery to discharging state\n";
constexpr const char kMsgOriginal4F8[] = "Ori. 0x4F8: 0x%X\n";
constexpr const char kMsgReadBack4F8[] = "Read back 0x4F8: 0x%X\n";
constexpr const char kMsgData4F8[] = "Data in 0x4F8: 0x%X\n";
constexpr const char kMsgOriginalD2[] = "Original data of address 0xD2 = 0x%X\n";
constexpr const char kMsgReadBackD2[] = "Read address 0xD2 back, value = 0x%X\n";
constexpr const char kMsgSuccessCharging[] = "Success !! battery is charging.\n";
constexpr const char kMsgSuccessDischarging[] = "Success !! battery is discharging.\n";
constexpr const char kMsgStillDischarging[] = "Fail !! battery is still discharging.\n";
constexpr const char kMsgStillCharging[] = "Fail !! battery is still charging.\n";
constexpr const char kMsgBankId[] = "EC RAM Bank ID: %u\n";
constexpr const char kMsgRetry[] = "Retry to write EC RAM again!\n";

// The switch byte with bit 6 for the wanted state, other bits as read.
std::uint8_t Switched(std::uint8_t byte, bool enable) {
    return enable ? static_cast<std::uint8_t>(byte & ~kChargingOffBit)
                  : static_cast<std::uint8_t>(byte | kChargingOffBit);
}

bool ShowsWanted(std::uint8_t byte, bool enable) { return ((byte & kChargingOffBit) == 0) == enable; }

// One write of EC address 0x04F8 and its read-back, all eight bits
// compared, as one EC session (nothing but the exchanges between them).
// The byte is written back only when the EC answered its read (the other
// seven bits are the EC's own); otherwise the attempt fails. A read-back
// the EC never answered is a failure too, whatever value it seems to
// carry. Each line reports a byte the EC answered, so an unanswered read
// prints none.
bool SwitchMachineType(bool enable) {
    ec::Session session;
    std::uint8_t original = 0;
    const bool answered = ec::Ec25CRead(kChargeSwitchAddress, original);
    if (answered) platform::Printf(kMsgOriginal4F8, original);
    const std::uint8_t wanted = Switched(original, enable);
    const bool written = answered && ec::Ec25CWrite(kChargeSwitchAddress, wanted);
    std::uint8_t readBack = 0;
    const bool readBackAnswered = ec::Ec25CRead(kChargeSwitchAddress, readBack);
    if (readBackAnswered) platform::Printf(kMsgReadBack4F8, readBack);
    return written && readBackAnswered && readBack == wanted;
}

bool SetMachineType(bool enable) {
    for (int attempt = 0; attempt < kSwitchAttempts; ++attempt) {
        if (SwitchMachineType(enable)) return true;
        platform::Sleep(kRetryPauseMs);
    }
    return false;
}

// Passes of one write and up to three read-backs of EC RAM 0xD2, the bank
// identifier after each failed pass. Every read here looks at OBF once, so
// that a slow EC's stale data port is neither written back (the other
// seven bits are firmware flags), nor taken for a read-back, nor printed as
// the EC's byte; a pass whose read the EC did not answer writes nothing and
// goes on with its read-backs. The read and the write are one EC session;
// each read-back and the bank read are one of their own, between the
// 1000 ms pauses.
bool SetEcRam(bool enable) {
    for (int pass = 0; pass < kPasses; ++pass) {
        if (pass > 0) {
            platform::Sleep(kRetryPauseMs);
            platform::PutText(kMsgRetry);
            platform::PutText(enable ? kMsgSetCharging : kMsgSetDischarging);
        }
        {
            ec::Session readModifyWrite;
            std::uint8_t original = 0;
            if (ec::Ec62ReadAnswered(kChargeSwitchRamIndex, original)) {
                platform::Printf(kMsgOriginalD2, original);
                ec::Ec62Write(kChargeSwitchRamIndex, Switched(original, enable));
            }
        }
        for (int readBack = 0; readBack < kReadBacksPerPass; ++readBack) {
            std::uint8_t value = 0;
            const bool answered = ec::Ec62ReadAnswered(kChargeSwitchRamIndex, value);
            if (answered) platform::Printf(kMsgReadBackD2, value);
            if (answered && ShowsWanted(value, enable)) {
                platform::PutText(enable ? kMsgSuccessCharging : kMsgSuccessDischarging);
                return true;
            }
            platform::PutText(enable ? kMsgStillDischarging : kMsgStillCharging);
            platform::Sleep(kRetryPauseMs);
        }
        std::uint8_t bank = 0;
        if (ec::Ec62ReadAnswered(kEcRamBankIdIndex, bank)) platform::Printf(kMsgBankId, static_cast<unsigned>(bank));
    }
    return false;
}

}  // namespace
}  // namespace hwtk3::battery

using namespace hwtk3;

// The published read: the data port 20 ms after the index, no OBF look.
// Nothing is read when the EC never took the command, and that is reported
// as the failure value 0, as with the binding down, not as a byte.
unsigned char Diag_GetBatteryChargeState(void) {
    if (!hwio::HwioReady()) return 0;
    std::uint8_t byte = 0;
    return ec::Ec62Read(battery::kChargeSwitchRamIndex, byte) ? byte : 0;
}

bool Diag_SetBatteryChargeEnabled(bool enabled) {
    if (!hwio::HwioReady()) return false;
    platform::PutText(enabled ? battery::kMsgSetCharging : battery::kMsgSetDischarging);
    return smbios::MachineType() != 0 ? battery::SetMachineType(enabled) : battery::SetEcRam(enabled);
}

bool Diag_IsBatteryChargeEnabled(void) {
    if (!hwio::HwioReady() || smbios::MachineType() == 0) return false;
    std::uint8_t byte = 0;
    if (!ec::Ec25CRead(battery::kChargeSwitchAddress, byte)) return false;
    platform::Printf(battery::kMsgData4F8, byte);
    return (byte & battery::kChargingOffBit) == 0;
}
