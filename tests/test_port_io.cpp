// The port-I/O binding beyond the trace tables (tests/test_traces.cpp,
// which hold its three states and every row of its failure table): a
// module served from inside the process, and the real Linux provider
// without the privilege.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "hwio/port_io.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using platform::testing::ModuleReferences;
using platform::testing::OverrideModulePath;

class BindingTest : public NotebookTest {
protected:
    // Diag_InitHWIO through `provider` in a child that gave up root.
    void RunProviderWithoutPrivilege(const std::string& provider);
};

// A module served from inside the process (how the fuzz targets reach a
// port-I/O library): bound, used and released like a loaded one, refused
// like one when an entry point is missing, and gone when withdrawn.
TEST_F(BindingTest, ModuleServedInProcessStandsInForTheLibrary) {
    static int deinitializeCalls = 0;
    struct Entry {
        const char* name;
        platform::ProcAddress address;
    };
    static const Entry entries[] = {
        {"GetDllStatus", reinterpret_cast<platform::ProcAddress>(+[]() -> platform::DWORD { return 0; })},
        {"InitializeOls", reinterpret_cast<platform::ProcAddress>(+[]() -> platform::BOOL { return 1; })},
        {"DeinitializeOls", reinterpret_cast<platform::ProcAddress>(+[] { ++deinitializeCalls; })},
        {"ReadIoPortByte", reinterpret_cast<platform::ProcAddress>(+[](std::uint16_t port) {
             return static_cast<std::uint8_t>(port);
         })},
        {"WriteIoPortByte", reinterpret_cast<platform::ProcAddress>(+[](std::uint16_t, std::uint8_t) {})},
        {"ReadPhysicalMemory",
         reinterpret_cast<platform::ProcAddress>(+[](std::uintptr_t address, std::uint8_t* buffer,
                                                     platform::DWORD count, platform::DWORD) {
             for (platform::DWORD i = 0; i < count; ++i) buffer[i] = static_cast<std::uint8_t>(address + i);
             return count;
         })},
    };
    using platform::testing::ServeModuleInProcess;
    ServeModuleInProcess("WinRing0.dll", [](const char* name) -> platform::ProcAddress {
        for (const Entry& e : entries) {
            if (std::strcmp(e.name, name) == 0) return e.address;
        }
        return nullptr;
    });
    Capture();
    ASSERT_EQ(Diag_InitHWIO(), 1);
    EXPECT_EQ(ModuleReferences("WinRing0.dll"), 1);
    EXPECT_EQ(hwio::ReadPort(0x66), 0x66);
    std::uint8_t bytes[3] = {};
    EXPECT_EQ(hwio::ReadPhysicalMemory(0xF0010, bytes, 3), 3u);
    EXPECT_EQ(bytes[2], 0x12);
    Diag_FreeHWIO();
    EXPECT_EQ(ModuleReferences("WinRing0.dll"), 0);
    EXPECT_EQ(deinitializeCalls, 1);
    EXPECT_EQ(nb().driver.initializeCalls, 0);  // the stand-in on disk was never loaded

    ServeModuleInProcess("WinRing0.dll", [](const char* name) -> platform::ProcAddress {
        if (std::strcmp(name, "ReadPhysicalMemory") == 0) return nullptr;
        for (const Entry& e : entries) {
            if (std::strcmp(e.name, name) == 0) return e.address;
        }
        return nullptr;
    });
    Output();
    EXPECT_EQ(Diag_InitHWIO(), 0);
    EXPECT_EQ(Output(), "preparing to initialize WinRing0\nFailed to GetProcAddress\nFailed to init WinRing0!\n");

    ServeModuleInProcess("WinRing0.dll", nullptr);
    EXPECT_EQ(Diag_InitHWIO(), 1);
    EXPECT_EQ(nb().driver.initializeCalls, 1);
    Diag_FreeHWIO();
}

// A copy of a file in a folder of its own under /tmp that every user can
// enter and read; the folder goes with the object.
class ReadableCopy {
public:
    explicit ReadableCopy(const std::string& source) {
        char pattern[] = "/tmp/hwtk3-provider-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        folder_ = pattern;
        const std::string copy = folder_ + "/" + std::filesystem::path(source).filename().string();
        std::error_code error;
        if (chmod(folder_.c_str(), 0755) != 0 || !std::filesystem::copy_file(source, copy, error) ||
            chmod(copy.c_str(), 0644) != 0) {
            return;
        }
        path_ = copy;
    }
    ~ReadableCopy() {
        std::error_code error;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
    }
    ReadableCopy(const ReadableCopy&) = delete;
    ReadableCopy& operator=(const ReadableCopy&) = delete;

    const std::string& folder() const { return folder_; }
    // Empty when the copy could not be made.
    const std::string& path() const { return path_; }

private:
    std::string folder_;
    std::string path_;
};

// The real Linux provider, without the privilege for port I/O, must fail
// through InitializeOls and never fault. Run in a child that gave up root;
// the child loads a copy the unprivileged user can reach, wherever the
// build tree lies (a checkout in a folder only its owner may enter, too).
TEST_F(BindingTest, RealProviderWithoutPrivilegeFailsCleanly) {
    std::string folder;
    {
        const ReadableCopy provider(HWTK3_LIB_DIR "/libWinRing0.so");
        ASSERT_FALSE(provider.path().empty()) << "cannot copy the provider into " << provider.folder();
        folder = provider.folder();
        RunProviderWithoutPrivilege(provider.path());
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
}

void BindingTest::RunProviderWithoutPrivilege(const std::string& provider) {
    OverrideModulePath("WinRing0.dll", provider.c_str());
    Capture();
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        const int bound = Diag_InitHWIO();
        std::fflush(stdout);
        _exit(bound == 0 && !hwio::HwioReady() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Output(), "preparing to initialize WinRing0\nFailed to init WinRing0!\n");
}

}  // namespace
}  // namespace hwtk3::test
