// What the library did to the virtual notebook, in order: port reads and
// writes, pauses, physical-memory reads, and the calls it made into the
// notebook's drivers and services. Tests compare exact sequences.
#ifndef HWTK3_SIM_TRACE_H
#define HWTK3_SIM_TRACE_H

#include <cstdint>
#include <string>
#include <vector>

namespace hwtk3::sim {

struct Event {
    enum class Kind { PortRead, PortWrite, Sleep, PhysicalRead, Call };
    Kind kind;
    std::uint32_t a;  // port, pause in ms, or physical address
    std::uint32_t b;  // byte read or written, or byte count
    std::uint64_t atMs;
    // Call: what was called and what it answered ("InitializeOls -> 1").
    // PhysicalRead: the count copied, when it fell short of the request.
    std::string note = {};
    // How far the host's output had got when the event happened (see
    // SetOutputMark), so a test can place the library's lines among them.
    std::uint64_t outputMark = 0;
};

class Trace {
public:
    void Record(Event::Kind kind, std::uint32_t a, std::uint32_t b, std::uint64_t atMs) {
        events_.push_back(Event{kind, a, b, atMs});
        if (mark_ != nullptr) events_.back().outputMark = mark_();
    }
    // A call into one of the notebook's drivers or services.
    void Note(const std::string& text, std::uint64_t atMs) {
        Record(Event::Kind::Call, 0, 0, atMs);
        events_.back().note = text;
    }
    void Clear() { events_.clear(); }
    const std::vector<Event>& Events() const { return events_; }
    std::vector<Event>& Events() { return events_; }

    // Asked at every event for the host's output position (the bytes it
    // has written to standard output so far); nullptr: not asked.
    using OutputMark = std::uint64_t (*)();
    void SetOutputMark(OutputMark mark) { mark_ = mark; }

    // "out 66 80", "in 62 41", "sleep 10", "phys f0000 65535": one line per
    // event, hexadecimal ports and bytes, decimal pauses and counts. The
    // calls are left out here and below.
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
    OutputMark mark_ = nullptr;
};

// One event as Lines() writes it; a call as its note.
std::string Describe(const Event& event);

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_TRACE_H
