// hwtk3: hardware diagnostics for notebook computers.
//
// The 40 Diag_* exports of hwtk3.dll. They are plain C++ functions exported
// under their decorated names with the caller-cleans convention; a host
// built with the same toolchain includes this header and links the import
// library. Two of them pass std::string (tBattery, Diag_Get90Code), so host
// and library must share one C++ runtime.
//
// hwtk3.dll also exports, for the same functions, the names Visual C++ gives
// these declarations, for the 38 exports that pass no std::string; a Visual
// C++ host includes this header as it is and links hwtk3.lib. Under Visual
// C++ (_MSC_VER, also clang's Visual C++ mode) the header leaves out tBattery,
// Diag_BatteryState and Diag_Get90Code: a Visual C++ std::string has another
// layout and lives on another heap than the MinGW one inside the DLL, so a
// host that passed one would corrupt memory. They have no Visual C++ name.
#ifndef HWTK3_HWTK3_H
#define HWTK3_HWTK3_H

#if !defined(_MSC_VER)
#  include <string>
#  define HWTK3_STD_STRING_EXPORTS 1
#endif

#if defined(_WIN32)
#  if defined(HWTK3_BUILDING_DLL)
#    define HWTK3_API __declspec(dllexport)
#  elif defined(HWTK3_STATIC)
#    define HWTK3_API
#  else
#    define HWTK3_API __declspec(dllimport)
#  endif
#  define HWTK3_CALL __cdecl
#else
#  define HWTK3_API __attribute__((visibility("default")))
#  define HWTK3_CALL
#endif

// Fan state of the PWM fan map (Diag_GetFanCurState2).
struct tFanState {
    int manual;          // 1 when the fan is under manual control
    unsigned int speed;  // fan speed setting, 0..255 as the EC holds it
    unsigned int rpm;    // fan speed in RPM as the EC reports it
};

// Radio and camera power, one byte each; nonzero = on.
struct tDiagWifiBTPowerState {
    unsigned char bWifi;
    unsigned char bBT;
    unsigned char bCam;
};

#if defined(HWTK3_STD_STRING_EXPORTS)
// Battery report filled by Diag_BatteryState (MinGW hosts only: std::string).
struct tBattery {
    unsigned int reserved;       // belongs to the caller; never touched
    std::string state;           // "charging", "discharging", "charged", "critical", "unknown"
    int designCapacity;          // mAh
    int fullChargeCapacity;      // mAh
    int remainingCapacity;       // mAh
    int remainingPercentage;     // percent of the full-charge capacity
    double voltage;              // volts
};
#endif

// Port-I/O binding.
HWTK3_API int HWTK3_CALL Diag_InitHWIO(void);
HWTK3_API void HWTK3_CALL Diag_FreeHWIO(void);

// EC firmware version.
HWTK3_API int HWTK3_CALL Diag_GetECFirmwareVer2(char* buffer, int length);

// Per-platform fan and CPU temperature.
HWTK3_API int HWTK3_CALL Diag_AMDSetFanRPM(int rpm);
HWTK3_API int HWTK3_CALL Diag_AMDGetFanRPM(int* rpm);
HWTK3_API int HWTK3_CALL Diag_AMDGetCpuTemperature(int* temperature);
HWTK3_API bool HWTK3_CALL Diag_FanState2(int* temperature, int* rpm);
HWTK3_API int HWTK3_CALL Diag_GetFanCurState2(tFanState* state);
HWTK3_API int HWTK3_CALL Diag_SetFanManual2(int manual);
HWTK3_API int HWTK3_CALL Diag_SetFanSpeed2(unsigned int speed);
HWTK3_API int HWTK3_CALL Diag_ZLKDGetCpuTemperature2(int* temperature);
HWTK3_API int HWTK3_CALL Diag_ZLKDGetFanSpeed2(int* rpm);
HWTK3_API int HWTK3_CALL Diag_ZLKDSetFanSpeed2(unsigned int rpm);

// Fan test.
HWTK3_API bool HWTK3_CALL Diag_FanCpu(int targetRpm, int dutyLevel, int* rpm, int* temperature,
                                      bool ecPlatform);
HWTK3_API bool HWTK3_CALL Diag_FanCpuGetValue(int* rpm, int* temperature, bool ecPlatform);

// Machine identity.
HWTK3_API int HWTK3_CALL Diag_FillDMIData(bool scanPhysicalMemory);
HWTK3_API bool HWTK3_CALL Diag_CheckMachine(bool scanPhysicalMemory);
HWTK3_API int HWTK3_CALL Diag_GetMachineType(void);
HWTK3_API void HWTK3_CALL Diag_GetManufacturer(char* buffer, int size);
HWTK3_API void HWTK3_CALL Diag_GetProductName(char* buffer, int size);
HWTK3_API void HWTK3_CALL Diag_GetBoardSN(char* buffer, int size);
#if defined(HWTK3_STD_STRING_EXPORTS)
// MinGW hosts only (std::string).
HWTK3_API void HWTK3_CALL Diag_Get90Code(std::string& sku);
#endif

// ACPI device controls.
HWTK3_API bool HWTK3_CALL Diag_GetPanelBrightness(unsigned char* brightness);
HWTK3_API bool HWTK3_CALL Diag_SetPanelBrightness(unsigned char brightness);
HWTK3_API bool HWTK3_CALL Diag_GetCPUMode(unsigned char* high, unsigned char* low);
HWTK3_API bool HWTK3_CALL Diag_SetCPUMode(unsigned long mode);
HWTK3_API bool HWTK3_CALL Diag_SetWifiState(tDiagWifiBTPowerState* state);
HWTK3_API bool HWTK3_CALL Diag_GetWifiState(tDiagWifiBTPowerState* state);
HWTK3_API bool HWTK3_CALL Diag_SetBTState(tDiagWifiBTPowerState* state);
HWTK3_API bool HWTK3_CALL Diag_GetBTState(tDiagWifiBTPowerState* state);
HWTK3_API bool HWTK3_CALL Diag_SetCamState(tDiagWifiBTPowerState* state);
HWTK3_API bool HWTK3_CALL Diag_GetCamState(tDiagWifiBTPowerState* state);
HWTK3_API bool HWTK3_CALL Diag_GetACPISupportMethods(bool* wlan, bool* bluetooth, bool* camera);

// ACPI interface object; 0 = success, -1 = failure.
HWTK3_API int HWTK3_CALL Diag_AcpiNBSetBTPowerOn(bool on);
HWTK3_API int HWTK3_CALL Diag_AcpiNBQueryBTDevice(bool& present);
HWTK3_API int HWTK3_CALL Diag_AcpiNBQueryWifiDevice(bool& present);

// Battery.
#if defined(HWTK3_STD_STRING_EXPORTS)
// MinGW hosts only (tBattery holds a std::string).
HWTK3_API bool HWTK3_CALL Diag_BatteryState(tBattery* battery);
#endif
HWTK3_API unsigned char HWTK3_CALL Diag_GetBatteryChargeState(void);
HWTK3_API bool HWTK3_CALL Diag_SetBatteryChargeEnabled(bool enabled);
HWTK3_API bool HWTK3_CALL Diag_IsBatteryChargeEnabled(void);

#endif  // HWTK3_HWTK3_H
