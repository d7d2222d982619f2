// The virtual notebook's battery side: the battery class devices the
// battery status export finds and queries, and the charge-switch bytes of
// the EC with their faults.
#ifndef HWTK3_SIM_BATTERY_MODEL_H
#define HWTK3_SIM_BATTERY_MODEL_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/battery_class.h"
#include "platform/platform.h"
#include "platform/testing.h"
#include "sim/ec_model.h"

namespace hwtk3::sim {

// One device of the battery interface class, as its driver answers.
struct BatteryDevice {
    std::string path;
    std::uint32_t tag = 1;  // 0: the driver reports no battery in the slot
    platform::battery::BATTERY_INFORMATION information{};
    platform::battery::BATTERY_STATUS status{};
    // Faults. The first five strike in the Setup API: enumerating this
    // interface, asking for the size of its detail (fails, or answers a
    // size too small for the record), allocating the detail buffer, and
    // fetching the detail.
    bool enumFails = false;
    bool detailSizeQueryFails = false;
    bool detailSizeShort = false;
    bool detailAllocationFails = false;
    bool detailFails = false;
    bool openFails = false;
    bool tagQueryFails = false;
    bool informationQueryFails = false;
    bool statusQueryFails = false;
    // What was asked of it.
    int tagQueries = 0;
    int informationQueries = 0;
    int statusQueries = 0;
};

// The notebook's own battery: 11.1 V, 48840 mWh designed, 44400 mWh full,
// 22200 mWh left, discharging. `number` makes its device path unique.
BatteryDevice SystemBattery(int number);
// A UPS on the battery class: a system battery that is short-term.
BatteryDevice UpsBattery(int number);

class Batteries {
public:
    Batteries();  // one system battery

    std::vector<BatteryDevice> devices;
    bool deviceInfoSetFails = false;  // SetupDiGetClassDevsA fails

    // The Setup API failure for a step, as platform::testing::DeviceHost
    // asks for it (0: none). A LocalAlloc is for the device whose detail
    // size was asked for last.
    platform::DWORD SetupApiFault(platform::testing::DeviceHost::SetupApiStep step, platform::DWORD index);

    std::vector<std::string> Interfaces() const;
    bool Serves(const std::string& path) const;
    bool Owns(platform::HANDLE handle) const;

    platform::HANDLE Open(const std::string& path, platform::DWORD& error);
    platform::BOOL IoControl(platform::HANDLE handle, platform::DWORD code, const void* in, platform::DWORD inSize,
                             void* out, platform::DWORD outSize, platform::DWORD* bytesReturned,
                             platform::DWORD& error);
    platform::BOOL Close(platform::HANDLE handle);

    // Handle bookkeeping for the tests.
    int OpenHandles() const { return static_cast<int>(handles_.size()); }
    // The index of the device behind an open handle, or -1.
    int DeviceIndex(platform::HANDLE handle) const;
    int opens = 0;
    int closes = 0;
    int badHandleUses = 0;  // a query or close on a handle that is not open

private:
    std::map<std::uintptr_t, std::size_t> handles_;  // open handle -> device index
    std::uintptr_t nextHandle_;
    platform::DWORD lastDetailSizeIndex_ = 0;
};

// The two charge-switch bytes: EC RAM 0xD2 (reached on 0x62/0x66) and EC
// address 0x04F8 (on 0x25C/0x25D); bit 6 set means charging is off. The
// model takes over the EC's write commands on both channels so that a
// write of either byte meets the faults below; EC RAM stays the place the
// bytes live (Set and Value are shorthands for EcModel::Ram).
class ChargeSwitch {
public:
    static constexpr std::uint16_t kRamByte = 0xD2;
    static constexpr std::uint16_t kMachineTypeByte = 0x04F8;
    static constexpr std::uint16_t kBankIdAddress = 0xFF;
    static constexpr std::uint8_t kChargingOff = 0x40;
    static constexpr std::uint8_t kBankId = 2;

    explicit ChargeSwitch(EcModel& ec);
    ChargeSwitch(const ChargeSwitch&) = delete;
    ChargeSwitch& operator=(const ChargeSwitch&) = delete;

    void Set(std::uint16_t address, std::uint8_t value) { ec_.Ram(address) = value; }
    // The byte now, a change of bit 6 still on its way included once its
    // time has come.
    std::uint8_t Value(std::uint16_t address);
    int Writes(std::uint16_t address) const;  // since construction or ClearWrites
    void ClearWrites() { writes_ = {}; }

    // Faults. Bit 6 of a write takes effect from the n-th write of a byte
    // on (1: always; 0: never); earlier writes leave it as it was. The
    // bits of `flipOnWrite` are changed by the EC itself after each write.
    // A change of bit 6 shows only `takesEffectAfterMs` after its write (the
    // charger answers the EC slowly); a later write replaces it.
    int sticksFromWrite = 1;
    std::uint8_t flipOnWrite = 0;
    std::uint32_t takesEffectAfterMs = 0;

private:
    struct Pending {
        bool waiting = false;
        std::uint8_t bit = 0;
        std::uint64_t atMs = 0;
    };
    static int Slot(std::uint16_t address) { return address == kRamByte ? 0 : 1; }
    void Write(std::uint16_t address, std::uint8_t value);
    void Land(std::uint16_t address);

    EcModel& ec_;
    std::array<int, 2> writes_{};
    std::array<Pending, 2> pending_{};
};

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_BATTERY_MODEL_H
