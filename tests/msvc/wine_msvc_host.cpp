// A host as Visual C++ builds it: compiled for i686-pc-windows-msvc (the
// Visual C++ ABI and name decoration), linked with lld-link against
// hwtk3.lib, with no C runtime and no system headers of any kind. It binds
// each of the 38 exports that hwtk3.dll offers under its Visual C++ name,
// calls it against the stand-in WinRing0.dll and VQMITF.dll (default
// scenario) and checks the result.
//
// Everything it prints goes straight to the standard output handle, while
// the library prints through its own C runtime's stdio; the lines must
// still come out in the order they happen when standard output is a file
// or a pipe. Before and after each call that prints, the host writes a
// marker line (">> call NAME" / ">> done NAME"), and scripts/wine-tests
// checks that the library's lines sit between them.
#include <hwtk3.h>

#if !defined(_MSC_VER)
#  error "built in Visual C++ mode (clang --target=i686-pc-windows-msvc)"
#endif

// The few kernel32.dll functions we use, declared here; the import library
// comes from tests/msvc/kernel32.def.
extern "C" {
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __declspec(noreturn) __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) void* __stdcall GetModuleHandleA(const char* name);
__declspec(dllimport) unsigned long __stdcall GetTickCount(void);

// The compiler may turn structure copies and clears into these calls.
void* __cdecl memset(void* target, int value, unsigned int size);
void* __cdecl memcpy(void* target, const void* source, unsigned int size);
}

extern "C" void* __cdecl memset(void* target, int value, unsigned int size) {
    volatile unsigned char* t = static_cast<unsigned char*>(target);
    for (unsigned int i = 0; i < size; ++i) t[i] = static_cast<unsigned char>(value);
    return target;
}

extern "C" void* __cdecl memcpy(void* target, const void* source, unsigned int size) {
    volatile unsigned char* t = static_cast<unsigned char*>(target);
    const unsigned char* s = static_cast<const unsigned char*>(source);
    for (unsigned int i = 0; i < size; ++i) t[i] = s[i];
    return target;
}

namespace {

const unsigned long kStdOutputHandle = static_cast<unsigned long>(-11);

// One output line, written with a single WriteFile when it ends.
class Line {
public:
    Line& operator<<(const char* text) {
        while (*text != '\0' && length_ < kSize - 2) buffer_[length_++] = *text++;
        return *this;
    }
    Line& operator<<(int value) {
        char digits[12];
        int n = 0;
        unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) *this << "-";
        while (n > 0 && length_ < kSize - 2) buffer_[length_++] = digits[--n];
        return *this;
    }
    ~Line() {
        buffer_[length_++] = '\r';
        buffer_[length_++] = '\n';
        unsigned long written = 0;
        WriteFile(GetStdHandle(kStdOutputHandle), buffer_, static_cast<unsigned long>(length_), &written, nullptr);
    }

private:
    static const int kSize = 256;
    char buffer_[kSize];
    int length_ = 0;
};

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const char* what) {
    (ok ? g_passed : g_failed)++;
    Line() << (ok ? "ok: " : "FAILED: ") << what;
}

void CheckValue(bool ok, const char* what, int got) {
    (ok ? g_passed : g_failed)++;
    Line() << (ok ? "ok: " : "FAILED: ") << what << " -- got " << got;
}

