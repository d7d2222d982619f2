// Physical memory of the virtual notebook, sparse, in 4 KB pages. Bytes
// nobody wrote read as 0xFF, as an unbacked bus does.
#ifndef HWTK3_SIM_PHYSICAL_MEMORY_H
#define HWTK3_SIM_PHYSICAL_MEMORY_H

#include <array>
#include <cstdint>
#include <map>

namespace hwtk3::sim {

class PhysicalMemory {
public:
    void Write(std::uint32_t address, const void* bytes, std::uint32_t count);
    void Fill(std::uint32_t address, std::uint8_t value, std::uint32_t count);
    // Copies `count` bytes; returns how many were copied (fewer when the
    // range touches the faulty range below).
    std::uint32_t Read(std::uint32_t address, std::uint8_t* out, std::uint32_t count) const;

    // Reads touching [faultyBase, faultyBase + faultySize) copy nothing.
    std::uint32_t faultyBase = 0;
    std::uint32_t faultySize = 0;

private:
    static constexpr std::uint32_t kPageSize = 4096;
    std::array<std::uint8_t, kPageSize>& Page(std::uint32_t number);  // made on first use, all 0xFF
    std::map<std::uint32_t, std::array<std::uint8_t, kPageSize>> pages_;
};

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_PHYSICAL_MEMORY_H
