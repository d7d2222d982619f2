// How long loading hwtk3.dll takes (with what it imports: the C++ runtime
// DLLs and VQMITF.dll), measured inside one process so that the start-up
// of the process itself does not count: LoadLibraryA("hwtk3.dll") timed
// with the performance counter, then a lookup of one Visual C++ export.
// Prints "hwtk3.dll load: N us" and exits 0, or 1 when the DLL does not load.
// Built like the Visual C++ host: no system headers, no C runtime.
extern "C" {
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __declspec(noreturn) __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __stdcall QueryPerformanceCounter(long long* count);
__declspec(dllimport) int __stdcall QueryPerformanceFrequency(long long* frequency);
}

namespace {

void Write(const char* text) {
    unsigned long length = 0;
    while (text[length] != '\0') ++length;
    unsigned long written = 0;
    WriteFile(GetStdHandle(static_cast<unsigned long>(-11)), text, length, &written, nullptr);
}

// Decimal text of a 32-bit number (no 64-bit division: no runtime helpers).
const char* Decimal(unsigned int value, char* buffer) {
    char* end = buffer + 11;
    *end = '\0';
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

}  // namespace

extern "C" void __cdecl LoadTimeMain() {
    long long frequency = 0, before = 0, after = 0;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    void* module = LoadLibraryA("hwtk3.dll");
    QueryPerformanceCounter(&after);
    if (module == nullptr || GetProcAddress(module, "?Diag_InitHWIO@@YAHXZ") == nullptr) {
        Write("hwtk3.dll does not load\r\n");
        ExitProcess(1);
    }
    // The counter's frequency and the counts of a load fit 32 bits
    // (Windows and Wine count at 10 MHz or less).
    const unsigned int perSecond = static_cast<unsigned int>(frequency);
    const unsigned int perMicrosecond = perSecond / 1000000 > 0 ? perSecond / 1000000 : 1;
    const unsigned int micros = static_cast<unsigned int>(after - before) / perMicrosecond;
    char digits[12];
    Write("hwtk3.dll load: ");
    Write(Decimal(micros, digits));
    Write(" us\r\n");
    ExitProcess(0);
}
