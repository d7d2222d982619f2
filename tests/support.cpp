// Two listeners for every test of the suite.
//
// The library's state is process-wide by design (binding, firmware text,
// identity record, machine type). Each test starts from the state of a
// freshly loaded library, so the suite gives the same results whether ctest
// runs each test in a process of its own or one process runs them all.
//
// The library's standard output is captured during the tests, and
// GoogleTest reports failures on standard output too: echo every failure to
// standard error as well, so none is lost in a capture.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/fresh_library.h"

namespace {

class FreshLibrary : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        hwtk3::test::ResetLibrary();
        hwtk3::test::RemoveStandIns();
    }
};

class FailuresToStderr : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed()) return;
        std::fprintf(stderr, "%s:%d: failure\n%s\n", result.file_name() ? result.file_name() : "?",
                     result.line_number(), result.summary());
    }
};

const bool g_registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshLibrary);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresToStderr);
    return true;
}();

}  // namespace
