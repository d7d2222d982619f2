// The structure-table walk of dmi_table on arbitrary bytes: the first two
// bytes are the structure count, the rest is the table as copied out of
// physical memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "smbios/dmi_decode.h"

namespace {
constexpr std::size_t kCountBytes = 2;
constexpr std::size_t kLargestTable = 0xFFFF;  // the entry points' u16 length
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return std::freopen("/dev/null", "w", stdout) == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kCountBytes || size - kCountBytes > kLargestTable) return 0;
    const auto count = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
    const std::size_t length = size - kCountBytes;
    // A copy of exactly the table's size, writable as dmi_table's own copy.
    std::unique_ptr<std::uint8_t[]> table(new std::uint8_t[length != 0 ? length : 1]);
    if (length != 0) std::memcpy(table.get(), data + kCountBytes, length);
    hwtk3::smbios::decode_table(table.get(), length, count);
    return 0;
}
