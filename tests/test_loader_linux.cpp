// Where libhwtk3.so finds the port-I/O library when nothing overrides the
// path: the folder that holds libhwtk3.so itself comes before the ordinary
// dynamic-loader search.
#include <dlfcn.h>
#include <link.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/notebook.h"

namespace hwtk3::test {
namespace {

namespace fs = std::filesystem;

constexpr char kPortIoFile[] = "libWinRing0.so";

// The files of every loaded object called libWinRing0.so, resolved.
std::vector<std::string> LoadedPortIoLibraries() {
    std::vector<std::string> paths;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (!name.empty() && fs::path(name).filename() == kPortIoFile) {
                static_cast<std::vector<std::string>*>(data)->push_back(fs::canonical(name).string());
            }
            return 0;
        },
        &paths);
    std::sort(paths.begin(), paths.end());
    return paths;
}

class LibraryFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hwtk3-loader-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = fs::canonical(pattern);
        sim::ResetCurrent();
    }
    void TearDown() override {
        if (library_ != nullptr) dlclose(library_);
        if (elsewhere_ != nullptr) dlclose(elsewhere_);
        fs::remove_all(root_);
    }

    fs::path root_;
    void* library_ = nullptr;
    void* elsewhere_ = nullptr;
};

TEST_F(LibraryFolderTest, PortIoLibraryBesideTheSharedLibraryComesFirst) {
    // An installation: libhwtk3.so and the notebook's port-I/O library in one
    // folder; another copy of that library in a second folder.
    const fs::path install = root_ / "install";
    const fs::path other = root_ / "other";
    fs::create_directories(install);
    fs::create_directories(other);
    const fs::path standin = fs::path(HWTK3_SIM_DIR) / kPortIoFile;
    fs::copy_file(fs::path(HWTK3_LIB_DIR) / "libhwtk3.so", install / "libhwtk3.so");
    fs::copy_file(standin, install / kPortIoFile);
    fs::copy_file(standin, other / kPortIoFile);

    // The ordinary search must yield another copy: a library already loaded
    // under its name is what dlopen("libWinRing0.so") returns (an earlier
    // test of this process may have loaded the build's own copy first).
    elsewhere_ = dlopen((other / kPortIoFile).c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(elsewhere_, nullptr) << dlerror();
    void* ordinary = dlopen(kPortIoFile, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(ordinary, nullptr);
    dlclose(ordinary);
    const std::vector<std::string> before = LoadedPortIoLibraries();
    ASSERT_EQ(std::count(before.begin(), before.end(), (install / kPortIoFile).string()), 0);

    library_ = dlopen((install / "libhwtk3.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    auto init = reinterpret_cast<int (*)()>(dlsym(library_, "_Z13Diag_InitHWIOv"));
    auto release = reinterpret_cast<void (*)()>(dlsym(library_, "_Z13Diag_FreeHWIOv"));
    ASSERT_NE(init, nullptr);
    ASSERT_NE(release, nullptr);

    ::testing::internal::CaptureStdout();
    const int bound = init();
    const std::vector<std::string> whileBound = LoadedPortIoLibraries();
    const int initializeCalls = sim::Current().driver.initializeCalls;
    release();
    const std::string output = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(bound, 1) << output;
    EXPECT_EQ(initializeCalls, 1);
    std::vector<std::string> expected = before;
    expected.push_back((install / kPortIoFile).string());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(whileBound, expected);
    // Released again: the copies loaded before are all that is left.
    EXPECT_EQ(LoadedPortIoLibraries(), before);
}

}  // namespace
}  // namespace hwtk3::test
