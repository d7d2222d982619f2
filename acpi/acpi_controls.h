// Panel brightness, CPU mode, radio and camera power, and the firmware's
// list of supported power controls: one ACPI method per export, each inside
// its own open and close of the control device.
#ifndef HWTK3_ACPI_ACPI_CONTROLS_H
#define HWTK3_ACPI_ACPI_CONTROLS_H

#include <cstdint>

#include "acpi/acpi_channel.h"

namespace hwtk3::acpi {

// Query names end in G, command names in S.
constexpr std::uint32_t kMethodPBLG = PackMethodName("PBLG");  // panel brightness
constexpr std::uint32_t kMethodPBLS = PackMethodName("PBLS");
constexpr std::uint32_t kMethodCFVG = PackMethodName("CFVG");  // CPU mode
constexpr std::uint32_t kMethodCFVS = PackMethodName("CFVS");
constexpr std::uint32_t kMethodWLDG = PackMethodName("WLDG");  // wireless LAN power
constexpr std::uint32_t kMethodWLDS = PackMethodName("WLDS");
constexpr std::uint32_t kMethodBTHG = PackMethodName("BTHG");  // Bluetooth power
constexpr std::uint32_t kMethodBTHS = PackMethodName("BTHS");
constexpr std::uint32_t kMethodCAMG = PackMethodName("CAMG");  // camera power
constexpr std::uint32_t kMethodCAMS = PackMethodName("CAMS");
constexpr std::uint32_t kMethodCMSG = PackMethodName("CMSG");  // supported power controls
static_assert(kMethodPBLS == 0x534C4250u && kMethodCFVG == 0x47564643u && kMethodCFVS == 0x53564643u &&
                  kMethodWLDG == 0x47444C57u && kMethodWLDS == 0x53444C57u && kMethodBTHG == 0x47485442u &&
                  kMethodBTHS == 0x53485442u && kMethodCAMG == 0x474D4143u && kMethodCAMS == 0x534D4143u &&
                  kMethodCMSG == 0x47534D43u,
              "method names");

// Capability bits of "CMSG"; the others are ignored.
constexpr std::uint32_t kCapabilityWlan = 0x01;
constexpr std::uint32_t kCapabilityBluetooth = 0x02;
constexpr std::uint32_t kCapabilityCamera = 0x10;

// Pause before closing the device: after a command or a brightness or CPU
// mode query, and after a radio or camera power query.
constexpr platform::DWORD kControlDelayMs = 50;
constexpr platform::DWORD kPowerQueryDelayMs = 100;

// Radio and camera power queries report on only for exactly this value.
constexpr std::uint32_t kPowerOn = 1;

// Evaluates one method on the open device; 0 when no device is open or the
// call fails. `succeeded`, when given, tells whether the channel delivered
// a result, so a failed call can be told from a genuine 0.
std::uint32_t EvalAcpiMethod(std::uint32_t methodName, bool hasArgument, std::uint32_t argument,
                             bool* succeeded = nullptr);

}  // namespace hwtk3::acpi

#endif  // HWTK3_ACPI_ACPI_CONTROLS_H
