// Our GetSystemFirmwareTable over the kernel's SMBIOS files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing.h"
#include "sim/smbios_builder.h"

namespace hwtk3::test {
namespace {

using platform::DWORD;
using GetTableFn = DWORD(HWTK3_WINAPI*)(DWORD, DWORD, void*, DWORD);
constexpr DWORD kRsmb = 0x52534D42;

class FirmwareTableFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hwtk3-dmi-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        platform::testing::SetFirmwareTableDirectory(dir_.c_str());
        platform::HMODULE kernel32 = platform::LoadLibraryA("C:\\Windows\\system32\\kernel32.dll");
        ASSERT_NE(kernel32, nullptr);
        get_ = reinterpret_cast<GetTableFn>(platform::GetProcAddress(kernel32, "GetSystemFirmwareTable"));
        ASSERT_NE(get_, nullptr);
    }
    void TearDown() override {
        platform::testing::SetFirmwareTableDirectory(nullptr);
        std::remove((dir_ + "/smbios_entry_point").c_str());
        std::remove((dir_ + "/DMI").c_str());
        std::remove(dir_.c_str());
    }
    void Write(const char* name, const sim::Bytes& bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    std::string dir_;
    GetTableFn get_ = nullptr;
};

TEST_F(FirmwareTableFilesTest, AnswersLikeWindowsFromTheKernelFiles) {
    std::uint16_t count = 0;
    const sim::Bytes table = sim::MachineTable(sim::MachineIdentity{}, count);
    Write("DMI", table);
    struct Case {
        const char* name;
        sim::Bytes entry;
        std::uint8_t major, minor, revision;
    };
    sim::Bytes sm3 = {'_', 'S', 'M', '3', '_', 0, 0x18, 3, 4, 1, 1, 0};
    sm3.resize(0x18, 0);
    // Written to the 2.1 document's length of 0x1E; the kernel publishes
    // those 0x1E bytes.
    sim::Bytes sm21 = sim::SmbiosEntryPoint(2, 1, 0x1000, static_cast<std::uint16_t>(table.size()), count);
    sm21.resize(0x1E);
    sm21[5] = 0x1E;
    const Case cases[] = {
        {"_SM_ 2.8", sim::SmbiosEntryPoint(2, 8, 0x1000, static_cast<std::uint16_t>(table.size()), count), 2, 8, 0},
        {"_SM_ 2.1 of 0x1E bytes", sm21, 2, 1, 0},
        {"_SM3_ 3.4", sm3, 3, 4, 1},
        {"_DMI_ 2.1", sim::LegacyEntryPoint(0x1000, 10, 1, 0x21), 2, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Write("smbios_entry_point", c.entry);
        const DWORD size = get_(kRsmb, 0, nullptr, 0);
        ASSERT_EQ(size, table.size() + 8);
        EXPECT_EQ(platform::GetLastError(), platform::kErrorInsufficientBuffer);
        std::vector<std::uint8_t> answer(size + 4, 0xEE);
        EXPECT_EQ(get_(kRsmb, 0, answer.data(), size - 1), size);  // too small: nothing written
        EXPECT_EQ(answer[0], 0xEE);
        // Exactly the size the first call gave: the whole answer, nothing past it.
        std::vector<std::uint8_t> exact(size + 1, 0xEE);
        ASSERT_EQ(get_(kRsmb, 0, exact.data(), size), size);
        EXPECT_EQ(exact[size], 0xEE);
        exact.resize(size);
        ASSERT_EQ(get_(kRsmb, 0, answer.data(), size + 4), size);
        EXPECT_EQ(sim::Bytes(answer.begin(), answer.begin() + size), exact);
        EXPECT_EQ(answer[1], c.major);
        EXPECT_EQ(answer[2], c.minor);
        EXPECT_EQ(answer[3], c.revision);
        EXPECT_EQ(sim::Bytes(answer.begin() + 8, answer.begin() + size), table);
        EXPECT_EQ(answer[4] | (answer[5] << 8), static_cast<int>(table.size()));
        EXPECT_EQ(answer[size], 0xEE);
    }
}

TEST_F(FirmwareTableFilesTest, FailsWithoutTheFilesOrForOtherProviders) {
    EXPECT_EQ(get_(kRsmb, 0, nullptr, 0), 0u);
    Write("smbios_entry_point", {'_', 'X', 'X', '_'});
    Write("DMI", {127, 4, 0, 0, 0, 0});
    EXPECT_EQ(get_(kRsmb, 0, nullptr, 0), 0u);  // unknown entry point
    Write("smbios_entry_point", sim::LegacyEntryPoint(0x1000, 6, 1, 0x24));
    EXPECT_EQ(get_(0x41435049 /* 'ACPI' */, 0, nullptr, 0), 0u);
    EXPECT_EQ(get_(kRsmb, 0, nullptr, 0), 14u);
}

}  // namespace
}  // namespace hwtk3::test
