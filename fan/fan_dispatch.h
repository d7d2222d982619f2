// The fan test: Diag_FanCpu commands a fan speed, lets the fan settle and
// reads back fan speed and CPU temperature; Diag_FanCpuGetValue only reads.
// Both pick the register map afresh on every call.
#ifndef HWTK3_FAN_FAN_DISPATCH_H
#define HWTK3_FAN_FAN_DISPATCH_H

namespace hwtk3::fan {

enum class FanPath { MachineType, Zlkd, Pwm, Amd };

// A nonzero MachineType wins; otherwise the EC platform flag chooses between
// the EC maps (ZLKD when the firmware text read last carries the family tag,
// the PWM map when not) and the AMD map.
FanPath ChooseFanPath(bool ecPlatform);

}  // namespace hwtk3::fan

#endif  // HWTK3_FAN_FAN_DISPATCH_H
