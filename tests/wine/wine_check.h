// Checks for the programs the Wine tests run against the real hwtk3.dll:
// each check prints a line, the program closes with "N passed, N failed"
// and exits non-zero when any check failed.
#ifndef HWTK3_TESTS_WINE_CHECK_H
#define HWTK3_TESTS_WINE_CHECK_H

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace wine_check {

inline int& Passed() { static int n = 0; return n; }
inline int& Failed() { static int n = 0; return n; }

inline void Check(bool ok, const char* what, const std::string& detail = "") {
    (ok ? Passed() : Failed())++;
    std::fprintf(stderr, "%s: %s%s%s\n", ok ? "ok" : "FAILED", what, detail.empty() ? "" : " -- ",
                 detail.c_str());
}

inline void CheckEqual(const std::string& actual, const std::string& expected, const char* what) {
    Check(actual == expected, what, actual == expected ? "" : "got [" + actual + "] want [" + expected + "]");
}

inline int Finish() {
    std::fprintf(stderr, "%d passed, %d failed\n", Passed(), Failed());
    return Failed() == 0 ? 0 : 1;
}

// Collects what the library prints on standard output (the library and
// the program share the C runtime's stdout).
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        saved_ = _dup(_fileno(stdout));
        std::tmpnam(path_);
        const int fd = _open(path_, _O_CREAT | _O_TRUNC | _O_RDWR | _O_BINARY, 0600);
        _dup2(fd, _fileno(stdout));
        _close(fd);
    }
    ~StdoutCapture() { Text(); }
    // Everything printed since the capture began; ends the capture.
    std::string Text() {
        if (saved_ < 0) return text_;
        std::fflush(stdout);
        _dup2(saved_, _fileno(stdout));
        _close(saved_);
        saved_ = -1;
        if (FILE* f = std::fopen(path_, "rb")) {
            char buffer[4096];
            std::size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text_.append(buffer, got);
            std::fclose(f);
        }
        std::remove(path_);
        return text_;
    }

private:
    int saved_ = -1;
    char path_[L_tmpnam + 16] = {};
    std::string text_;
};

}  // namespace wine_check

#endif  // HWTK3_TESTS_WINE_CHECK_H
