// Identity queries and the machine check. MachineType is the platform
// selector the fan and charge-control code test, 0 against not 0.
#ifndef HWTK3_SMBIOS_IDENTITY_H
#define HWTK3_SMBIOS_IDENTITY_H

#include <cstddef>
#include <cstdint>

namespace hwtk3::smbios {

// 0 at load; set only by a successful Diag_CheckMachine.
std::int32_t MachineType();

// The product name the last Diag_CheckMachine reported: 256 bytes, not
// necessarily terminated.
constexpr std::size_t kModelNameSize = 256;
const char* ModelName();

namespace testing {
// Lets the fan and battery tests pick a platform without a machine check.
void SetMachineType(std::int32_t type);
// MachineType 0 and an empty model name, as at load.
void ResetIdentity();
}  // namespace testing

}  // namespace hwtk3::smbios

#endif  // HWTK3_SMBIOS_IDENTITY_H
