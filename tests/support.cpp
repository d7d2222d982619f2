// The library's standard output is captured during the tests, and
// GoogleTest reports failures on standard output too: echo every failure to
// standard error as well, so none is lost in a capture.
#include <gtest/gtest.h>

#include <cstdio>

namespace {

class FailuresToStderr : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed()) return;
        std::fprintf(stderr, "%s:%d: failure\n%s\n", result.file_name() ? result.file_name() : "?",
                     result.line_number(), result.summary());
    }
};

const bool g_registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresToStderr);
    return true;
}();

}  // namespace
