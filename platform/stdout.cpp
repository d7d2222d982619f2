// The library's progress lines. Each one is flushed as soon as it is
// printed: standard output that is a file or a pipe is fully buffered, and
// a host with a C runtime of its own (a Visual C++ host always has one), or
// one that writes to the standard output handle directly, would otherwise
// see our lines long after its own. Flushing is all we do to the stream:
// its buffering is the host's to choose, and a MinGW host shares it.
#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace hwtk3::platform {

void Printf(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

void PutText(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace hwtk3::platform
