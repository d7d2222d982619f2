// The notebook's ACPI side: a small firmware model answering the named
// control methods, the ACPI control driver that serves "\\.\ZORDACPI" to
// the library by I/O control, and the bookkeeping of the stand-in ACPI
// interface objects. The driver checks every request the way the real one
// must, so a malformed request fails here as it would on the machine.
#ifndef HWTK3_SIM_ACPI_DRIVER_H
#define HWTK3_SIM_ACPI_DRIVER_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/clock.h"

namespace hwtk3::sim {

// Packs an ACPI name as the library does: first character lowest.
constexpr std::uint32_t AcpiName(const char* name) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[3])) << 24;
}

// The control methods the firmware implements, and its state.
struct AcpiFirmware {
    static constexpr std::uint32_t kMaxBrightness = 100;
    static constexpr std::uint32_t kCapWlan = 0x01;
    static constexpr std::uint32_t kCapBluetooth = 0x02;
    static constexpr std::uint32_t kCapCamera = 0x10;

    std::uint32_t brightness = 60;    // "PBLG"/"PBLS", 0..kMaxBrightness
    std::uint32_t cpuMode = 1;        // "CFVG" bits 8-15, set by "CFVS"
    std::uint32_t cpuModeCount = 3;   // "CFVG" bits 0-7; "CFVS" takes 0..count-1
    bool wlanPower = true;            // "WLDG"/"WLDS"
    bool bluetoothPower = true;       // "BTHG"/"BTHS", and "BLED"
    bool cameraPower = true;          // "CAMG"/"CAMS"
    std::uint32_t capabilities = kCapWlan | kCapBluetooth | kCapCamera;  // "CMSG"
    std::uint32_t hardware = 0x180;   // "HWRS": 0x80 wireless LAN, 0x100 Bluetooth fitted

    // Methods that answer a fixed value instead, state untouched.
    std::map<std::uint32_t, std::uint32_t> forcedResults;

    // False for a method the firmware does not have.
    bool Evaluate(std::uint32_t method, bool hasArgument, std::uint32_t argument, std::uint32_t& value);
};

// One request as the driver received it.
struct AcpiDriverCall {
    platform::DWORD code = 0;
    platform::DWORD outSize = 0;
    std::vector<std::uint8_t> request;   // the input record, byte for byte
    std::vector<std::uint8_t> argument;  // the block read through its address
    bool accepted = false;               // well-formed and evaluated
    std::uint32_t method = 0;
    bool hasArgument = false;
    std::uint32_t argumentValue = 0;
    std::uint64_t atMs = 0;
};

struct AcpiDriverFaults {
    bool absent = false;          // the device does not exist
    bool ioControlFails = false;  // every I/O control fails
    bool silent = false;          // succeeds and writes nothing into the reply
    // Replaces the reply's first value: DataLength as given, then exactly
    // these data bytes (so the two can disagree).
    bool forceReply = false;
    std::uint16_t replyDataLength = 0;
    std::vector<std::uint8_t> replyData;
};

class AcpiDriver {
public:
    AcpiDriver(AcpiFirmware& firmware, Clock& clock) : firmware_(firmware), clock_(clock) {}

    AcpiDriverFaults faults;

    platform::HANDLE Open(platform::DWORD desiredAccess, platform::DWORD& error);
    platform::BOOL IoControl(platform::HANDLE device, platform::DWORD code, const void* in, platform::DWORD inSize,
                             void* out, platform::DWORD outSize, platform::DWORD* bytesReturned,
                             platform::DWORD& error);
    platform::BOOL Close(platform::HANDLE device);
    bool Owns(platform::HANDLE device) const { return open_.count(device) != 0; }

    // What the library did.
    int opens = 0;         // successful opens
    int failedOpens = 0;
    int closes = 0;
    int maxOpenHandles = 0;
    int OpenHandles() const { return static_cast<int>(open_.size()); }
    std::vector<AcpiDriverCall> calls;
    std::vector<std::uint64_t> closeTimesMs;

private:
    bool Parse(AcpiDriverCall& call, const void* in, platform::DWORD inSize, platform::DWORD& error);
    void WriteReply(std::uint32_t value, std::uint8_t* out, platform::DWORD outSize, platform::DWORD* bytesReturned);

    AcpiFirmware& firmware_;
    Clock& clock_;
    std::set<platform::HANDLE> open_;
    std::uintptr_t nextHandle_ = 0;
};

// The stand-in ACPI interface objects: which exist, what was asked of them.
struct AcpiInterfaceObjects {
    // Members that throw (std::runtime_error): the constructor (no object is
    // made), the destructor (after the object is gone), both InvokeMethod
    // overloads (after the call is recorded, nothing evaluated).
    bool constructorThrows = false;
    bool destructorThrows = false;
    bool invokeThrows = false;
    bool invokeFails = false;        // every InvokeMethod returns 0
    // What the command overload writes through its value pointer.
    unsigned long commandEcho = 0xA5A5A5A5ul;

    int constructed = 0;
    int destroyed = 0;
    int strayCalls = 0;  // on an object that is not alive
    std::set<const void*> live;
    struct Invocation {
        std::uint32_t method;
        bool hasArgument;
        std::uint32_t argument;
    };
    std::vector<Invocation> invocations;

    void Construct(const void* self);
    void Destroy(const void* self);
    int Invoke(AcpiFirmware& firmware, const void* self, std::uint32_t method, bool hasArgument,
               std::uint32_t argument, unsigned long* value);
};

struct AcpiModel {
    explicit AcpiModel(Clock& clock) : driver(firmware, clock) {}
    AcpiFirmware firmware;
    AcpiDriver driver;
    AcpiInterfaceObjects objects;
};

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_ACPI_DRIVER_H
