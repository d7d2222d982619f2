// Every export: open the device, evaluate its one method, decode the
// result, pause, close. The pause runs whatever the method's outcome, so
// the firmware gets the same settling time after a failed call.
#include "acpi/acpi_controls.h"

#include "include/hwtk3.h"
#include "platform/platform.h"

namespace hwtk3::acpi {
namespace {

constexpr const char kMsgWlanSupported[] = "acpi wlan supported\n";
constexpr const char kMsgBluetoothSupported[] = "acpi bluetooth supported\n";
constexpr const char kMsgCameraSupported[] = "acpi camera supported\n";

constexpr platform::DWORD kNoDelay = 0;
constexpr std::uint32_t kByteMask = 0xFF;
constexpr unsigned kCpuModeHighShift = 8;

// The host's unsigned long is 64 bits wide on LP64 Linux; the firmware
// takes 32.
constexpr std::uint64_t kMaxCpuMode = 0xFFFFFFFFu;

std::uint32_t PowerArgument(unsigned char field) { return field != 0 ? 1u : 0u; }

// Open, evaluate, decode, pause, close. `decode(value, called)` writes the
// outputs and yields the export's result; `called` is false when the
// channel delivered no result.
//
// The device lock is held from the open to the close, across the delay:
// another host thread's control call waits rather than closing the handle
// this one is using.
template <typename Decode>
bool RunControl(std::uint32_t method, bool hasArgument, std::uint32_t argument, platform::DWORD delayMs,
                Decode decode) {
    AcpiDeviceLock lock;
    if (!OpenAcpiDevice()) return false;
    bool called = false;
    const std::uint32_t value = EvalAcpiMethod(method, hasArgument, argument, &called);
    const bool ok = decode(value, called);
    if (delayMs != kNoDelay) platform::Sleep(delayMs);
    CloseAcpiDevice();
    return ok;
}

// Commands succeed when the firmware answers nonzero.
bool RunCommand(std::uint32_t method, std::uint32_t argument) {
    return RunControl(method, true, argument, kControlDelayMs,
                      [](std::uint32_t value, bool) { return value != 0; });
}

// Radio and camera power queries: on only for exactly 1. A call that
// delivered nothing is a failure, not "off".
bool RunPowerQuery(std::uint32_t method, unsigned char& field) {
    return RunControl(method, false, 0, kPowerQueryDelayMs, [&field](std::uint32_t value, bool called) {
        if (!called) return false;
        field = value == kPowerOn ? 1 : 0;
        return true;
    });
}

}  // namespace

std::uint32_t EvalAcpiMethod(std::uint32_t methodName, bool hasArgument, std::uint32_t argument,
                             bool* succeeded) {
    AcpiDeviceLock lock;  // the handle stays open until the call returns
    if (succeeded != nullptr) *succeeded = false;
    const platform::HANDLE handle = AcpiDeviceHandle();
    if (handle == nullptr) return 0;
    std::uint32_t result = 0;
    const bool ok = CallAcpiMethod(handle, methodName, hasArgument, argument, result);
    if (succeeded != nullptr) *succeeded = ok;
    return ok ? result : 0;
}

}  // namespace hwtk3::acpi

using namespace hwtk3;
using acpi::RunCommand;

// Null output pointers are refused before the device is touched, so a
// careless host gets false instead of a crash (Diag_GetACPISupportMethods
// only skips the write through one).

bool Diag_GetPanelBrightness(unsigned char* brightness) {
    if (brightness == nullptr) return false;
    return acpi::RunControl(acpi::kMethodPBLG, false, 0, acpi::kControlDelayMs,
                            [brightness](std::uint32_t value, bool called) {
                                if (!called) return false;
                                *brightness = static_cast<unsigned char>(value & acpi::kByteMask);
                                return true;
                            });
}

bool Diag_SetPanelBrightness(unsigned char brightness) {
    return RunCommand(acpi::kMethodPBLS, brightness);
}

bool Diag_GetCPUMode(unsigned char* high, unsigned char* low) {
    if (high == nullptr || low == nullptr) return false;
    return acpi::RunControl(acpi::kMethodCFVG, false, 0, acpi::kControlDelayMs,
                            [high, low](std::uint32_t value, bool) {
                                if (value == 0) return false;
                                *high = static_cast<unsigned char>(value >> acpi::kCpuModeHighShift &
                                                                   acpi::kByteMask);
                                *low = static_cast<unsigned char>(value & acpi::kByteMask);
                                return true;
                            });
}

bool Diag_SetCPUMode(unsigned long mode) {
    // A wider value would reach the firmware cut down to a different mode.
    if (static_cast<std::uint64_t>(mode) > acpi::kMaxCpuMode) return false;
    return RunCommand(acpi::kMethodCFVS, static_cast<std::uint32_t>(mode));
}

bool Diag_SetWifiState(tDiagWifiBTPowerState* state) {
    if (state == nullptr) return false;
    return RunCommand(acpi::kMethodWLDS, acpi::PowerArgument(state->bWifi));
}

bool Diag_GetWifiState(tDiagWifiBTPowerState* state) {
    if (state == nullptr) return false;
    return acpi::RunPowerQuery(acpi::kMethodWLDG, state->bWifi);
}

bool Diag_SetBTState(tDiagWifiBTPowerState* state) {
    if (state == nullptr) return false;
    return RunCommand(acpi::kMethodBTHS, acpi::PowerArgument(state->bBT));
}

bool Diag_GetBTState(tDiagWifiBTPowerState* state) {
    if (state == nullptr) return false;
    return acpi::RunPowerQuery(acpi::kMethodBTHG, state->bBT);
}

bool Diag_SetCamState(tDiagWifiBTPowerState* state) {
    if (state == nullptr) return false;
    return RunCommand(acpi::kMethodCAMS, acpi::PowerArgument(state->bCam));
}

bool Diag_GetCamState(tDiagWifiBTPowerState* state) {
    if (state == nullptr) return false;
    return acpi::RunPowerQuery(acpi::kMethodCAMG, state->bCam);
}

// Only ever sets outputs to true: a control the firmware does not list
// keeps the caller's value. A null output is only not written: the query,
// its lines and the other outputs are the same as with valid pointers.
bool Diag_GetACPISupportMethods(bool* wlan, bool* bluetooth, bool* camera) {
    const auto report = [](const char* line, bool* output) {
        platform::PutText(line);
        if (output != nullptr) *output = true;
    };
    return acpi::RunControl(acpi::kMethodCMSG, false, 0, acpi::kNoDelay,
                            [=](std::uint32_t bits, bool called) {
                                if (!called) return false;
                                if ((bits & acpi::kCapabilityWlan) != 0) report(acpi::kMsgWlanSupported, wlan);
                                if ((bits & acpi::kCapabilityBluetooth) != 0) {
                                    report(acpi::kMsgBluetoothSupported, bluetooth);
                                }
                                if ((bits & acpi::kCapabilityCamera) != 0) report(acpi::kMsgCameraSupported, camera);
                                return true;
                            });
}