bool Same(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

void CheckText(const char* got, const char* want, const char* what) {
    const bool ok = Same(got, want);
    (ok ? g_passed : g_failed)++;
    Line() << (ok ? "ok: " : "FAILED: ") << what << " -- got [" << got << "] want [" << want << "]";
}

void Fill(void* target, unsigned char value, unsigned int size) { memset(target, value, size); }

// Markers around a call whose library lines scripts/wine-tests places.
void Call(const char* name) { Line() << ">> call " << name; }
void Done(const char* name) { Line() << ">> done " << name; }

void Identity() {
    Call("Diag_CheckMachine");
    const bool quorvex = Diag_CheckMachine(true);
    Done("Diag_CheckMachine");
    Check(quorvex, "Diag_CheckMachine(true) accepts the Quorvex notebook from the BIOS area");
    Check(GetModuleHandleA("WinRing0.dll") == nullptr, "the scan released WinRing0.dll again");
    const int machineType = Diag_GetMachineType();
    CheckValue(machineType == 0, "Diag_GetMachineType: Zelka board", machineType);
    const int fill = Diag_FillDMIData(true);
    CheckValue(fill == 0, "Diag_FillDMIData(true) on the filled record returns 0", fill);

    char text[64];
    Fill(text, 'x', sizeof text);
    Diag_GetManufacturer(text, 63);
    CheckText(text, "Quorvex Computer Inc.", "Diag_GetManufacturer");
    Fill(text, 'x', sizeof text);
    Diag_GetProductName(text, 63);
    CheckText(text, "Quorvex Aero 14 K5402", "Diag_GetProductName");
    Fill(text, 'x', sizeof text);
    Diag_GetProductName(text, 4);
    text[5] = '\0';
    CheckText(text, "Quorx", "Diag_GetProductName copies no more than the size");
    Fill(text, 'x', sizeof text);
    Diag_GetBoardSN(text, 63);
    CheckText(text, "ZelkaK5402-0217A88", "Diag_GetBoardSN");
}

void PortIoAndFirmware() {
    Call("Diag_InitHWIO");
    const int bound = Diag_InitHWIO();
    Done("Diag_InitHWIO");
    CheckValue(bound == 1, "Diag_InitHWIO binds the stand-in", bound);
    Check(GetModuleHandleA("WinRing0.dll") != nullptr, "WinRing0.dll is loaded");

    char version[32];
    Fill(version, 0x55, sizeof version);
    Call("Diag_GetECFirmwareVer2");
    const int read = Diag_GetECFirmwareVer2(version, 31);
    Done("Diag_GetECFirmwareVer2");
    CheckValue(read == 1, "Diag_GetECFirmwareVer2 returns 1", read);
    CheckText(version, "ZLKD 1.07.02", "firmware text");
    Check(version[31] == 0x55, "nothing written past the length");
}

void FanOnTheZlkdPath() {
    int rpm = -1;
    int temperature = -1;
    const unsigned long start = GetTickCount();
    Call("Diag_FanCpu");
    const bool ok = Diag_FanCpu(3000, 0, &rpm, &temperature, true);
    Done("Diag_FanCpu");
    const unsigned long took = GetTickCount() - start;
    Check(ok, "Diag_FanCpu on the ZLKD path returns true");
    CheckValue(rpm == 3000, "fan speed read back after settling", rpm);
    CheckValue(temperature == 45, "CPU temperature", temperature);
    CheckValue(took >= 3400, "settle and read pauses (ms)", static_cast<int>(took));

    rpm = -1;
    temperature = -1;
    Call("Diag_FanCpuGetValue");
    const bool again = Diag_FanCpuGetValue(&rpm, &temperature, true);
    Done("Diag_FanCpuGetValue");
    Check(again, "Diag_FanCpuGetValue returns true");
    CheckValue(rpm == 3000, "Diag_FanCpuGetValue: the same speed", rpm);

    rpm = -1;
    CheckValue(Diag_ZLKDGetFanSpeed2(&rpm) == 1 && rpm == 3000, "Diag_ZLKDGetFanSpeed2 reads 3000 RPM", rpm);
    temperature = -1;
    CheckValue(Diag_ZLKDGetCpuTemperature2(&temperature) == 1 && temperature == 45,
               "Diag_ZLKDGetCpuTemperature2 reads 45 degrees", temperature);
    // The same target again: the fan stays where it is.
    Check(Diag_ZLKDSetFanSpeed2(3000) == 1, "Diag_ZLKDSetFanSpeed2(3000) returns 1");
    rpm = -1;
    CheckValue(Diag_ZLKDGetFanSpeed2(&rpm) == 1 && rpm == 3000, "and the fan still turns at 3000 RPM", rpm);
}

// The notebook's EC has the ZLKD map and decodes neither RAM window, so the
// AMD and PWM calls go through while the binding is up but read what an
// undecoded port gives (0xFF) and write nowhere: a tachometer pair of 0xFF
// (count 0, 0 RPM on the AMD map, 65535 on the PWM map), temperature and
// setting 255, the manual bit set whatever was written.
void OtherFanMaps() {
    Check(Diag_AMDSetFanRPM(3000) == 1, "Diag_AMDSetFanRPM returns 1 while bound");
    int value = -7;
    Check(Diag_AMDGetFanRPM(&value) == 1, "Diag_AMDGetFanRPM returns 1");
    CheckValue(value == 0, "Diag_AMDGetFanRPM: count 0 from an undecoded window", value);
    value = -7;
    Check(Diag_AMDGetCpuTemperature(&value) == 1, "Diag_AMDGetCpuTemperature returns 1");
    CheckValue(value == 255, "Diag_AMDGetCpuTemperature: 255 from an undecoded window", value);
    Check(Diag_SetFanManual2(1) == 1, "Diag_SetFanManual2(1) returns 1");
    Check(Diag_SetFanSpeed2(60) == 1, "Diag_SetFanSpeed2(60) returns 1");
    tFanState state;
    state.manual = -7;
    state.speed = 0xDEAD;
    state.rpm = 0xDEAD;
    Check(Diag_GetFanCurState2(&state) == 1, "Diag_GetFanCurState2 returns 1");
    CheckValue(state.manual == 1, "manual bit as set", state.manual);
    CheckValue(state.speed == 255, "speed setting 255", static_cast<int>(state.speed));
    CheckValue(state.rpm == 65535, "PWM RPM register 65535", static_cast<int>(state.rpm));
    int temperature = -7;
    value = -7;
    Check(Diag_FanState2(&temperature, &value), "Diag_FanState2 returns true");
    Check(temperature == 255 && value == 65535, "Diag_FanState2 writes temperature 255 and RPM 65535");
    Check(Diag_SetFanManual2(0) == 1, "Diag_SetFanManual2(0) hands the fan back");
    state.manual = -7;
    Check(Diag_GetFanCurState2(&state) == 1 && state.manual == 1, "manual bit still reads set");
}

void Charge() {
    Call("Diag_SetBatteryChargeEnabled");
    const bool off = Diag_SetBatteryChargeEnabled(false);
    Done("Diag_SetBatteryChargeEnabled");
    Check(off, "Diag_SetBatteryChargeEnabled(false): charging switched off");
    const int stateOff = Diag_GetBatteryChargeState();
    CheckValue(stateOff == 0x40, "Diag_GetBatteryChargeState shows charging off (0x40)", stateOff);
    Check(!Diag_IsBatteryChargeEnabled(), "Diag_IsBatteryChargeEnabled: false on machine type 0");
    Call("Diag_SetBatteryChargeEnabled");
    const bool on = Diag_SetBatteryChargeEnabled(true);
    Done("Diag_SetBatteryChargeEnabled");
    Check(on, "Diag_SetBatteryChargeEnabled(true): charging switched back on");
    const int stateOn = Diag_GetBatteryChargeState();
    CheckValue(stateOn == 0, "Diag_GetBatteryChargeState shows charging on", stateOn);
}

// Wine has no ACPI control driver: every device control fails at once and
// writes nothing.
void AcpiControls() {
    tDiagWifiBTPowerState power;
    power.bWifi = 0x80;
    power.bBT = 0x55;
    power.bCam = 0x7F;
    unsigned char brightness = 0xEE, high = 0xEE, low = 0xEE;
    bool wlan = false, bluetooth = false, camera = false;
    Check(!Diag_GetPanelBrightness(&brightness), "Diag_GetPanelBrightness: false without the driver");
    Check(!Diag_SetPanelBrightness(50), "Diag_SetPanelBrightness: false without the driver");
    Check(!Diag_GetCPUMode(&high, &low), "Diag_GetCPUMode: false without the driver");
    Check(!Diag_SetCPUMode(1), "Diag_SetCPUMode: false without the driver");
    Check(!Diag_SetWifiState(&power), "Diag_SetWifiState: false without the driver");
    Check(!Diag_GetWifiState(&power), "Diag_GetWifiState: false without the driver");
    Check(!Diag_SetBTState(&power), "Diag_SetBTState: false without the driver");
    Check(!Diag_GetBTState(&power), "Diag_GetBTState: false without the driver");
    Check(!Diag_SetCamState(&power), "Diag_SetCamState: false without the driver");
    Check(!Diag_GetCamState(&power), "Diag_GetCamState: false without the driver");
    Check(!Diag_GetACPISupportMethods(&wlan, &bluetooth, &camera),
          "Diag_GetACPISupportMethods: false without the driver");
    Check(power.bWifi == 0x80 && power.bBT == 0x55 && power.bCam == 0x7F && brightness == 0xEE && high == 0xEE &&
              low == 0xEE && !wlan && !bluetooth && !camera,
          "no output written");
}

void AcpiInterfaceObject() {
    Call("Diag_AcpiNBSetBTPowerOn");
    const int set = Diag_AcpiNBSetBTPowerOn(true);
    Done("Diag_AcpiNBSetBTPowerOn");
    CheckValue(set == 0, "Diag_AcpiNBSetBTPowerOn(true) returns 0", set);
    bool present = false;
    Call("Diag_AcpiNBQueryBTDevice");
    const int bt = Diag_AcpiNBQueryBTDevice(present);
    Done("Diag_AcpiNBQueryBTDevice");
    Check(bt == 0 && present, "Diag_AcpiNBQueryBTDevice: Bluetooth reported through the reference");
    present = false;
    Call("Diag_AcpiNBQueryWifiDevice");
    const int wifi = Diag_AcpiNBQueryWifiDevice(present);
    Done("Diag_AcpiNBQueryWifiDevice");
    Check(wifi == 0 && present, "Diag_AcpiNBQueryWifiDevice: wireless LAN reported through the reference");
}

void Release() {
    Call("Diag_FreeHWIO");
    Diag_FreeHWIO();
    Done("Diag_FreeHWIO");
    Check(GetModuleHandleA("WinRing0.dll") == nullptr, "Diag_FreeHWIO unloads WinRing0.dll");
    int rpm = -1;
    Check(Diag_ZLKDGetFanSpeed2(&rpm) == 0 && rpm == -1, "unbound: Diag_ZLKDGetFanSpeed2 returns 0");
}

}  // namespace

extern "C" void __cdecl HostMain() {
    Line() << ">> Visual C++ host of hwtk3.dll";
    Identity();
    PortIoAndFirmware();
    FanOnTheZlkdPath();
    OtherFanMaps();
    Charge();
    AcpiControls();
    AcpiInterfaceObject();
    Release();
    Line() << g_passed << " passed, " << g_failed << " failed";
    ExitProcess(g_failed == 0 ? 0 : 1);
}
