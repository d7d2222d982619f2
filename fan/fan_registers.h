// Fan and CPU temperature registers of the four EC register maps the
// library knows: the AMD map behind the 0xFD61 window, the PWM fan map
// behind the 0x381 window, the ZLKD EC firmware on 0x68/0x6C, and the
// machine-type EC on 0x25C/0x25D. The exports are declared in
// include/hwtk3.h; the machine-type operations below are used by the fan
// test dispatch only.
#ifndef HWTK3_FAN_FAN_REGISTERS_H
#define HWTK3_FAN_FAN_REGISTERS_H

#include <cstdint>

namespace hwtk3::fan {

// Machine-type map. The dispatch calls these without testing the port-I/O
// binding itself, so each one tests it: while the binding is down they fail
// (false) without touching a port, printing or writing their output. A read
// the EC does not answer fails them without its line and output; the duty
// write prints its line once the byte went out and fails when the EC did
// not take it.
//
// Sends the low 8 bits of `duty` as the Fan0 duty.
bool MachineTypeDutyWrite(std::uint32_t duty);
// Fan speed in RPM from the plain 16-bit tachometer count (0 for no count).
bool MachineTypeTachometerRead(std::int32_t& rpm);
// CPU temperature, a signed byte.
bool MachineTypeTemperatureRead(std::int32_t& temperature);

}  // namespace hwtk3::fan

#endif  // HWTK3_FAN_FAN_REGISTERS_H
