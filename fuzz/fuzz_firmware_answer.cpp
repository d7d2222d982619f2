// The firmware path on an arbitrary answer of the firmware table service:
// fetch, structure and string lookups, and the copy into the record.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/testing.h"
#include "smbios/smbios_acquire.h"

namespace {

using hwtk3::platform::DWORD;

// Serves the fuzz input as the 'RSMB' answer.
class InputService : public hwtk3::platform::testing::FirmwareTableHost {
public:
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    bool Exported() override { return true; }
    DWORD GetTable(DWORD, DWORD, void* buffer, DWORD bufferSize, DWORD& error) override {
        if (size == 0) {
            error = 2;
            return 0;
        }
        if (buffer == nullptr || bufferSize < size) return static_cast<DWORD>(size);
        std::memcpy(buffer, data, size);
        return static_cast<DWORD>(size);
    }
};

InputService g_service;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The library's lines would only slow the run down.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
    hwtk3::platform::testing::SetFirmwareTableHost(&g_service);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    g_service.data = data;
    g_service.size = size;
    hwtk3::smbios::fill_from_firmware();

    // Every lookup, on a copy of exactly the input's size.
    hwtk3::smbios::SmbiosFirmwareTable table;
    if (!table.Adopt(data, size)) return 0;
    for (unsigned type = 0; type < 256; type += 17) {
        const std::uint8_t* s = table.FindStructure(static_cast<std::uint8_t>(type));
        if (s == nullptr) continue;
        for (unsigned index = 1; index < 256; index += 31) {
            if (const char* text = table.GetString(s + s[1], static_cast<std::uint8_t>(index))) {
                volatile std::size_t length = std::strlen(text);
                (void)length;
            }
        }
    }
    hwtk3::smbios::SystemInfoView system;
    table.ReadSystemInfo(system);
    hwtk3::smbios::BaseboardInfoView board;
    if (table.ReadBaseboardInfo(board)) {
        unsigned sum = 0;
        for (std::size_t i = 0; i < board.ContainedObjectHandlesPresent * 2; ++i) {
            sum += board.ContainedObjectHandles[i];
        }
        volatile unsigned sink = sum;
        (void)sink;
    }
    return 0;
}
