#include <cstdio>

#include "sim/clock.h"
#include "sim/trace.h"

namespace hwtk3::sim {

std::uint64_t Clock::NowMs() const {
    if (!real_) return virtualMs_;
    const auto elapsed = std::chrono::steady_clock::now() - realStart_;
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void Clock::UseRealTime(bool real) {
    real_ = real;
    realStart_ = std::chrono::steady_clock::now();
}

std::string Describe(const Event& event) {
    char line[64];
    switch (event.kind) {
        case Event::Kind::PortRead:
            std::snprintf(line, sizeof line, "in %x %02x", event.a, event.b);
            break;
        case Event::Kind::PortWrite:
            std::snprintf(line, sizeof line, "out %x %02x", event.a, event.b);
            break;
        case Event::Kind::Sleep:
            std::snprintf(line, sizeof line, "sleep %u", event.a);
            break;
        case Event::Kind::PhysicalRead:
            std::snprintf(line, sizeof line, "phys %x %u", event.a, event.b);
            break;
        case Event::Kind::Call:
            return event.note;
    }
    return line;
}

std::vector<std::string> Trace::Lines() const {
    std::vector<std::string> lines;
    for (const Event& event : events_) {
        if (event.kind != Event::Kind::Call) lines.push_back(Describe(event));
    }
    return lines;
}

std::vector<std::string> Trace::PortLines() const {
    std::vector<std::string> lines;
    for (const Event& event : events_) {
        if (event.kind == Event::Kind::PortRead || event.kind == Event::Kind::PortWrite) {
            lines.push_back(Describe(event));
        }
    }
    return lines;
}

std::vector<std::uint32_t> Trace::Sleeps() const {
    std::vector<std::uint32_t> sleeps;
    for (const Event& event : events_) {
        if (event.kind == Event::Kind::Sleep) sleeps.push_back(event.a);
    }
    return sleeps;
}

std::uint64_t Trace::SleepTotalMs() const {
    std::uint64_t total = 0;
    for (std::uint32_t ms : Sleeps()) total += ms;
    return total;
}

int Trace::PortAccesses() const {
    int count = 0;
    for (const Event& event : events_) {
        if (event.kind == Event::Kind::PortRead || event.kind == Event::Kind::PortWrite) ++count;
    }
    return count;
}

int Trace::Count(Event::Kind kind, std::uint32_t port) const {
    int count = 0;
    for (const Event& event : events_) {
        if (event.kind == kind && event.a == port) ++count;
    }
    return count;
}

}  // namespace hwtk3::sim
