// Test fixture shared by the suites: a fresh virtual notebook, the
// library's pauses diverted to its virtual clock, the stand-in port-I/O
// library in place of "WinRing0.dll", and the library's standard output
// captured.
#ifndef HWTK3_TESTS_SUPPORT_H
#define HWTK3_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "include/hwtk3.h"
#include "platform/testing.h"
#include "sim/notebook.h"
#include "sim/smbios_builder.h"
#include "tests/fresh_library.h"

namespace hwtk3::test {

// Holds hwtk3-diag JSON reports to tools/hwtk3-diag.schema.json (Debian's
// python3-jsonschema, all documents in one run); false with what was wrong
// with which document.
bool ValidReports(const std::vector<std::string>& documents, std::string& errors);

inline const char kStandinPath[] = HWTK3_SIM_DIR "/libWinRing0.so";
inline const char kPartialStandinPath[] = HWTK3_SIM_DIR "/libWinRing0WithoutReadPhysicalMemory.so";

class NotebookTest : public ::testing::Test {
protected:
    void SetUp() override {
        notebook_ = &sim::ResetCurrent();
        UseNotebookClock();
        platform::testing::OverrideModulePath("WinRing0.dll", kStandinPath);
        platform::testing::SetFirmwareTableHost(&sim::FirmwareHost());
    }
    void TearDown() override {
        StopCapture();
        platform::testing::SetSleepHook(nullptr, nullptr);
        platform::testing::OverrideModulePath("WinRing0.dll", nullptr);
        platform::testing::SetFirmwareTableHost(nullptr);
    }

    sim::Notebook& nb() { return *notebook_; }

    // Brings the binding up quietly and forgets what that did.
    void Bind() {
        Capture();
        ASSERT_EQ(Diag_InitHWIO(), 1);
        Output();
        nb().trace.Clear();
    }

    void Capture() {
        std::fflush(stdout);
        ::testing::internal::CaptureStdout();
        capturing_ = true;
    }
    // What the library printed since Capture(); capturing goes on.
    std::string Output() {
        std::fflush(stdout);
        std::string text = ::testing::internal::GetCapturedStdout();
        ::testing::internal::CaptureStdout();
        return text;
    }
    void StopCapture() {
        if (!capturing_) return;
        std::fflush(stdout);
        ::testing::internal::GetCapturedStdout();
        capturing_ = false;
    }

private:
    sim::Notebook* notebook_ = nullptr;
    bool capturing_ = false;
};

}  // namespace hwtk3::test

#endif  // HWTK3_TESTS_SUPPORT_H
