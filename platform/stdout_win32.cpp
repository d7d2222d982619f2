// The library prints its progress lines through the C runtime's stdio of
// this DLL. A host may have a C runtime of its own (a Visual C++ host
// always has) or write to the standard output handle directly; when
// standard output is a file or a pipe our stream would be fully buffered
// and our lines would come out long after the host's. The C runtime has no
// line buffering, so our standard output is unbuffered from the moment the
// DLL is loaded: each printf reaches the handle before the export returns.
#include <cstdio>

namespace {

struct UnbufferedStdout {
    UnbufferedStdout() {
        std::fflush(stdout);
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    }
};

const UnbufferedStdout g_unbufferedStdout;

}  // namespace
