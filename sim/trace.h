// What the library did to the virtual notebook, in order: port reads and
// writes, pauses, physical-memory reads. Tests compare exact sequences.
#ifndef HWTK3_SIM_TRACE_H
#define HWTK3_SIM_TRACE_H

#include <cstdint>
#include <string>
#include <vector>

namespace hwtk3::sim {

struct Event {
    enum class Kind { PortRead, PortWrite, Sleep, PhysicalRead };
    Kind kind;
    std::uint32_t a;  // port, pause in ms, or physical address
    std::uint32_t b;  // byte read or written, or byte count
    std::uint64_t atMs;
};

class Trace {
public:
    void Record(Event::Kind kind, std::uint32_t a, std::uint32_t b, std::uint64_t atMs) {
        events_.push_back(Event{kind, a, b, atMs});
    }
    void Clear() { events_.clear(); }
    const std::vector<Event>& Events() const { return events_; }

    // "out 66 80", "in 62 41", "sleep 10", "phys f0000 65535": one line per
    // event, hexadecimal ports and bytes, decimal pauses and counts.
    std::vector<std::string> Lines() const;
    // Only the port accesses, as above.
    std::vector<std::string> PortLines() const;
    // Only the pauses, in ms.
    std::vector<std::uint32_t> Sleeps() const;
    std::uint64_t SleepTotalMs() const;
    int PortAccesses() const;
    // Port accesses to one port.
    int Count(Event::Kind kind, std::uint32_t port) const;

private:
    std::vector<Event> events_;
};

std::string Describe(const Event& event);

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_TRACE_H
