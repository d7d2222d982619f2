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
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fresh_library.h"
#include "tests/support.h"

namespace hwtk3::test {

namespace {

// Validates every line of argv[2] against the schema in argv[1].
constexpr const char kValidator[] = R"(
import json, sys
import jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
bad = 0
for number, line in enumerate(open(sys.argv[2]), 1):
    try:
        document = json.loads(line)
    except ValueError as error:
        print("document %d is not JSON: %s" % (number, error)); bad += 1; continue
    for error in validator.iter_errors(document):
        print("document %d at /%s: %s" % (number, "/".join(str(p) for p in error.absolute_path), error.message)); bad += 1
sys.exit(1 if bad else 0)
)";

}  // namespace

bool ValidReports(const std::vector<std::string>& documents, std::string& errors) {
    char path[] = "/tmp/hwtk3-reports-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return errors = "no temporary file", false;
    std::FILE* file = fdopen(fd, "w");
    for (const std::string& document : documents) std::fprintf(file, "%s\n", document.c_str());
    std::fclose(file);
    // Debian's interpreter, where setup installs python3-jsonschema.
    const std::string command = "/usr/bin/python3 -c '" + std::string(kValidator) + "' '" HWTK3_SOURCE_DIR
                                "/tools/hwtk3-diag.schema.json' " + path + " 2>&1";
    errors.clear();
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return errors = "cannot run python3", false;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) errors += buffer;
    const int status = pclose(pipe);
    std::remove(path);
    return status == 0;
}

}  // namespace hwtk3::test

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
