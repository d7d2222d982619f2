#include "sim/physical_memory.h"

namespace hwtk3::sim {

void PhysicalMemory::Write(std::uint32_t address, const void* bytes, std::uint32_t count) {
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t at = address + i;
        auto page = pages_.find(at / kPageSize);
        if (page == pages_.end()) {
            page = pages_.emplace(at / kPageSize, std::array<std::uint8_t, kPageSize>{}).first;
            page->second.fill(0xFF);
        }
        page->second[at % kPageSize] = in[i];
    }
}

void PhysicalMemory::Fill(std::uint32_t address, std::uint8_t value, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) Write(address + i, &value, 1);
}

std::uint32_t PhysicalMemory::Read(std::uint32_t address, std::uint8_t* out, std::uint32_t count) const {
    const std::uint64_t end = static_cast<std::uint64_t>(address) + count;
    if (faultySize != 0 && address < static_cast<std::uint64_t>(faultyBase) + faultySize &&
        faultyBase < end) {
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t at = address + i;
        auto page = pages_.find(at / kPageSize);
        out[i] = page == pages_.end() ? 0xFF : page->second[at % kPageSize];
    }
    return count;
}

}  // namespace hwtk3::sim
