// Time of the virtual notebook. In virtual mode it moves only when the
// library pauses (the tests divert Sleep to Advance), so the library's
// seconds of pauses cost nothing; in real mode it follows the steady clock,
// for the stand-in DLLs that the real library drives under Wine.
#ifndef HWTK3_SIM_CLOCK_H
#define HWTK3_SIM_CLOCK_H

#include <chrono>
#include <cstdint>

namespace hwtk3::sim {

class Clock {
public:
    std::uint64_t NowMs() const;
    void Advance(std::uint32_t milliseconds) { virtualMs_ += milliseconds; }
    void UseRealTime(bool real);
    bool RealTime() const { return real_; }

private:
    bool real_ = false;
    std::uint64_t virtualMs_ = 0;
    std::chrono::steady_clock::time_point realStart_{};
};

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_CLOCK_H
