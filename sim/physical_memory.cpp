#include "sim/physical_memory.h"

#include <algorithm>

namespace hwtk3::sim {

// Page by page: a notebook is made for every case of the fault sweep, and
// each one fills the whole BIOS area.
void PhysicalMemory::Write(std::uint32_t address, const void* bytes, std::uint32_t count) {
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    while (count > 0) {
        const std::uint32_t offset = address % kPageSize;
        const std::uint32_t chunk = count < kPageSize - offset ? count : kPageSize - offset;
        std::copy(in, in + chunk, Page(address / kPageSize).begin() + offset);
        address += chunk;
        in += chunk;
        count -= chunk;
    }
}

void PhysicalMemory::Fill(std::uint32_t address, std::uint8_t value, std::uint32_t count) {
    while (count > 0) {
        const std::uint32_t offset = address % kPageSize;
        const std::uint32_t chunk = count < kPageSize - offset ? count : kPageSize - offset;
        std::fill_n(Page(address / kPageSize).begin() + offset, chunk, value);
        address += chunk;
        count -= chunk;
    }
}

std::array<std::uint8_t, PhysicalMemory::kPageSize>& PhysicalMemory::Page(std::uint32_t number) {
    auto page = pages_.find(number);
    if (page == pages_.end()) {
        page = pages_.emplace(number, std::array<std::uint8_t, kPageSize>{}).first;
        page->second.fill(0xFF);
    }
    return page->second;
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
