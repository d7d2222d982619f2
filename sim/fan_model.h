// The cooling fan and CPU temperature of the virtual notebook, as the EC
// presents them in one of four register maps:
//
//   Zlkd         commands 0x23 (tachometer), 0x24 (target), 0x2D
//                (temperature) on 0x68/0x6C; 12-bit inverted counts
//   Amd          EC RAM 0xF451 (temperature), 0xF466/0xF467 (tachometer),
//                0xF46A/0xF46B (target); 12-bit inverted counts
//   Pwm          EC RAM 0xF451 (temperature), 0xF463 (setting 0-100),
//                0xF466/0xF467 (RPM), 0xF4D3 bit 1 (manual)
//   MachineType  commands 0x84 (duty), 0x90 (temperature), 0x94/0x95
//                (Fan0 control flag) on 0x25C/0x25D; EC RAM 0x181F/0x181E
//                (plain tachometer count)
//
// A new target, setting or duty moves the fan linearly from its speed at
// that moment to the new speed over `settleMs` of the notebook's clock;
// from then on the tachometer reads exactly what the target asked for.
#ifndef HWTK3_SIM_FAN_MODEL_H
#define HWTK3_SIM_FAN_MODEL_H

#include <cstdint>
#include <optional>

#include "sim/clock.h"
#include "sim/ec_model.h"

namespace hwtk3::sim {

class FanModel {
public:
    enum class Map { Zlkd, Amd, Pwm, MachineType };

    // Starts with the ZLKD map, the fan settled at kIdleRpm.
    FanModel(EcModel& ec, Clock& clock);
    FanModel(const FanModel&) = delete;
    FanModel& operator=(const FanModel&) = delete;

    // Puts the fan behind another register map (the EC commands of the old
    // one are withdrawn); the fan keeps turning as it was.
    void Install(Map map);
    Map Installed() const { return map_; }

    // Speed of the fan now, and the speed it is heading for.
    double Rpm() const;
    double TargetRpm() const { return toRpm_; }

    // The raw 16-bit value the tachometer registers of the installed map
    // answer with (for the PWM map the RPM itself).
    std::uint16_t TachometerValue() const;

    static constexpr double kIdleRpm = 2400.0;
    // Settle time of a speed change.
    std::uint32_t settleMs = 2000;
    // CPU temperature in degrees; the machine-type EC reports it as a signed
    // byte, the others as an unsigned one.
    int cpuTemperature = 45;
    // Fixes the tachometer registers to this raw value, whatever the fan does.
    std::optional<std::uint16_t> tachometerOverride;
    // Machine-type Fan0 control flag: bit 7 set means the EC runs the fan.
    std::uint8_t fan0ControlFlag = 0x85;
    // Last machine-type duty received.
    std::uint8_t fan0Duty = 120;

private:
    void Command(double rpm);
    std::uint8_t TemperatureByte() const { return static_cast<std::uint8_t>(cpuTemperature); }
    void WithdrawCommands();

    EcModel& ec_;
    Clock& clock_;
    Map map_ = Map::Zlkd;
    double fromRpm_ = kIdleRpm;
    double toRpm_ = kIdleRpm;
    std::uint64_t changedAtMs_ = 0;
};

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_FAN_MODEL_H
