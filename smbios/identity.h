// Identity queries and the machine check. MachineType is the platform
// selector the fan and charge-control code test, 0 against not 0.
#ifndef HWTK3_SMBIOS_IDENTITY_H
#define HWTK3_SMBIOS_IDENTITY_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace hwtk3::smbios {

// 0 at load; set only by a successful Diag_CheckMachine. Read without a
// lock, so an EC session may ask for it under the binding lock (the
// identity record's lock comes before that one).
std::int32_t MachineType();

// The product name the last Diag_CheckMachine reported: 256 bytes, not
// necessarily terminated; copied under the identity record's lock.
constexpr std::size_t kModelNameSize = 256;
std::array<char, kModelNameSize> ModelName();

namespace testing {
// Lets the fan and battery tests pick a platform without a machine check.
void SetMachineType(std::int32_t type);
// MachineType 0 and an empty model name, as at load.
void ResetIdentity();
}  // namespace testing

}  // namespace hwtk3::smbios

#endif  // HWTK3_SMBIOS_IDENTITY_H
