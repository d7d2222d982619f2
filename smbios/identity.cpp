// Identity queries and the machine check.
#include "smbios/identity.h"

#include "include/hwtk3.h"

namespace hwtk3::smbios {
namespace {
std::int32_t g_machineType = 0;
}  // namespace

std::int32_t MachineType() { return g_machineType; }

namespace testing {
void SetMachineType(std::int32_t type) { g_machineType = type; }
}  // namespace testing

}  // namespace hwtk3::smbios

int Diag_GetMachineType(void) { return hwtk3::smbios::MachineType(); }
