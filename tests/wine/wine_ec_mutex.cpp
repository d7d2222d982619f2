// Coexistence with other EC users: a second process holding
// "Global\Access_EC" delays an EC transaction of ours by at most the
// documented 50 ms, after which we go ahead and still get the right answer;
// a mutex its owner abandoned counts as ours.
#include <windows.h>

#include <cstring>
#include <string>

#include "include/hwtk3.h"
#include "tests/wine/wine_check.h"

using wine_check::Check;

namespace {

const char kReadyEvent[] = "hwtk3-test-holder-ready";
const char kDoneEvent[] = "hwtk3-test-holder-done";

// Holder: takes the mutex, says so, keeps it until told, then either
// releases it or dies holding it.
int Holder(bool abandon) {
    // The library made the mutex already: open it, then take it.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Global\\Access_EC");
    if (mutex == nullptr || WaitForSingleObject(mutex, 5000) != WAIT_OBJECT_0) return 3;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, kReadyEvent);
    HANDLE done = OpenEventA(SYNCHRONIZE, FALSE, kDoneEvent);
    if (mutex == nullptr || ready == nullptr || done == nullptr) return 3;
    SetEvent(ready);
    WaitForSingleObject(done, 30000);
    if (!abandon) ReleaseMutex(mutex);
    return 0;
}

HANDLE StartHolder(const char* mode) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" " + mode;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Reads the firmware text; its duration in ms.
double TimedRead(std::string& text) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    char version[32] = {};
    wine_check::StdoutCapture out;
    QueryPerformanceCounter(&start);
    const int ok = Diag_GetECFirmwareVer2(version, 31);
    QueryPerformanceCounter(&end);
    out.Text();
    text = ok == 1 ? version : "";
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) return Holder(std::strcmp(argv[1], "--abandon") == 0);

    {
        wine_check::StdoutCapture out;
        Check(Diag_InitHWIO() == 1, "bound");
    }
    std::string text;
    const double free = TimedRead(text);
    Check(text == "ZLKD 1.07.02", "firmware text with nobody else on the EC");

    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, kReadyEvent);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, kDoneEvent);
    HANDLE holder = StartHolder("--hold");
    Check(holder != nullptr && WaitForSingleObject(ready, 20000) == WAIT_OBJECT_0, "other process holds the EC");
    const double held = TimedRead(text);
    Check(text == "ZLKD 1.07.02", "right answer while another process holds the EC");
    Check(held >= 45.0 && held <= free + 500.0, "waited for the other process, boundedly",
          std::to_string(held) + " ms (free: " + std::to_string(free) + " ms)");
    SetEvent(done);
    WaitForSingleObject(holder, 20000);
    CloseHandle(holder);

    ResetEvent(ready);
    ResetEvent(done);
    holder = StartHolder("--abandon");
    Check(holder != nullptr && WaitForSingleObject(ready, 20000) == WAIT_OBJECT_0, "other process takes the EC");
    SetEvent(done);
    WaitForSingleObject(holder, 20000);  // it exits still holding the mutex
    CloseHandle(holder);
    const double abandoned = TimedRead(text);
    Check(text == "ZLKD 1.07.02" && abandoned < 45.0, "an abandoned mutex counts as ours",
          std::to_string(abandoned) + " ms");
    // Taking an abandoned mutex makes us its owner: we must have let it go.
    ResetEvent(ready);
    ResetEvent(done);
    holder = StartHolder("--hold");
    Check(holder != nullptr && WaitForSingleObject(ready, 3000) == WAIT_OBJECT_0,
          "the mutex taken after abandonment was released again");
    SetEvent(done);
    if (holder != nullptr) {
        WaitForSingleObject(holder, 20000);
        CloseHandle(holder);
    }
    {
        wine_check::StdoutCapture out;
        Diag_FreeHWIO();
    }
    return wine_check::Finish();
}
