// The published sequences, row by row (the format is in
// tests/trace_table.h): every export on its healthy path and behind a
// binding that is down, and every failure branch outside the EC exchanges
// (the EC's failure branches have tables of their own in the EC suites).
#include <array>
#include <initializer_list>

#include "sim/smbios_builder.h"
#include "tests/support.h"
#include "tests/trace_table.h"

namespace hwtk3::test {
namespace {

using sim::Bytes;
using traces::Fragment;
using traces::Row;
using traces::Setup;

// ---- pieces of trace the rows share ----

const std::vector<Fragment> kFragments = {
    // Port-I/O binding.
    {"bind", R"("preparing to initialize WinRing0"; InitializeOls -> 1; "WinRing0 was initialized"; GetDllStatus -> 0)"},
    {"release", R"("IO driver is going to release..."; DeinitializeOls)"},
    // One step of a command channel with a prompt EC: its status read,
    // then the byte. CMD/DATA wait for IBF clear, READ for OBF set.
    {"cmd68", "in 6c 00; out 6c $1"},
    {"data68", "in 6c 00; out 68 $1"},
    {"read68", "in 6c 01; in 68 $1"},
    {"cmd25c", "in 25d 00; out 25d $1"},
    {"data25c", "in 25d 00; out 25c $1"},
    {"read25c", "in 25d 01; in 25c $1"},
    // EC RAM through the windows: address high, address low, data.
    {"amd-read", "out fd61 f4; out fd62 $1; in fd63 $2"},
    {"amd-write", "out fd61 f4; out fd62 $1; out fd63 $2"},
    {"pwm-read", "out 381 f4; out 382 $1; in 383 $2"},
    {"pwm-write", "out 381 f4; out 382 $1; out 383 $2"},
    // EC RAM on 0x62/0x66: the read takes the data port 20 ms after the
    // index; the charge switch's reads look at OBF just before.
    {"ec62-read", "in 66 00; out 66 80; sleep 10; in 66 00; out 62 $1; sleep 20; in 62 $2"},
    {"ec62-read-obf", "in 66 00; out 66 80; sleep 10; in 66 00; out 62 $1; sleep 20; in 66 01; in 62 $2"},
    {"ec62-write", "in 66 00; out 66 81; sleep 1; in 66 00; out 62 $1; sleep 1; in 66 00; out 62 $2"},
    // EC RAM above 0xFF on 0x25C/0x25D: command, address high and low.
    {"ec25c-read", "@cmd25c 80; @data25c $1; @data25c $2; @read25c $3"},
    {"ec25c-write", "@cmd25c 81; @data25c $1; @data25c $2; @data25c $3"},
    // The ZLKD EC's exchanges on 0x68/0x6C.
    {"zlkd-temperature", "@cmd68 2d; @read68 $1; @read68 26; @read68 00; sleep 10"},
    {"zlkd-tachometer", R"(@cmd68 23; @read68 $1; @read68 $2; "tacho msb: 0x$3, lsb: 0x$4"; "tacho: $5"; sleep 10)"},
    {"zlkd-target-3000", R"("Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"
        @cmd68 24; "Set 0x24 to port 0x6C"; @data68 0f; "Set 0xF to port 0x68"; @data68 5f; "Set 0x5F to port 0x68"
        in 6c 00; sleep 10)"},
    // The machine-type EC's exchanges on 0x25C/0x25D.
    {"mt-tachometer", R"(@ec25c-read 18 1f $1; "MSB: $2"; @ec25c-read 18 1e $3; "LSB: $4"; "Tacho: $5"; "RPM: $6")"},
    {"mt-temperature", R"(@cmd25c 90; @data25c a0; @read25c 2d; "CPU Temp: 45")"},
    // ACPI control device: one method inside an open and a close.
    {"acpi", R"(open \\.\ZORDACPI; ZORDACPI $1; sleep $2; close \\.\ZORDACPI)"},
    {"nb", "CVQMITF(); InvokeMethod $1; ~CVQMITF()"},
    // The battery class device of the notebook.
    {"battery", R"(open battery 1; battery 1 query tag -> 1; battery 1 query information, tag 1
        battery 1 query status, tag 1; close battery 1)"},
    // The default machine's firmware answer and its five lines.
    {"rsmb", "GetSystemFirmwareTable RSMB 0, no buffer, 0 bytes -> $rsmb; GetSystemFirmwareTable RSMB 0, $rsmb bytes -> $rsmb"},
    {"identity-lines", R"("hwtk3 get dmi manufacturer: Quorvex Computer Inc."
        "hwtk3 get dmi product name: Quorvex Aero 14 K5402"; "hwtk3 get dmi sn: QV5402K0217A88"
        "hwtk3 get dmi sku number: K5402ZA-QV14"; "hwtk3 get dmi board serial number: ZelkaK5402-0217A88")"},
    {"identity", R"(SystemManufacturer "Quorvex Computer Inc.", SystemProductName "Quorvex Aero 14 K5402", SystemSerialNumber "QV5402K0217A88", SystemSku "K5402ZA-QV14", BoardSerialNumber "ZelkaK5402-0217A88")"},
    // The BIOS-area scan around what it finds.
    {"scan-start", "@bind; phys f0000 65535"},
    {"scan-end", R"("shutdown IO library"; @release)"},
    {"sm-anchor", R"("5F 53 4D 5F --> SMIBIOS"; "major ver: $1, minor ver: $2"; "smbios_decode")"},
    {"dmi-table", R"("dmi_table"; "mem_chunk, base=0x$1, len=$2"; "ReadPhysicalMemory: Address 0x$1, length $2"; phys $3 $2)"},
    // The BIOS-area scan of a small table (set-ups below) at the default place.
    {"scan-small", R"(@scan-start; @sm-anchor 2 8; @dmi-table CBF3A000 $1 cbf3a000; @scan-end)"},
};

// Port-I/O binding: its published failure table, the states it leaves
// behind, and what a second call does in each.
const Row kBinding[] = {
    {"binds", "", "InitHWIO", "@bind; = 1, ready 1, WinRing0 loaded 1"},
    {"already bound: nothing loaded again", "bound", "InitHWIO",
     R"("WinRing0 has been initialized. No need to initialize again"; = 1, ready 1, WinRing0 loaded 1)"},
    {"library missing", "no-winring0", "InitHWIO", R"(
        "preparing to initialize WinRing0"; "Failed to LoadLibrary, err code 126"; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 0)"},
    {"an entry point missing: stays loaded", "partial-winring0", "InitHWIO", R"(
        "preparing to initialize WinRing0"; "Failed to GetProcAddress"; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 1)"},
    {"no GetDllStatus", "winring0-without=GetDllStatus", "InitHWIO", R"(
        "preparing to initialize WinRing0"; "Failed to GetProcAddress"; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 1)"},
    {"no InitializeOls", "winring0-without=InitializeOls", "InitHWIO", R"(
        "preparing to initialize WinRing0"; "Failed to GetProcAddress"; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 1)"},
    {"no DeinitializeOls", "winring0-without=DeinitializeOls", "InitHWIO", R"(
        "preparing to initialize WinRing0"; "Failed to GetProcAddress"; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 1)"},
    {"no ReadIoPortByte", "winring0-without=ReadIoPortByte", "InitHWIO", R"(
        "preparing to initialize WinRing0"; "Failed to GetProcAddress"; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 1)"},
    {"no WriteIoPortByte", "winring0-without=WriteIoPortByte", "InitHWIO", R"(
        "preparing to initialize WinRing0"; "Failed to GetProcAddress"; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 1)"},
    {"an entry point missing: loads again", "partial-winring0 init", "InitHWIO", R"(
        "preparing to initialize WinRing0"; "Failed to GetProcAddress"; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 2)"},
    {"InitializeOls fails: stays loaded", "init-fails", "InitHWIO", R"(
        "preparing to initialize WinRing0"; InitializeOls -> 0; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 1)"},
    {"loaded but not ready: loads again", "init-fails init", "InitHWIO", R"(
        "preparing to initialize WinRing0"; InitializeOls -> 0; "Failed to init WinRing0!"
        = 0, ready 0, WinRing0 loaded 2)"},
    {"status error: unloaded again", "status-error", "InitHWIO", R"(
        "preparing to initialize WinRing0"; InitializeOls -> 1; "WinRing0 was initialized"; GetDllStatus -> 4
        "Get WinRing0 dll status error!"; DeinitializeOls
        = 0, ready 0, WinRing0 loaded 0)"},
    {"after a status error: the whole load again", "status-error init", "InitHWIO", R"(
        "preparing to initialize WinRing0"; InitializeOls -> 1; "WinRing0 was initialized"; GetDllStatus -> 4
        "Get WinRing0 dll status error!"; DeinitializeOls
        = 0, ready 0, WinRing0 loaded 0)"},
    {"after a status error that cleared: bound", "status-error init status-cleared", "InitHWIO",
     "@bind; = 1, ready 1, WinRing0 loaded 1"},
    {"bound again after a release", "bound released", "InitHWIO", "@bind; = 1, ready 1, WinRing0 loaded 1"},
    {"releases", "bound", "FreeHWIO", "@release; = void, ready 0, WinRing0 loaded 0"},
    {"release while unbound does nothing", "", "FreeHWIO", "= void, ready 0, WinRing0 loaded 0"},
    {"release twice releases once", "bound released", "FreeHWIO", "= void, ready 0, WinRing0 loaded 0"},
    {"release while loaded but not ready does nothing", "init-fails init", "FreeHWIO",
     "= void, ready 0, WinRing0 loaded 1"},
};

// Every export that touches the EC, with the binding down: its failure
// value at once, no port, no pause, no line, outputs untouched; the fan
// test's dispatch prints the failure of its path's first step.
const Row kGates[] = {
    {"gate", "", "GetECFirmwareVer2 31", R"(= 0, buffer "~*32", text "")"},
    {"gate after a release", "bound released", "GetECFirmwareVer2 31", R"(= 0, buffer "~*32", text "")"},
    {"gate", "", "AMDSetFanRPM 3000", "= 0"},
    {"gate", "", "AMDGetFanRPM", "= 0, rpm untouched"},
    {"gate", "", "AMDGetCpuTemperature", "= 0, temperature untouched"},
    {"gate", "", "FanState2", "= false, temperature untouched, rpm untouched"},
    {"gate", "", "GetFanCurState2", "= 0, manual untouched, speed untouched, rpm untouched"},
    {"gate", "", "SetFanManual2 1", "= 0"},
    {"gate, machine type", "type=1", "SetFanManual2 1", "= 0"},
    {"gate", "", "SetFanSpeed2 50", "= 0"},
    {"gate", "", "ZLKDGetCpuTemperature2", "= 0, temperature untouched"},
    {"gate", "", "ZLKDGetFanSpeed2", "= 0, rpm untouched"},
    {"gate", "", "ZLKDSetFanSpeed2 3000", "= 0"},
    {"gate, ZLKD path", "bound fw released", "FanCpu 3000 100", R"(
        "ec ZLKD"; "Set rpm to 3000"; "Error while setting fan speed!"; = false, rpm untouched, temperature untouched)"},
    {"gate, PWM path", "", "FanCpu 3000 100 60", R"(
        "old ec, fan uses pwm control"; "Error while setting fan speed!"; = false, rpm 60, temperature untouched)"},
    {"gate, AMD path", "", "FanCpu 3000 100 0 0",
     R"("Error while setting fan speed of AMD platform!"; = false, rpm 0, temperature untouched)"},
    {"gate, machine-type path: nothing at all", "type=1", "FanCpu 3000 100", "= false, rpm untouched, temperature untouched"},
    {"gate, ZLKD path", "bound fw released", "FanCpuGetValue 1",
     R"("Error while getting fan speed!"; = false, rpm untouched, temperature untouched)"},
    {"gate, PWM path", "", "FanCpuGetValue 1",
     R"("Error while getting Fan speed/CPU temperature!"; = false, rpm untouched, temperature untouched)"},
    {"gate, AMD path", "", "FanCpuGetValue 0",
     R"("Error while getting fan speed of AMD platform!"; = false, rpm untouched, temperature untouched)"},
    {"gate, machine-type path", "type=1", "FanCpuGetValue 1", "= false, rpm untouched, temperature untouched"},
    {"gate", "", "GetBatteryChargeState", "= 0x00"},
    {"gate", "", "SetBatteryChargeEnabled 0", "= false"},
    {"gate, machine type", "type=1", "SetBatteryChargeEnabled 1", "= false"},
    {"gate, machine type", "type=1", "IsBatteryChargeEnabled", "= false"},
    {"gate", "", "IsBatteryChargeEnabled", "= false"},
    {"gate, switching on", "", "SetBatteryChargeEnabled 1", "= false"},
    {"gate, machine type, switching off", "type=1", "SetBatteryChargeEnabled 0", "= false"},
    {"gate, machine type", "type=1", "GetBatteryChargeState", "= 0x00"},
    {"gate after a release keeps the firmware text", "bound fw released", "GetECFirmwareVer2 31",
     R"(= 0, buffer "~*32", text "ZLKD 1.07.02")"},
};

// The EC exports on their healthy paths, with a prompt EC.
const Row kEcHealthy[] = {
    {"firmware text, NUL-padded to the length", "bound", "GetECFirmwareVer2 31", R"(
        in 66 00; out 66 a1
        in 66 01; in 62 5a; in 66 01; in 62 4c; in 66 01; in 62 4b; in 66 01; in 62 44; in 66 01; in 62 20
        in 66 01; in 62 31; in 66 01; in 62 2e; in 66 01; in 62 30; in 66 01; in 62 37; in 66 01; in 62 2e
        in 66 01; in 62 30; in 66 01; in 62 32; in 66 01; in 62 00
        "EC FW:=ZLKD 1.07.02="
        = 1, buffer "ZLKD 1.07.02\0*19~", text "ZLKD 1.07.02")"},
    {"AMD temperature", "amd bound", "AMDGetCpuTemperature", "@amd-read 51 2d; sleep 10; = 1, temperature 45"},
    {"AMD fan speed, idle", "amd bound", "AMDGetFanRPM",
     "@amd-read 66 0f; @amd-read 67 37; sleep 10; = 1, rpm 2400"},
    {"AMD target 3000", "amd bound", "AMDSetFanRPM 3000", "@amd-write 6a 0f; @amd-write 6b 5f; sleep 10; = 1"},
    {"PWM temperature and speed", "pwm bound", "FanState2",
     "@pwm-read 51 2d; sleep 10; @pwm-read 66 09; @pwm-read 67 60; sleep 10; = true, temperature 45, rpm 2400"},
    {"PWM state: F4D3, pause, F463, pause, F466/F467, pause", "pwm bound", "GetFanCurState2", R"(
        @pwm-read d3 41; sleep 10; @pwm-read 63 30; sleep 10; @pwm-read 66 09; @pwm-read 67 60; sleep 10
        = 1, manual 0, speed 48, rpm 2400)"},
    {"PWM setting clamped to 100", "pwm bound", "SetFanSpeed2 150", "@pwm-write 63 64; sleep 10; = 1"},
    {"PWM manual: bit 1 of F4D3 set, no pause between", "pwm bound", "SetFanManual2 1",
     "@pwm-read d3 41; @pwm-write d3 43; sleep 10; = 1"},
    {"PWM EC control: bit 1 of F4D3 cleared", "pwm bound pwm-manual", "SetFanManual2 0",
     "@pwm-read d3 43; @pwm-write d3 41; sleep 10; = 1"},
    {"machine type EC control: Fan0 flag bit 7 set", "machine-type type=1 bound", "SetFanManual2 0", R"(
        @cmd25c 94; @data25c 21; @read25c 85; "Read Fan0 Ctrl Flag: 85"
        @cmd25c 95; @data25c 21; @data25c 85; in 25d 00; "Set Fan0 Ctrl Flag: 85"; sleep 10
        = 1)"},
    {"machine type manual: Fan0 flag bit 7 cleared", "machine-type type=1 bound", "SetFanManual2 1", R"(
        @cmd25c 94; @data25c 21; @read25c 85; "Read Fan0 Ctrl Flag: 85"
        @cmd25c 95; @data25c 21; @data25c 05; in 25d 00; "Set Fan0 Ctrl Flag: 5"; sleep 10
        = 1)"},
    {"ZLKD temperature: three bytes, the first kept", "zlkd bound", "ZLKDGetCpuTemperature2",
     "@zlkd-temperature 2d; = 1, temperature 45"},
    {"ZLKD fan speed, idle", "zlkd bound", "ZLKDGetFanSpeed2", "@zlkd-tachometer 0f 37 F 37 200; = 1, rpm 2400"},
    {"ZLKD target 3000", "zlkd bound", "ZLKDSetFanSpeed2 3000", "@zlkd-target-3000; = 1"},
    {"fan test, ZLKD path", "zlkd bound fw", "FanCpu 3000 100", R"(
        "ec ZLKD"; "Set rpm to 3000"; @zlkd-target-3000; sleep 3000
        @zlkd-tachometer 0f 5f F 5F 160; "Get fan speed 3000"; sleep 200
        @zlkd-temperature 2d; sleep 200
        = true, rpm 3000, temperature 45)"},
    {"fan test, PWM path: the setting from argument 3", "pwm bound fw", "FanCpu 3000 100 60", R"(
        "old ec, fan uses pwm control"; @pwm-write 63 3c; sleep 10; sleep 3000
        @pwm-read 51 2d; sleep 10; @pwm-read 66 0b; @pwm-read 67 b8; sleep 10; sleep 200
        = true, rpm 3000, temperature 45)"},
    {"fan test, AMD path", "amd bound", "FanCpu 3000 100 0 0", R"(
        @amd-write 6a 0f; @amd-write 6b 5f; sleep 10; sleep 3000
        @amd-read 66 0f; @amd-read 67 5f; sleep 10; sleep 200
        @amd-read 51 2d; sleep 10; sleep 200
        = true, rpm 3000, temperature 45)"},
    {"fan test, machine-type path: duty 2 x 100 + 50", "machine-type checked bound", "FanCpu 3000 100", R"(
        @cmd25c 84; @data25c 00; @data25c fa; in 25d 00; "Set Fan0 Duty: 250"; sleep 3000
        @mt-tachometer 01 1 af AF 1af 5002; sleep 200
        @mt-temperature; sleep 200
        = true, rpm 5002, temperature 45)"},
    {"fan values, ZLKD path", "zlkd bound fw", "FanCpuGetValue 1", R"(
        @zlkd-tachometer 0f 37 F 37 200; sleep 200; @zlkd-temperature 2d; sleep 200
        = true, rpm 2400, temperature 45)"},
    {"fan values, PWM path", "pwm bound fw", "FanCpuGetValue 1", R"(
        @pwm-read 51 2d; sleep 10; @pwm-read 66 09; @pwm-read 67 60; sleep 10; sleep 200
        = true, rpm 2400, temperature 45)"},
    {"fan values, AMD path", "amd bound", "FanCpuGetValue 0", R"(
        @amd-read 66 0f; @amd-read 67 37; sleep 10; sleep 200; @amd-read 51 2d; sleep 10; sleep 200
        = true, rpm 2400, temperature 45)"},
    {"fan values, machine-type path", "machine-type checked bound", "FanCpuGetValue 1", R"(
        @mt-tachometer 03 3 82 82 382 2401; sleep 200; @mt-temperature; sleep 200
        = true, rpm 2401, temperature 45)"},
    {"charge byte: the plain read", "bound", "GetBatteryChargeState", "@ec62-read d2 00; = 0x00"},
    {"charging off, EC RAM 0xD2", "bound", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @ec62-read-obf d2 00; "Original data of address 0xD2 = 0x0"
        @ec62-write d2 40; @ec62-read-obf d2 40; "Read address 0xD2 back, value = 0x40"
        "Success !! battery is discharging."
        = true)"},
    {"charging off, 0x04F8", "type=1 bound", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @ec25c-read 04 f8 00; "Ori. 0x4F8: 0x0"; @ec25c-write 04 f8 40
        @ec25c-read 04 f8 40; "Read back 0x4F8: 0x40"
        = true)"},
    {"charging on, EC RAM 0xD2: bit 6 cleared, the others kept", "bound charging-off", "SetBatteryChargeEnabled 1", R"(
        "Set battery to charging state"; @ec62-read-obf d2 c1; "Original data of address 0xD2 = 0xC1"
        @ec62-write d2 81; @ec62-read-obf d2 81; "Read address 0xD2 back, value = 0x81"
        "Success !! battery is charging."
        = true)"},
    {"charging on, 0x04F8", "type=1 bound charging-off", "SetBatteryChargeEnabled 1", R"(
        "Set battery to charging state"; @ec25c-read 04 f8 c1; "Ori. 0x4F8: 0xC1"; @ec25c-write 04 f8 81
        @ec25c-read 04 f8 81; "Read back 0x4F8: 0x81"
        = true)"},
    {"charging on? 0x04F8", "type=1 bound", "IsBatteryChargeEnabled",
     R"(@ec25c-read 04 f8 00; "Data in 0x4F8: 0x0"; = true)"},
    {"charging on? not on a machine type 0", "bound", "IsBatteryChargeEnabled", "= false"},
};

// ---- the EC exchanges failing ----

const std::vector<Fragment> kEcFragments = {
    // A wait that runs out: a status read and a 5 ms poll until the
    // exchange's 500 ms are spent (100 polls from its start, fewer after
    // its fixed pauses), then the last read.
    {"runs-out", "{in $1 $2; sleep 5}*$3; in $1 $2"},
    // The opening wait on a floating bus: 0xFF on every port, at most 32
    // "stale" bytes dropped, then polls until the budget is spent.
    {"floats", "in $1 ff; {in $2 ff; in $1 ff}*32; {sleep 5; in $1 ff}*100"},
    {"ec62-silent", "@runs-out 66 02 100"},
    {"ec62-floats", "@floats 66 62"},
    {"ec25c-silent", "@runs-out 25d 02 100"},
    {"ec25c-floats", "@floats 25d 25c"},
    // The EC RAM read whose look at OBF finds no answer: the data port is
    // read all the same (the published read), its byte not taken.
    {"ec62-read-unanswered", "in 66 00; out 66 80; sleep 10; in 66 00; out 62 $1; sleep 20; in 66 00; in 62 $2"},
    // The default EC's firmware text, byte by byte, without its NUL.
    {"fw-text", R"(in 66 01; in 62 5a; in 66 01; in 62 4c; in 66 01; in 62 4b; in 66 01; in 62 44; in 66 01; in 62 20
        in 66 01; in 62 31; in 66 01; in 62 2e; in 66 01; in 62 30; in 66 01; in 62 37; in 66 01; in 62 2e
        in 66 01; in 62 30; in 66 01; in 62 32)"},
    // The charge switch on EC RAM 0xD2: the read and the write of a pass,
    // a read-back that does not show the bit (and its pause), one that
    // does, the bank identifier, the pause and lines between passes.
    {"d2-write", R"(@ec62-read-obf d2 $1; "Original data of address 0xD2 = 0x$2"; @ec62-write d2 $3)"},
    {"d2-still-charging",
     R"(@ec62-read-obf d2 $1; "Read address 0xD2 back, value = 0x$2"; "Fail !! battery is still charging."; sleep 1000)"},
    {"d2-still-discharging",
     R"(@ec62-read-obf d2 $1; "Read address 0xD2 back, value = 0x$2"; "Fail !! battery is still discharging."; sleep 1000)"},
    {"d2-discharging", R"(@ec62-read-obf d2 $1; "Read address 0xD2 back, value = 0x$2"; "Success !! battery is discharging.")"},
    {"d2-charging", R"(@ec62-read-obf d2 $1; "Read address 0xD2 back, value = 0x$2"; "Success !! battery is charging.")"},
    {"d2-bank", R"(@ec62-read-obf ff 02; "EC RAM Bank ID: 2")"},
    {"d2-off-fails", "@d2-write $1 $2 $3; {@d2-still-charging $1 $2}*3; @d2-bank"},
    {"d2-on-fails", "@d2-write $1 $2 $3; {@d2-still-discharging $1 $2}*3; @d2-bank"},
    {"d2-retry-off", R"(sleep 1000; "Retry to write EC RAM again!"; "Set battery to discharging state")"},
    {"d2-retry-on", R"(sleep 1000; "Retry to write EC RAM again!"; "Set battery to charging state")"},
    // A pass on an EC whose every exchange fails the same way ($1): no
    // line of a byte read, nothing written, the pauses all the same.
    {"d2-dead-pass", R"(@$1; {@$1; "Fail !! battery is still $2."; sleep 1000}*3; @$1)"},
    {"d2-unanswered-pass", R"(@ec62-read-unanswered d2 00
        {@ec62-read-unanswered d2 00; "Fail !! battery is still charging."; sleep 1000}*3; @ec62-read-unanswered ff 00)"},
    // A slow EC (25 ms for every byte): each look at OBF comes before the
    // answer. The read from its command on ($1 the index, $2 the byte the
    // data port still holds), and the rest of a pass after its first read:
    // the read-back right after it waits for the index to be taken (its
    // answer then dropped by the next command), the later ones drop the
    // answer that came during the pause before them.
    {"slow-read", "out 66 80; sleep 10; {in 66 02; sleep 5}*3; in 66 00; out 62 $1; sleep 20; in 66 02; in 62 $2"},
    {"slow-pass", R"(in 66 02; sleep 5; in 66 00; @slow-read d2 $1; "Fail !! battery is still charging."; sleep 1000
        {in 66 01; in 62 00; in 66 00; @slow-read d2 00; "Fail !! battery is still charging."; sleep 1000}*2
        in 66 01; in 62 00; in 66 00; @slow-read ff 00)"},
    // One attempt on EC register 0x04F8: read, write, read-back.
    {"4f8-attempt", R"(@ec25c-read 04 f8 $1; "Ori. 0x4F8: 0x$2"; @ec25c-write 04 f8 $3; @ec25c-read 04 f8 $4; "Read back 0x4F8: 0x$5")"},
    // Another host thread's Diag_FreeHWIO, made during our pause.
    {"released", R"("IO driver is going to release..."; DeinitializeOls)"},
    // The station's Global\Access_EC around one EC session.
    {"mutex-created", R"(CreateMutexA Global\Access_EC)"},
    {"mutex-taken", R"(WaitForSingleObject Global\Access_EC, 50 ms -> WAIT_OBJECT_0)"},
    {"mutex-released", R"(ReleaseMutex Global\Access_EC)"},
};

// 31 bytes of a floating bus taken for the firmware text.
#define HWTK3_FF8 "\xff\xff\xff\xff\xff\xff\xff\xff"
#define HWTK3_FF31 HWTK3_FF8 HWTK3_FF8 HWTK3_FF8 "\xff\xff\xff\xff\xff\xff\xff"
#define HWTK3_FF31_ESCAPED R"(\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff)"

// The firmware read: its counted waits running out, the bounds of the
// text, the lengths and the null buffer.
const Row kEcFirmware[] = {
    {"the EC never takes the command: 500 polls of 1 ms", "bound silent-from=0", "GetECFirmwareVer2 31", R"(
        {in 66 02; sleep 1}*500; "WaitIBFTimeout timeout!!"
        = 0, buffer "~*32", text "")"},
    {"... an earlier text stays", "bound fw silent-from=0", "GetECFirmwareVer2 31", R"(
        {in 66 02; sleep 1}*500; "WaitIBFTimeout timeout!!"
        = 0, buffer "~*32", text "ZLKD 1.07.02")"},
    {"no byte comes: the empty text", "bound fw unanswered-from=0", "GetECFirmwareVer2 31", R"(
        in 66 00; out 66 a1; {in 66 00; sleep 1}*500; "WaitOBFTimeout Error!! EC FW:=="
        = 0, buffer "~*32", text "")"},
    {"the EC falls silent after 4 bytes: they are kept", "bound ec-fw-silent", "GetECFirmwareVer2 31", R"(
        in 66 00; out 66 a1; in 66 01; in 62 5a; in 66 01; in 62 4c; in 66 01; in 62 4b; in 66 01; in 62 44
        {in 66 00; sleep 1}*500; "WaitOBFTimeout Error!! EC FW:=ZLKD="
        = 0, buffer "~*32", text "ZLKD")"},
    {"a byte at the last of its 500 polls is taken", "bound late-at=2:499", "GetECFirmwareVer2 31", R"(
        in 66 00; out 66 a1; {in 66 00; sleep 1}*499; @fw-text; in 66 01; in 62 00; "EC FW:=ZLKD 1.07.02="
        = 1, buffer "ZLKD 1.07.02\0*19~", text "ZLKD 1.07.02")"},
    {"length bytes without a NUL: not copied", "bound", "GetECFirmwareVer2 8", R"(
        in 66 00; out 66 a1; in 66 01; in 62 5a; in 66 01; in 62 4c; in 66 01; in 62 4b; in 66 01; in 62 44
        in 66 01; in 62 20; in 66 01; in 62 31; in 66 01; in 62 2e; in 66 01; in 62 30; "EC FW:=ZLKD 1.0="
        = 0, buffer "~*9", text "ZLKD 1.0")"},
    {"length - 1 characters and the NUL fit", "bound", "GetECFirmwareVer2 13", R"(
        in 66 00; out 66 a1; @fw-text; in 66 01; in 62 00; "EC FW:=ZLKD 1.07.02="
        = 1, buffer "ZLKD 1.07.02\0~", text "ZLKD 1.07.02")"},
    {"a short text is NUL-padded to the length", "bound fw-abc", "GetECFirmwareVer2 16", R"(
        in 66 00; out 66 a1; in 66 01; in 62 41; in 66 01; in 62 42; in 66 01; in 62 43; in 66 01; in 62 00
        "EC FW:=ABC="; = 1, buffer "ABC\0*13~", text "ABC")"},
    {"31 characters, the NUL as the 32nd byte", "bound fw-31", "GetECFirmwareVer2 32", R"(
        in 66 00; out 66 a1; {in 66 01; in 62 56}*31; in 66 01; in 62 00; "EC FW:=VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV="
        = 1, buffer "VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV\0~", text "VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV")"},
    {"... with a longer length, padded to it", "bound fw-31", "GetECFirmwareVer2 40", R"(
        in 66 00; out 66 a1; {in 66 01; in 62 56}*31; in 66 01; in 62 00; "EC FW:=VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV="
        = 1, buffer "VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV\0*9~", text "VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV")"},
    {"... with length 31: no room for the NUL", "bound fw-31", "GetECFirmwareVer2 31", R"(
        in 66 00; out 66 a1; {in 66 01; in 62 56}*31; "EC FW:=VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV="
        = 0, buffer "~*32", text "VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV")"},
    {"32 characters: a 32nd that is no NUL fails, 31 kept", "bound fw-32", "GetECFirmwareVer2 32", R"(
        in 66 00; out 66 a1; {in 66 01; in 62 56}*32; "EC FW:=VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV="
        = 0, buffer "~*33", text "VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV")"},
    {"40 characters, length 40: 32 bytes taken at most", "bound fw-40", "GetECFirmwareVer2 40", R"(
        in 66 00; out 66 a1; {in 66 01; in 62 56}*32; "EC FW:=VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV="
        = 0, buffer "~*41", text "VVVVVVVVVVVVVVVVVVVVVVVVVVVVVVV")"},
    {"length 0: the command, no byte, the text emptied", "bound fw", "GetECFirmwareVer2 0",
     R"(in 66 00; out 66 a1; "EC FW:=="; = 0, buffer "~", text "")"},
    {"a negative length counts as 0", "bound", "GetECFirmwareVer2 -5",
     R"(in 66 00; out 66 a1; "EC FW:=="; = 0, buffer "~", text "")"},
    {"a null buffer: the text kept for the fan test, no success", "bound", "GetECFirmwareVer2 null 31", R"(
        in 66 00; out 66 a1; @fw-text; in 66 01; in 62 00; "EC FW:=ZLKD 1.07.02="
        = 0, text "ZLKD 1.07.02")"},
    {"a byte left waiting is dropped before the command", "bound stale-62", "GetECFirmwareVer2 31", R"(
        in 66 01; in 62 00; in 66 00; out 66 a1; @fw-text; in 66 01; in 62 00; "EC FW:=ZLKD 1.07.02="
        = 1, buffer "ZLKD 1.07.02\0*19~", text "ZLKD 1.07.02")"},
    {"a floating bus: 32 bytes dropped, then the 500 polls", "bound floating-from=0", "GetECFirmwareVer2 31", R"(
        in 66 ff; {in 62 ff; in 66 ff}*32; sleep 1; {in 66 ff; sleep 1}*499; "WaitIBFTimeout timeout!!"
        = 0, buffer "~*32", text "")"},
    {"the bus floats after the command: 0xFF bytes, 31 kept, a failed read", "bound floating-from=2",
     "GetECFirmwareVer2 32",
     "in 66 00; out 66 a1; {in 66 ff; in 62 ff}*32\n\"EC FW:=" HWTK3_FF31 "=\"\n"
     "= 0, buffer \"~*33\", text \"" HWTK3_FF31_ESCAPED "\""},
};

// The ZLKD EC on 0x68/0x6C: silent, an answer lost or late, a floating
// bus, each step of its fan test paths failing.
const Row kEcZlkd[] = {
    {"temperature: the EC takes nothing", "zlkd bound silent-from=0", "ZLKDGetCpuTemperature2",
     "@runs-out 6c 02 100; = 0, temperature untouched"},
    {"temperature: busy from the command on, its answer waiting: no answer", "zlkd bound silent-from=2",
     "ZLKDGetCpuTemperature2", "in 6c 00; out 6c 2d; @runs-out 6c 03 100; = 0, temperature untouched"},
    {"temperature: no answer", "zlkd bound unanswered-from=0", "ZLKDGetCpuTemperature2",
     "in 6c 00; out 6c 2d; @runs-out 6c 00 100; = 0, temperature untouched"},
    {"temperature: the answer lost", "zlkd bound drop-at=2", "ZLKDGetCpuTemperature2",
     "in 6c 00; out 6c 2d; @runs-out 6c 00 100; = 0, temperature untouched"},
    {"temperature: the third byte lost fails it too", "zlkd bound drop-at=6", "ZLKDGetCpuTemperature2",
     "@cmd68 2d; @read68 2d; @read68 26; @runs-out 6c 00 100; = 0, temperature untouched"},
    {"temperature: the answer 501 ms late", "zlkd bound late-at=2", "ZLKDGetCpuTemperature2",
     "in 6c 00; out 6c 2d; @runs-out 6c 00 100; = 0, temperature untouched"},
    {"temperature: the answer 499 ms late is taken", "zlkd bound late-at=2:499", "ZLKDGetCpuTemperature2",
     "in 6c 00; out 6c 2d; {in 6c 00; sleep 5}*100; @read68 2d; @read68 26; @read68 00; sleep 10; = 1, temperature 45"},
    {"temperature: a floating bus", "zlkd bound floating-from=0", "ZLKDGetCpuTemperature2",
     "@floats 6c 68; = 0, temperature untouched"},
    {"fan speed: the EC takes nothing", "zlkd bound silent-from=0", "ZLKDGetFanSpeed2",
     "@runs-out 6c 02 100; = 0, rpm untouched"},
    {"fan speed: the low byte lost, no line", "zlkd bound drop-at=4", "ZLKDGetFanSpeed2",
     "@cmd68 23; @read68 0f; @runs-out 6c 00 100; = 0, rpm untouched"},
    {"fan speed: the answer late", "zlkd bound late-at=2", "ZLKDGetFanSpeed2",
     "in 6c 00; out 6c 23; @runs-out 6c 00 100; = 0, rpm untouched"},
    {"fan speed: a floating bus", "zlkd bound floating-from=0", "ZLKDGetFanSpeed2",
     "@floats 6c 68; = 0, rpm untouched"},
    {"fan speed: the three bytes of an answer never taken dropped first", "zlkd bound stale-68", "ZLKDGetFanSpeed2",
     "in 6c 01; in 68 2d; in 6c 01; in 68 26; in 6c 01; in 68 00; @zlkd-tachometer 0f 37 F 37 200; = 1, rpm 2400"},
    {"target: the EC takes nothing, no port line", "zlkd bound silent-from=0", "ZLKDSetFanSpeed2 3000",
     R"("Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"; @runs-out 6c 02 100; = 0)"},
    {"target: the command sent, never taken", "zlkd bound silent-from=2", "ZLKDSetFanSpeed2 3000", R"(
        "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"; @cmd68 24; "Set 0x24 to port 0x6C"; @runs-out 6c 02 100
        = 0)"},
    {"target: the high byte never taken, the low one never sent", "zlkd bound silent-from=4", "ZLKDSetFanSpeed2 3000", R"(
        "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"; @cmd68 24; "Set 0x24 to port 0x6C"; @data68 0f; "Set 0xF to port 0x68"
        @runs-out 6c 02 100; = 0)"},
    {"target: the low byte sent, never taken", "zlkd bound silent-from=6", "ZLKDSetFanSpeed2 3000", R"(
        "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"
        @cmd68 24; "Set 0x24 to port 0x6C"; @data68 0f; "Set 0xF to port 0x68"; @data68 5f; "Set 0x5F to port 0x68"
        @runs-out 6c 02 100; = 0)"},
    {"target: the low byte taken after the wait", "zlkd bound late-at=5", "ZLKDSetFanSpeed2 3000", R"(
        "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"
        @cmd68 24; "Set 0x24 to port 0x6C"; @data68 0f; "Set 0xF to port 0x68"; @data68 5f; "Set 0x5F to port 0x68"
        @runs-out 6c 02 100; = 0)"},
    {"target: the low byte taken just in time", "zlkd bound late-at=5:499", "ZLKDSetFanSpeed2 3000", R"(
        "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"
        @cmd68 24; "Set 0x24 to port 0x6C"; @data68 0f; "Set 0xF to port 0x68"; @data68 5f; "Set 0x5F to port 0x68"
        {in 6c 02; sleep 5}*100; in 6c 00; sleep 10; = 1)"},
    {"target: a floating bus", "zlkd bound floating-from=0", "ZLKDSetFanSpeed2 3000",
     R"("Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"; @floats 6c 68; = 0)"},
    {"fan test: the target fails", "zlkd bound fw silent-from=0", "FanCpu 3000 100", R"(
        "ec ZLKD"; "Set rpm to 3000"; "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"; @runs-out 6c 02 100
        "Error while setting fan speed!"; = false, rpm untouched, temperature untouched)"},
    {"fan test: the speed fails", "zlkd bound fw silent-from=7", "FanCpu 3000 100", R"(
        "ec ZLKD"; "Set rpm to 3000"; @zlkd-target-3000; sleep 3000; @runs-out 6c 02 100
        "Error while getting fan speed!"; = false, rpm untouched, temperature untouched)"},
    {"fan test: the temperature fails after the speed", "zlkd bound fw silent-from=13", "FanCpu 3000 100", R"(
        "ec ZLKD"; "Set rpm to 3000"; @zlkd-target-3000; sleep 3000
        @zlkd-tachometer 0f 5f F 5F 160; "Get fan speed 3000"; sleep 200; @runs-out 6c 02 100
        "Error while getting CPU temperature!"; = false, rpm 3000, temperature untouched)"},
    {"fan test: the temperature's answer lost", "zlkd bound fw drop-at=15", "FanCpu 3000 100", R"(
        "ec ZLKD"; "Set rpm to 3000"; @zlkd-target-3000; sleep 3000
        @zlkd-tachometer 0f 5f F 5F 160; "Get fan speed 3000"; sleep 200; @cmd68 2d; @runs-out 6c 00 100
        "Error while getting CPU temperature!"; = false, rpm 3000, temperature untouched)"},
    {"fan values: the speed's answer late", "zlkd bound fw late-at=2", "FanCpuGetValue 1", R"(
        @cmd68 23; @runs-out 6c 00 100; "Error while getting fan speed!"; = false, rpm untouched, temperature untouched)"},
    {"fan values: the temperature fails after the speed", "zlkd bound fw floating-from=6", "FanCpuGetValue 1", R"(
        @zlkd-tachometer 0f 37 F 37 200; sleep 200; @floats 6c 68; "Error while getting CPU temperature!"
        = false, rpm 2400, temperature untouched)"},
};

// The machine-type EC on 0x25C/0x25D: the Fan0 control flag, the fan
// test's duty, tachometer and temperature steps.
const Row kEcMachineType[] = {
    {"Fan0 flag: the EC takes nothing", "machine-type type=1 bound silent-from=0", "SetFanManual2 1",
     "@ec25c-silent; = 0"},
    {"Fan0 flag: no answer to its read, nothing written", "machine-type type=1 bound unanswered-from=0",
     "SetFanManual2 1", "@cmd25c 94; @data25c 21; @runs-out 25d 00 100; = 0"},
    {"Fan0 flag: the read's answer lost", "machine-type type=1 bound drop-at=4", "SetFanManual2 0",
     "@cmd25c 94; @data25c 21; @runs-out 25d 00 100; = 0"},
    {"Fan0 flag: the read's answer late", "machine-type type=1 bound late-at=4", "SetFanManual2 1",
     "@cmd25c 94; @data25c 21; @runs-out 25d 00 100; = 0"},
    {"Fan0 flag: the write's command never taken, no Set line", "machine-type type=1 bound silent-from=8",
     "SetFanManual2 1", R"(
        @cmd25c 94; @data25c 21; @read25c 85; "Read Fan0 Ctrl Flag: 85"; @cmd25c 95; @runs-out 25d 02 100
        = 0)"},
    {"Fan0 flag: the new flag sent, never taken", "machine-type type=1 bound silent-from=12", "SetFanManual2 1", R"(
        @cmd25c 94; @data25c 21; @read25c 85; "Read Fan0 Ctrl Flag: 85"
        @cmd25c 95; @data25c 21; @data25c 05; @runs-out 25d 02 100; "Set Fan0 Ctrl Flag: 5"
        = 0)"},
    {"Fan0 flag: the new flag taken after the wait", "machine-type type=1 bound late-at=11", "SetFanManual2 1", R"(
        @cmd25c 94; @data25c 21; @read25c 85; "Read Fan0 Ctrl Flag: 85"
        @cmd25c 95; @data25c 21; @data25c 05; @runs-out 25d 02 100; "Set Fan0 Ctrl Flag: 5"
        = 0)"},
    {"Fan0 flag: a floating bus", "machine-type type=1 bound floating-from=0", "SetFanManual2 1",
     "@ec25c-floats; = 0"},
    {"fan test: the duty never taken", "machine-type checked bound silent-from=0", "FanCpu 3000 100",
     "@ec25c-silent; = false, rpm untouched, temperature untouched"},
    {"fan test: the duty's index never taken, the duty never sent: no line", "machine-type checked bound silent-from=4",
     "FanCpu 3000 100", "@cmd25c 84; @data25c 00; @runs-out 25d 02 100; = false, rpm untouched, temperature untouched"},
    {"fan test: the duty taken after the wait, its line printed", "machine-type checked bound late-at=5",
     "FanCpu 3000 100", R"(
        @cmd25c 84; @data25c 00; @data25c fa; @runs-out 25d 02 100; "Set Fan0 Duty: 250"
        = false, rpm untouched, temperature untouched)"},
    {"fan test: a floating bus", "machine-type checked bound floating-from=0", "FanCpu 3000 100",
     "@ec25c-floats; = false, rpm untouched, temperature untouched"},
    {"fan test: the tachometer's high byte fails", "machine-type checked bound silent-from=7", "FanCpu 3000 100", R"(
        @cmd25c 84; @data25c 00; @data25c fa; in 25d 00; "Set Fan0 Duty: 250"; sleep 3000; @ec25c-silent
        = false, rpm untouched, temperature untouched)"},
    {"fan test: the tachometer's low byte lost", "machine-type checked bound drop-at=21", "FanCpu 3000 100", R"(
        @cmd25c 84; @data25c 00; @data25c fa; in 25d 00; "Set Fan0 Duty: 250"; sleep 3000
        @ec25c-read 18 1f 01; "MSB: 1"; @cmd25c 80; @data25c 18; @data25c 1e; @runs-out 25d 00 100
        = false, rpm untouched, temperature untouched)"},
    {"fan test: the temperature late after the speed", "machine-type checked bound late-at=27", "FanCpu 3000 100", R"(
        @cmd25c 84; @data25c 00; @data25c fa; in 25d 00; "Set Fan0 Duty: 250"; sleep 3000
        @mt-tachometer 01 1 af AF 1af 5002; sleep 200; @cmd25c 90; @data25c a0; @runs-out 25d 00 100
        = false, rpm 5002, temperature untouched)"},
    {"fan values: the tachometer fails", "machine-type checked bound silent-from=0", "FanCpuGetValue 1",
     "@ec25c-silent; = false, rpm untouched, temperature untouched"},
    {"fan values: the temperature fails after the speed", "machine-type checked bound floating-from=16",
     "FanCpuGetValue 1", R"(
        @mt-tachometer 03 3 82 82 382 2401; sleep 200; @ec25c-floats
        = false, rpm 2401, temperature untouched)"},
};

// Another host thread releases the binding while an export pauses: the
// steps after it fail at the binding (the RAM-window paths included) and
// touch no port.
const Row kEcReleased[] = {
    {"PWM path: released during the settle", "pwm bound released-in-pause=3000", "FanCpu 3000 100 60", R"(
        "old ec, fan uses pwm control"; @pwm-write 63 3c; sleep 10; sleep 3000; @released
        "Error while getting Fan speed/CPU temperature!"; = false, rpm 60, temperature untouched)"},
    {"AMD path: released during the settle", "amd bound released-in-pause=3000", "FanCpu 3000 100 0 0", R"(
        @amd-write 6a 0f; @amd-write 6b 5f; sleep 10; sleep 3000; @released
        "Error while getting fan speed of AMD platform!"; = false, rpm 0, temperature untouched)"},
    {"AMD path: released after the speed", "amd bound released-in-pause=200", "FanCpu 3000 100 0 0", R"(
        @amd-write 6a 0f; @amd-write 6b 5f; sleep 10; sleep 3000
        @amd-read 66 0f; @amd-read 67 5f; sleep 10; sleep 200; @released
        "Error while getting CPU temperature of AMD platform!"; = false, rpm 3000, temperature untouched)"},
    {"AMD values: released after the speed", "amd bound released-in-pause=200", "FanCpuGetValue 0", R"(
        @amd-read 66 0f; @amd-read 67 37; sleep 10; sleep 200; @released
        "Error while getting CPU temperature of AMD platform!"; = false, rpm 2400, temperature untouched)"},
    {"ZLKD path: released after the speed", "zlkd bound fw released-in-pause=200", "FanCpuGetValue 1", R"(
        @zlkd-tachometer 0f 37 F 37 200; sleep 200; @released
        "Error while getting CPU temperature!"; = false, rpm 2400, temperature untouched)"},
    {"machine-type path: released during the settle, no line", "machine-type checked bound released-in-pause=3000",
     "FanCpu 3000 100", R"(
        @cmd25c 84; @data25c 00; @data25c fa; in 25d 00; "Set Fan0 Duty: 250"; sleep 3000; @released
        = false, rpm untouched, temperature untouched)"},
    {"machine-type values: released after the speed", "machine-type checked bound released-in-pause=200",
     "FanCpuGetValue 1", R"(
        @mt-tachometer 03 3 82 82 382 2401; sleep 200; @released
        = false, rpm 2401, temperature untouched)"},
    {"0x04F8: released after a failed attempt: the later ones touch no port",
     "type=1 bound charge-never-sticks released-in-pause=1000", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @4f8-attempt 00 0 40 00 0; sleep 1000; @released; sleep 1000; sleep 1000
        = false)"},
    {"EC RAM: released during a read-back's pause: no port after it", "bound charge-never-sticks released-in-pause=1000",
     "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @d2-write 00 0 40; @d2-still-charging 00 0; @released
        {"Fail !! battery is still charging."; sleep 1000}*2; @d2-retry-off
        {"Fail !! battery is still charging."; sleep 1000}*3; @d2-retry-off
        {"Fail !! battery is still charging."; sleep 1000}*3
        = false)"},
    // A RAM window cannot tell that the EC behind it does not decode it.
    {"PWM manual switch on an EC without the window: 0xFF read and written", "zlkd bound", "SetFanManual2 1",
     "@pwm-read d3 ff; @pwm-write d3 ff; sleep 10; = 1"},
};

// The charge switch: every read-back outcome on both platforms, with the
// whole sequence of ports and pauses; the EC failing under it.
const Row kEcCharge[] = {
    {"EC RAM: the bit shows at the second read-back", "bound charge-takes-1000ms", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @d2-write 00 0 40; @d2-still-charging 00 0; @d2-discharging 40 40
        = true)"},
    {"EC RAM: at the third read-back", "bound charge-takes-2000ms", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @d2-write 00 0 40; {@d2-still-charging 00 0}*2; @d2-discharging 40 40
        = true)"},
    {"EC RAM: after the pass, seen by the next one", "bound charge-takes-2500ms", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @d2-off-fails 00 0 40; @d2-retry-off
        @d2-write 40 40 40; @d2-discharging 40 40
        = true)"},
    {"EC RAM: the write sticks in the second pass", "bound charge-sticks-second", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @d2-off-fails 00 0 40; @d2-retry-off
        @d2-write 00 0 40; @d2-discharging 40 40
        = true)"},
    {"EC RAM: in the third pass", "bound charge-sticks-third", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; {@d2-off-fails 00 0 40; @d2-retry-off}*2
        @d2-write 00 0 40; @d2-discharging 40 40
        = true)"},
    {"EC RAM: never: 3 passes, 11 pauses of 1000 ms", "bound charge-never-sticks", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; {@d2-off-fails 00 0 40; @d2-retry-off}*2; @d2-off-fails 00 0 40
        = false)"},
    {"EC RAM: never, switching on", "bound charging-off charge-never-sticks", "SetBatteryChargeEnabled 1", R"(
        "Set battery to charging state"; {@d2-on-fails c1 C1 81; @d2-retry-on}*2; @d2-on-fails c1 C1 81
        = false)"},
    {"EC RAM: on while on still writes", "bound", "SetBatteryChargeEnabled 1",
     R"("Set battery to charging state"; @d2-write 00 0 00; @d2-charging 00 0; = true)"},
    {"EC RAM: only bit 6 is judged, the others kept", "bound charge-byte-3a charge-bit-flips",
     "SetBatteryChargeEnabled 0",
     R"("Set battery to discharging state"; @d2-write 3a 3A 7a; @d2-discharging 7b 7B; = true)"},
    {"EC RAM: the read unanswered: nothing written, the read-backs go on", "bound drop-at=4",
     "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @ec62-read-unanswered d2 00; {@d2-still-charging 00 0}*3; @d2-bank
        @d2-retry-off; @d2-write 00 0 40; @d2-discharging 40 40
        = true)"},
    {"EC RAM: a read-back unanswered: no value line", "bound drop-at=16", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @d2-write 00 0 40
        @ec62-read-unanswered d2 00; "Fail !! battery is still charging."; sleep 1000; @d2-discharging 40 40
        = true)"},
    {"EC RAM: a read-back late: its answer dropped by the next", "bound late-at=16", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @d2-write 00 0 40
        @ec62-read-unanswered d2 00; "Fail !! battery is still charging."; sleep 1000
        in 66 01; in 62 40; @d2-discharging 40 40
        = true)"},
    {"EC RAM: busy from the first read-back on, the read's late answer out at its last poll: not dropped then",
     "bound late-at=4:498 silent-from=6", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @ec62-read-unanswered d2 00
        {in 66 02; sleep 5}*100; in 66 03; "Fail !! battery is still charging."; sleep 1000
        in 66 03; in 62 00; @ec62-silent; "Fail !! battery is still charging."; sleep 1000
        @ec62-silent; "Fail !! battery is still charging."; sleep 1000; @ec62-silent
        {@d2-retry-off; @d2-dead-pass ec62-silent charging}*2
        = false)"},
    {"EC RAM: the bank identifier unanswered: no line", "bound charge-never-sticks drop-at=34",
     "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @d2-write 00 0 40; {@d2-still-charging 00 0}*3
        @ec62-read-unanswered ff 00; @d2-retry-off; @d2-off-fails 00 0 40; @d2-retry-off; @d2-off-fails 00 0 40
        = false)"},
    {"EC RAM: no read ever answered", "bound unanswered-from=0", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"
        {@d2-unanswered-pass; @d2-retry-off}*2; @d2-unanswered-pass
        = false)"},
    {"EC RAM: a slow EC: no look finds the answer, nothing written", "bound latency=25", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; in 66 00; @slow-read d2 00; @slow-pass 00; @d2-retry-off
        in 66 01; in 62 02; in 66 00; @slow-read d2 02; @slow-pass 02; @d2-retry-off
        in 66 01; in 62 02; in 66 00; @slow-read d2 02; @slow-pass 02
        = false)"},
    {"EC RAM: the EC takes nothing", "bound silent-from=0", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; {@d2-dead-pass ec62-silent charging; @d2-retry-off}*2
        @d2-dead-pass ec62-silent charging; = false)"},
    {"EC RAM: the EC takes nothing, switching on", "bound charging-off silent-from=0", "SetBatteryChargeEnabled 1", R"(
        "Set battery to charging state"; {@d2-dead-pass ec62-silent discharging; @d2-retry-on}*2
        @d2-dead-pass ec62-silent discharging; = false)"},
    {"EC RAM: a floating bus (its 0xFF would read as charging off)", "bound floating-from=0",
     "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; {@d2-dead-pass ec62-floats charging; @d2-retry-off}*2
        @d2-dead-pass ec62-floats charging; = false)"},
    {"0x04F8: sticks at the second attempt", "type=1 bound charge-sticks-second", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @4f8-attempt 00 0 40 00 0; sleep 1000; @4f8-attempt 00 0 40 40 40
        = true)"},
    {"0x04F8: at the third", "type=1 bound charge-sticks-third", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; {@4f8-attempt 00 0 40 00 0; sleep 1000}*2; @4f8-attempt 00 0 40 40 40
        = true)"},
    {"0x04F8: never: 3 attempts, 3 pauses", "type=1 bound charge-never-sticks", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; {@4f8-attempt 00 0 40 00 0; sleep 1000}*3
        = false)"},
    {"0x04F8: never, switching on", "type=1 bound charging-off charge-never-sticks", "SetBatteryChargeEnabled 1", R"(
        "Set battery to charging state"; {@4f8-attempt c1 C1 81 c1 C1; sleep 1000}*3
        = false)"},
    {"0x04F8: another bit changing fails every attempt", "type=1 bound charge-bit-flips", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @4f8-attempt 00 0 40 41 41; sleep 1000; @4f8-attempt 41 41 41 40 40
        sleep 1000; @4f8-attempt 40 40 40 41 41; sleep 1000
        = false)"},
    {"0x04F8: the read unanswered: no line, nothing written, the attempt fails", "type=1 bound drop-at=6",
     "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @cmd25c 80; @data25c 04; @data25c f8; @runs-out 25d 00 100
        @ec25c-read 04 f8 00; "Read back 0x4F8: 0x0"; sleep 1000; @4f8-attempt 00 0 40 40 40
        = true)"},
    {"0x04F8: the read-back unanswered", "type=1 bound drop-at=22", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @ec25c-read 04 f8 00; "Ori. 0x4F8: 0x0"; @ec25c-write 04 f8 40
        @cmd25c 80; @data25c 04; @data25c f8; @runs-out 25d 00 100; sleep 1000; @4f8-attempt 40 40 40 40 40
        = true)"},
    {"0x04F8: the read-back late: its answer dropped by the next attempt", "type=1 bound late-at=22",
     "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @ec25c-read 04 f8 00; "Ori. 0x4F8: 0x0"; @ec25c-write 04 f8 40
        @cmd25c 80; @data25c 04; @data25c f8; @runs-out 25d 00 100; sleep 1000
        in 25d 01; in 25c 40; @4f8-attempt 40 40 40 40 40
        = true)"},
    {"0x04F8: no read ever answered: nothing written", "type=1 bound unanswered-from=0", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"
        {@cmd25c 80; @data25c 04; @data25c f8; @runs-out 25d 00 100; @cmd25c 80; @data25c 04; @data25c f8
         @runs-out 25d 00 100; sleep 1000}*3
        = false)"},
    {"0x04F8: the EC takes nothing", "type=1 bound silent-from=0", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; {@ec25c-silent; @ec25c-silent; sleep 1000}*3; = false)"},
    {"0x04F8: the EC takes nothing, switching on", "type=1 bound charging-off silent-from=0",
     "SetBatteryChargeEnabled 1",
     R"("Set battery to charging state"; {@ec25c-silent; @ec25c-silent; sleep 1000}*3; = false)"},
    {"0x04F8: a floating bus", "type=1 bound floating-from=0", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; {@ec25c-floats; @ec25c-floats; sleep 1000}*3; = false)"},
    {"0x04F8 never touches EC RAM 0xD2, the charge byte reads it all the same", "type=1 bound charging-off",
     "GetBatteryChargeState", "@ec62-read d2 c1; = 0xc1"},
    {"charging on? 0x04F8 says off", "type=1 bound charging-off", "IsBatteryChargeEnabled",
     R"(@ec25c-read 04 f8 c1; "Data in 0x4F8: 0xC1"; = false)"},
    {"charging on? the EC takes nothing", "type=1 bound silent-from=0", "IsBatteryChargeEnabled",
     "@ec25c-silent; = false"},
    {"charging on? the answer lost: no line", "type=1 bound drop-at=6", "IsBatteryChargeEnabled",
     "@cmd25c 80; @data25c 04; @data25c f8; @runs-out 25d 00 100; = false"},
    {"charging on? the answer late", "type=1 bound late-at=6", "IsBatteryChargeEnabled",
     "@cmd25c 80; @data25c 04; @data25c f8; @runs-out 25d 00 100; = false"},
    {"charging on? a floating bus", "type=1 bound floating-from=0", "IsBatteryChargeEnabled",
     "@ec25c-floats; = false"},
    {"charging on? a byte left waiting is dropped first", "type=1 bound stale-25c", "IsBatteryChargeEnabled",
     R"(in 25d 01; in 25c 5a; @ec25c-read 04 f8 00; "Data in 0x4F8: 0x0"; = true)"},
    {"charge byte: the EC takes no command: 0, not 0xFF", "bound charging-off silent-from=0",
     "GetBatteryChargeState", "@ec62-silent; = 0x00"},
    {"charge byte: the index never taken: 0", "bound charging-off silent-from=2", "GetBatteryChargeState",
     "in 66 00; out 66 80; sleep 10; @runs-out 66 02 98; = 0x00"},
    {"charge byte: a floating bus: 0", "bound floating-from=0", "GetBatteryChargeState", "@ec62-floats; = 0x00"},
    {"charge byte: a slow EC: the port's older byte, unlooked at", "bound charging-off data-port-62-holds-5a latency=25",
     "GetBatteryChargeState",
     "in 66 00; out 66 80; sleep 10; {in 66 02; sleep 5}*3; in 66 00; out 62 d2; sleep 20; in 62 5a; = 0x5a"},
};

// Global\Access_EC, through the station's stand-in: asked for once per EC
// session, never held across a long pause, waited for 50 ms at most, an
// abandoned one ours, one that cannot be made asked for again.
const Row kEcMutex[] = {
    {"free: one session around the exchange, the pause after it", "zlkd bound station-mutex",
     "ZLKDGetCpuTemperature2", R"(
        @mutex-created; @mutex-taken; @cmd68 2d; @read68 2d; @read68 26; @read68 00; @mutex-released; sleep 10
        = 1, temperature 45)"},
    {"held by another program: 50 ms, then without it", "zlkd bound station-mutex mutex-held",
     "ZLKDGetCpuTemperature2", R"(
        @mutex-created; WaitForSingleObject Global\Access_EC, 50 ms -> WAIT_TIMEOUT
        @cmd68 2d; @read68 2d; @read68 26; @read68 00; sleep 10
        = 1, temperature 45)"},
    {"... the exchange's budget starts after the wait", "zlkd bound station-mutex mutex-held silent-from=0",
     "ZLKDGetCpuTemperature2", R"(
        @mutex-created; WaitForSingleObject Global\Access_EC, 50 ms -> WAIT_TIMEOUT; @runs-out 6c 02 100
        = 0, temperature untouched)"},
    {"abandoned: ours, released after the session", "zlkd bound station-mutex mutex-abandoned",
     "ZLKDGetCpuTemperature2", R"(
        @mutex-created; WaitForSingleObject Global\Access_EC, 50 ms -> WAIT_ABANDONED
        @cmd68 2d; @read68 2d; @read68 26; @read68 00; @mutex-released; sleep 10
        = 1, temperature 45)"},
    {"ZLKD fan test: three sessions, none across a pause", "zlkd bound fw station-mutex", "FanCpu 3000 100", R"(
        "ec ZLKD"; "Set rpm to 3000"; "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"
        @mutex-created; @mutex-taken; @cmd68 24; "Set 0x24 to port 0x6C"; @data68 0f; "Set 0xF to port 0x68"
        @data68 5f; "Set 0x5F to port 0x68"; in 6c 00; @mutex-released; sleep 10; sleep 3000
        @mutex-taken; @cmd68 23; @read68 0f; @read68 5f; @mutex-released
        "tacho msb: 0xF, lsb: 0x5F"; "tacho: 160"; sleep 10; "Get fan speed 3000"; sleep 200
        @mutex-taken; @cmd68 2d; @read68 2d; @read68 26; @read68 00; @mutex-released; sleep 10; sleep 200
        = true, rpm 3000, temperature 45)"},
    {"cannot be made: asked for by every session, never waited for", "zlkd bound fw mutex-fails", "FanCpu 3000 100", R"(
        "ec ZLKD"; "Set rpm to 3000"; "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"
        CreateMutexA Global\Access_EC fails; @cmd68 24; "Set 0x24 to port 0x6C"; @data68 0f; "Set 0xF to port 0x68"
        @data68 5f; "Set 0x5F to port 0x68"; in 6c 00; sleep 10; sleep 3000
        CreateMutexA Global\Access_EC fails; @cmd68 23; @read68 0f; @read68 5f; "tacho msb: 0xF, lsb: 0x5F"; "tacho: 160"
        sleep 10; "Get fan speed 3000"; sleep 200
        CreateMutexA Global\Access_EC fails; @zlkd-temperature 2d; sleep 200
        = true, rpm 3000, temperature 45)"},
    {"made at the second try, kept for the third session", "zlkd bound fw mutex-fails-once", "FanCpu 3000 100", R"(
        "ec ZLKD"; "Set rpm to 3000"; "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f"
        CreateMutexA Global\Access_EC fails; @cmd68 24; "Set 0x24 to port 0x6C"; @data68 0f; "Set 0xF to port 0x68"
        @data68 5f; "Set 0x5F to port 0x68"; in 6c 00; sleep 10; sleep 3000
        @mutex-created; @mutex-taken; @cmd68 23; @read68 0f; @read68 5f; @mutex-released
        "tacho msb: 0xF, lsb: 0x5F"; "tacho: 160"; sleep 10; "Get fan speed 3000"; sleep 200
        @mutex-taken; @cmd68 2d; @read68 2d; @read68 26; @read68 00; @mutex-released; sleep 10; sleep 200
        = true, rpm 3000, temperature 45)"},
    {"firmware text: one session", "bound station-mutex", "GetECFirmwareVer2 31", R"(
        @mutex-created; @mutex-taken; in 66 00; out 66 a1; @fw-text; in 66 01; in 62 00; "EC FW:=ZLKD 1.07.02="
        @mutex-released
        = 1, buffer "ZLKD 1.07.02\0*19~", text "ZLKD 1.07.02")"},
    {"PWM state: one session for four window reads and their pauses", "pwm bound station-mutex",
     "GetFanCurState2", R"(
        @mutex-created; @mutex-taken
        @pwm-read d3 41; sleep 10; @pwm-read 63 30; sleep 10; @pwm-read 66 09; @pwm-read 67 60; @mutex-released
        sleep 10; = 1, manual 0, speed 48, rpm 2400)"},
    {"PWM fan test: two sessions, none across the settle", "pwm bound station-mutex", "FanCpu 3000 100 60", R"(
        "old ec, fan uses pwm control"; @mutex-created; @mutex-taken; @pwm-write 63 3c; @mutex-released; sleep 10
        sleep 3000; @mutex-taken; @pwm-read 51 2d; sleep 10; @pwm-read 66 0b; @pwm-read 67 b8; @mutex-released
        sleep 10; sleep 200
        = true, rpm 3000, temperature 45)"},
    {"Fan0 flag: read and write in one session", "machine-type type=1 bound station-mutex", "SetFanManual2 1", R"(
        @mutex-created; @mutex-taken; @cmd25c 94; @data25c 21; @read25c 85; "Read Fan0 Ctrl Flag: 85"
        @cmd25c 95; @data25c 21; @data25c 05; in 25d 00; "Set Fan0 Ctrl Flag: 5"; @mutex-released; sleep 10
        = 1)"},
    {"machine-type fan test: three sessions", "machine-type checked bound station-mutex", "FanCpu 3000 100", R"(
        @mutex-created; @mutex-taken; @cmd25c 84; @data25c 00; @data25c fa; in 25d 00; @mutex-released
        "Set Fan0 Duty: 250"; sleep 3000
        @mutex-taken; @mt-tachometer 01 1 af AF 1af 5002; @mutex-released; sleep 200
        @mutex-taken; @cmd25c 90; @data25c a0; @read25c 2d; @mutex-released; "CPU Temp: 45"; sleep 200
        = true, rpm 5002, temperature 45)"},
    {"0x04F8: read, write and read-back in one session", "type=1 bound station-mutex", "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @mutex-created; @mutex-taken; @4f8-attempt 00 0 40 40 40; @mutex-released
        = true)"},
    {"0x04F8, held by another program: every attempt waits once", "type=1 bound station-mutex mutex-held charge-never-sticks",
     "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @mutex-created
        {WaitForSingleObject Global\Access_EC, 50 ms -> WAIT_TIMEOUT; @4f8-attempt 00 0 40 00 0; sleep 1000}*3
        = false)"},
    {"EC RAM: the read and write one session, each read-back one, none across a pause", "bound station-mutex charge-takes-1000ms",
     "SetBatteryChargeEnabled 0", R"(
        "Set battery to discharging state"; @mutex-created; @mutex-taken; @d2-write 00 0 40; @mutex-released
        @mutex-taken; @ec62-read-obf d2 00; @mutex-released; "Read address 0xD2 back, value = 0x0"
        "Fail !! battery is still charging."; sleep 1000
        @mutex-taken; @ec62-read-obf d2 40; @mutex-released; "Read address 0xD2 back, value = 0x40"
        "Success !! battery is discharging."
        = true)"},
    {"the binding's release closes it", "bound station-mutex fw", "FreeHWIO", R"(
        "IO driver is going to release..."; CloseHandle Global\Access_EC; DeinitializeOls
        = void, ready 0, WinRing0 loaded 0)"},
    {"bound again: made again", "bound station-mutex fw released bound", "ZLKDGetCpuTemperature2", R"(
        @mutex-created; @mutex-taken; @cmd68 2d; @read68 2d; @read68 26; @read68 00; @mutex-released; sleep 10
        = 1, temperature 45)"},
};

const std::vector<Setup> kEcSetups = {
    {"fw-abc", [](sim::Notebook& n) { n.ec.firmwareVersion = "ABC"; }},
    {"fw-31", [](sim::Notebook& n) { n.ec.firmwareVersion = std::string(31, 'V'); }},
    {"fw-32", [](sim::Notebook& n) { n.ec.firmwareVersion = std::string(32, 'V'); }},
    {"fw-40", [](sim::Notebook& n) { n.ec.firmwareVersion = std::string(40, 'V'); }},
    // An answer the host never took, left in the data port (OBF set): of
    // an EC RAM read of 0xD2 on 0x62/0x66, of the ZLKD temperature command
    // (three bytes) on 0x68/0x6C, of a read of EC RAM 0x10 on 0x25C/0x25D.
    {"stale-62",
     [](sim::Notebook& n) {
         n.ec.Out(0x66, 0x80);
         n.ec.Out(0x62, 0xD2);
     }},
    {"stale-68", [](sim::Notebook& n) { n.ec.Out(0x6C, 0x2D); }},
    {"stale-25c",
     [](sim::Notebook& n) {
         n.ec.Ram(0x0010) = 0x5A;
         n.ec.Out(0x25D, 0x80);
         n.ec.Out(0x25C, 0x00);
         n.ec.Out(0x25C, 0x10);
     }},
    // The data port of 0x62/0x66 holds 0x5A, taken: no OBF.
    {"data-port-62-holds-5a",
     [](sim::Notebook& n) {
         n.ec.Ram(0x10) = 0x5A;
         n.ec.Out(0x66, 0x80);
         n.ec.Out(0x62, 0x10);
         n.ec.In(0x66);
         n.ec.In(0x62);
     }},
    {"charge-byte-3a", [](sim::Notebook& n) { n.chargeSwitch.Set(sim::ChargeSwitch::kRamByte, 0x3A); }},
    {"charge-takes-1000ms", [](sim::Notebook& n) { n.chargeSwitch.takesEffectAfterMs = 1000; }},
    {"charge-takes-2000ms", [](sim::Notebook& n) { n.chargeSwitch.takesEffectAfterMs = 2000; }},
    {"charge-takes-2500ms", [](sim::Notebook& n) { n.chargeSwitch.takesEffectAfterMs = 2500; }},
};

// ---- identity set-ups: small tables built for one rule each ----

constexpr std::array<std::uint8_t, 16> kUuid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

sim::Structure First() {
    return sim::SystemInformation("Quorvex First", "P1", "", "SN1", kUuid, "SKU1", "");
}
sim::Structure Second() { return sim::SystemInformation("Quorvex Second", "P2", "", "SN2", kUuid, "SKU2", ""); }
sim::Structure Board() { return sim::BaseboardInformation("", "", "", "Zelka-1", ""); }

struct Table {
    Bytes bytes;
    std::uint16_t count;
};

Table Of(std::initializer_list<sim::Structure> structures) {
    sim::TableBuilder builder;
    for (const sim::Structure& s : structures) builder.Add(s);
    return {builder.Table(), builder.Count()};
}

// The table at the default place with its "_SM_" entry point (length and
// count as given, else the table's own), and as the firmware answer.
void Install(sim::Notebook& n, const Table& table, int length = -1, int count = -1) {
    sim::InstallSmbios(n, table.bytes, table.count, sim::SmbiosLayout{});
    const Bytes entry = sim::SmbiosEntryPoint(2, 8, sim::kTableAddress,
                                              static_cast<std::uint16_t>(length >= 0 ? length : table.bytes.size()),
                                              static_cast<std::uint16_t>(count >= 0 ? count : table.count));
    n.memory.Write(sim::kEntryPointAddress, entry.data(), static_cast<std::uint32_t>(entry.size()));
}

// An entry point at paragraph `offset` of a cleared BIOS area.
void PlaceEntryPoint(sim::Notebook& n, std::uint32_t offset, const Bytes& entry) {
    n.memory.Fill(sim::kBiosAreaBase, 0, sim::kBiosAreaSize);
    n.memory.Write(sim::kBiosAreaBase + offset, entry.data(), static_cast<std::uint32_t>(entry.size()));
}

Bytes DefaultEntryPoint(sim::Notebook& n) {
    Bytes entry(0x1F);
    n.memory.Read(sim::kEntryPointAddress, entry.data(), static_cast<std::uint32_t>(entry.size()));
    return entry;
}

void FixChecksum(Bytes& bytes, std::size_t from, std::size_t count, std::size_t at) {
    bytes[at] = 0;
    std::uint8_t sum = 0;
    for (std::size_t i = from; i < from + count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    bytes[at] = static_cast<std::uint8_t>(-sum);
}

void Version(sim::Notebook& n, std::uint8_t major, std::uint8_t minor) {
    n.firmware.rsmb[1] = major;
    n.firmware.rsmb[2] = minor;
}

const std::vector<Setup> kSetups = {
    {"two-systems", [](sim::Notebook& n) { Install(n, Of({First(), Board(), Second(), sim::EndOfTable()})); }},
    {"system-last", [](sim::Notebook& n) { Install(n, Of({Board(), First()})); }},
    {"system-unterminated",
     [](sim::Notebook& n) {
         Table table = Of({Board(), First()});
         table.bytes.pop_back();  // the second NUL of the double zero
         Install(n, table);
     }},
    {"manufacturer-index-0",
     [](sim::Notebook& n) {
         Install(n, Of({sim::SystemInformation("", "P1", "", "SN1", kUuid, "SKU1", ""), Board()}));
     }},
    {"manufacturer-index-past-texts",
     [](sim::Notebook& n) {
         sim::Structure s(1);
         s.Byte(5).Text("P1").Byte(0).Text("SN1").Raw(Bytes(kUuid.begin(), kUuid.end())).Byte(6).Byte(0).Byte(0);
         Install(n, Of({s, Board()}));
     }},
    {"board-without-serial-field",
     [](sim::Notebook& n) {
         sim::Structure board(2);
         board.Text("Quorvex").Text("B1").Text("1.0");  // length 7: the serial number at 0x07 is outside
         Install(n, Of({First(), board}));
     }},
    {"system-length-0x18",
     [](sim::Notebook& n) {
         sim::Structure s(1);  // up to the UUID's last byte at 0x17
         s.Text("Quorvex First").Text("P1").Byte(0).Text("SN1").Raw(Bytes(kUuid.begin(), kUuid.end()));
         Install(n, Of({s, Board()}));
     }},
    {"version-2.4", [](sim::Notebook& n) { Version(n, 2, 4); }},
    {"version-2.0", [](sim::Notebook& n) { Version(n, 2, 0); }},
    {"version-3.0", [](sim::Notebook& n) { Version(n, 3, 0); }},
    {"no-firmware-export", [](sim::Notebook& n) { n.firmware.exported = false; }},
    {"firmware-copy-fails", [](sim::Notebook& n) { n.firmware.fillFails = true; }},
    {"firmware-grows",
     [](sim::Notebook& n) {
         Install(n, Of({First(), Board()}));
         n.firmware.growsAfterSizeQuery = 16;
     }},
    {"firmware-header-only", [](sim::Notebook& n) { n.firmware.rsmb = {0, 2, 8, 0, 0, 0, 0}; }},
    // The BIOS-area scan.
    {"smbios-bad-then-good",
     [](sim::Notebook& n) {
         Bytes bad = DefaultEntryPoint(n);
         bad[4] = static_cast<std::uint8_t>(bad[4] + 1);
         n.memory.Write(sim::kBiosAreaBase + 0x100, bad.data(), static_cast<std::uint32_t>(bad.size()));
     }},
    {"smbios-then-legacy",
     [](sim::Notebook& n) {
         // A bare "_DMI_" above the "_SM_" one, naming a table of its own.
         constexpr std::uint32_t kSecondTable = sim::kTableAddress + 0x2000;
         const Table second = Of({Second()});
         n.memory.Write(kSecondTable, second.bytes.data(), static_cast<std::uint32_t>(second.bytes.size()));
         const Bytes legacy = sim::LegacyEntryPoint(kSecondTable, static_cast<std::uint16_t>(second.bytes.size()),
                                                    second.count, 0x28);
         n.memory.Write(sim::kBiosAreaBase + 0xF000, legacy.data(), static_cast<std::uint32_t>(legacy.size()));
     }},
    {"smbios-at-ffe0", [](sim::Notebook& n) { PlaceEntryPoint(n, 0xFFE0, DefaultEntryPoint(n)); }},
    {"smbios-at-fff0", [](sim::Notebook& n) { PlaceEntryPoint(n, 0xFFF0, DefaultEntryPoint(n)); }},
    {"legacy-at-fff0",
     [](sim::Notebook& n) {
         const Bytes entry = DefaultEntryPoint(n);
         PlaceEntryPoint(n, 0xFFF0, Bytes(entry.begin() + 0x10, entry.begin() + 0x1F));
     }},
    {"smbios-at-ffe0-too-long",
     [](sim::Notebook& n) {
         Bytes entry = DefaultEntryPoint(n);
         entry[5] = 0x21;  // one byte more than the area holds from 0xFFE0
         PlaceEntryPoint(n, 0xFFE0, entry);
     }},
    {"smbios-without-intermediate-anchor",
     [](sim::Notebook& n) {
         Bytes entry = DefaultEntryPoint(n);
         entry[0x10] = '-';
         FixChecksum(entry, 0x10, 15, 0x15);
         FixChecksum(entry, 0, entry[5], 4);
         PlaceEntryPoint(n, 0x1C0, entry);
     }},
    {"smbios-intermediate-checksum-bad",
     [](sim::Notebook& n) {
         Bytes entry = DefaultEntryPoint(n);
         entry[0x15] = static_cast<std::uint8_t>(entry[0x15] + 1);
         FixChecksum(entry, 0, entry[5], 4);
         PlaceEntryPoint(n, 0x1C0, entry);
     }},
    {"legacy-checksum-bad",
     [](sim::Notebook& n) {
         Bytes entry = DefaultEntryPoint(n);
         Bytes legacy(entry.begin() + 0x10, entry.begin() + 0x1F);
         legacy[5] = static_cast<std::uint8_t>(legacy[5] + 1);
         PlaceEntryPoint(n, 0x9A30, legacy);
     }},
    {"table-unreadable",
     [](sim::Notebook& n) {
         n.memory.faultyBase = sim::kTableAddress;
         n.memory.faultySize = 16;
     }},
    {"count-1-of-2", [](sim::Notebook& n) { Install(n, Of({First(), Second()}), -1, 1); }},
    {"end-of-table-before-count", [](sim::Notebook& n) { Install(n, Of({First(), sim::EndOfTable(), Second()})); }},
    {"length-one-short",
     [](sim::Notebook& n) {
         const Table table = Of({First(), Board()});
         Install(n, table, static_cast<int>(table.bytes.size()) - 1);
     }},
    {"three-bytes-after-the-last",
     [](sim::Notebook& n) {
         const Table table = Of({First()});
         Install(n, table, static_cast<int>(table.bytes.size()) + 3, 2);
     }},
    {"oem-three", [](sim::Notebook& n) { Install(n, Of({First(), sim::OemStrings({"A", "B", "C"})})); }},
    {"oem-two", [](sim::Notebook& n) { Install(n, Of({First(), sim::OemStrings({"A", "B"})})); }},
    {"oem-before-system", [](sim::Notebook& n) { Install(n, Of({sim::OemStrings({"A", "B", "C"}), First()})); }},
    {"oem-without-count",
     [](sim::Notebook& n) {
         sim::Structure oem(11);
         oem.ExtraText("A").ExtraText("B").ExtraText("C");  // length 4: no count byte
         Install(n, Of({First(), oem}));
     }},
};

// More set-ups for the ACPI and battery rows.
void ForceReply(sim::Notebook& n, std::uint16_t length, Bytes data) {
    n.acpi.driver.faults.forceReply = true;
    n.acpi.driver.faults.replyDataLength = length;
    n.acpi.driver.faults.replyData = std::move(data);
}

sim::BatteryDevice& Battery(sim::Notebook& n) { return n.batteries.devices.at(0); }

// The notebook's battery behind a first device that fails one way.
void BehindAFaultyDevice(sim::Notebook& n, bool sim::BatteryDevice::*fault) {
    sim::BatteryDevice faulty = sim::SystemBattery(1);
    faulty.*fault = true;
    n.batteries.devices = {faulty, sim::SystemBattery(2)};
}

const std::vector<Setup> kMoreSetups = {
    {"status-cleared", [](sim::Notebook& n) { n.driver.status = 0; }},
    {"short-structures",
     [](sim::Notebook& n) {
         sim::Structure cache(7);  // length 0x0F: no speed byte
         cache.Text("L9").Word(0x0180).Word(0x0040).Word(0x0040).Word(0x0002).Word(0x0002);
         sim::Structure device(17);  // length 0x15: no speed word
         device.Word(0x000A).Word(0xFFFE).Word(64).Word(64).Word(0x2000).Byte(0x0D).Byte(0);
         device.Text("DIMM9").Text("BANK 9").Byte(0x22).Word(0x0080);
         sim::Structure system(1);  // length 7: too short to be decoded
         system.Text("Quorvex Short").Text("P").Text("V");
         Install(n, Of({cache, device, system}));
     }},
    {"board-count-without-handles",
     [](sim::Notebook& n) {
         sim::Structure board(2);  // says two contained objects, ends before their handles
         board.Byte(0).Byte(0).Byte(0).Text("Zelka-1").Byte(0).Byte(0x09).Byte(0).Word(3).Byte(0x0A).Byte(2);
         Install(n, Of({First(), board}));
     }},
    {"too-short-structures",
     [](sim::Notebook& n) {
         // Each decoded type one byte below its minimum length, a text first.
         const std::pair<std::uint8_t, std::uint8_t> types[] = {{0, 0x11}, {2, 0x07}, {3, 0x08}, {4, 0x19},
                                                                 {6, 0x0B}, {7, 0x0E}, {17, 0x14}};
         sim::TableBuilder builder;
         for (const auto& [type, length] : types) {
             sim::Structure s(type);
             s.Text("X").Raw(Bytes(length - 5, 0));
             builder.Add(s);
         }
         Install(n, {builder.Table(), builder.Count()});
     }},
    {"board-with-handles",
     [](sim::Notebook& n) {
         sim::Structure board(2);
         board.Byte(0).Byte(0).Byte(0).Text("Zelka-1").Byte(0).Byte(0x09).Byte(0).Word(3).Byte(0x0A);
         board.Byte(2).Word(0x0010).Word(0x0011);  // two contained object handles
         Install(n, Of({First(), board}));
     }},
    {"charging-off",
     [](sim::Notebook& n) {
         n.chargeSwitch.Set(sim::ChargeSwitch::kRamByte, 0xC1);
         n.chargeSwitch.Set(sim::ChargeSwitch::kMachineTypeByte, 0xC1);
     }},
    {"pwm-manual", [](sim::Notebook& n) { n.ec.Ram(0xF4D3) = 0x43; }},
    {"reply-100", [](sim::Notebook& n) { Bytes data(100, 0); data[0] = 42; ForceReply(n, 100, data); }},
    {"reply-2", [](sim::Notebook& n) { ForceReply(n, 2, {0x03, 0x01, 0x00, 0x00}); }},
    {"wlan-answers-2", [](sim::Notebook& n) { n.acpi.firmware.forcedResults[sim::AcpiName("WLDG")] = 2; }},
    {"cpu-mode-12345678", [](sim::Notebook& n) { n.acpi.firmware.forcedResults[sim::AcpiName("CFVG")] = 0x12345678; }},
    {"cpu-mode-0", [](sim::Notebook& n) { n.acpi.firmware.forcedResults[sim::AcpiName("CFVG")] = 0; }},
    {"nb-constructor-throws", [](sim::Notebook& n) { n.acpi.objects.constructorThrows = true; }},
    {"nb-invoke-throws", [](sim::Notebook& n) { n.acpi.objects.invokeThrows = true; }},
    {"battery-open-fails", [](sim::Notebook& n) { Battery(n).openFails = true; }},
    {"battery-tag-fails", [](sim::Notebook& n) { Battery(n).tagQueryFails = true; }},
    {"battery-not-system", [](sim::Notebook& n) { Battery(n).information.Capabilities = 0; }},
    {"battery-then-ups", [](sim::Notebook& n) { n.batteries.devices.push_back(sim::UpsBattery(2)); }},
    {"status-fails-then-battery",
     [](sim::Notebook& n) {
         Battery(n).statusQueryFails = true;
         sim::BatteryDevice second = sim::SystemBattery(2);
         second.status.Voltage = 7400;
         n.batteries.devices.push_back(second);
     }},
    {"battery-voltage-0", [](sim::Notebook& n) { Battery(n).status.Voltage = 0; }},
    {"battery-full-0", [](sim::Notebook& n) { Battery(n).information.FullChargedCapacity = 0; }},
    {"battery-huge",
     [](sim::Notebook& n) {
         Battery(n).status.Voltage = 1;
         Battery(n).information.DesignedCapacity = 0xFFFFFFF0;
         Battery(n).status.Capacity = 0xFFFFFFF0;
         Battery(n).information.FullChargedCapacity = 1;
     }},
    {"state-on-line", [](sim::Notebook& n) { Battery(n).status.PowerState = 0x1; }},
    {"state-critical", [](sim::Notebook& n) { Battery(n).status.PowerState = 0x8; }},
    {"state-charging-critical", [](sim::Notebook& n) { Battery(n).status.PowerState = 0x4 | 0x8; }},
    {"state-none", [](sim::Notebook& n) { Battery(n).status.PowerState = 0; }},
    {"device-info-set-fails", [](sim::Notebook& n) { n.batteries.deviceInfoSetFails = true; }},
    {"enum-fails-first", [](sim::Notebook& n) { BehindAFaultyDevice(n, &sim::BatteryDevice::enumFails); }},
    {"detail-size-fails-first",
     [](sim::Notebook& n) { BehindAFaultyDevice(n, &sim::BatteryDevice::detailSizeQueryFails); }},
    {"detail-size-short-first", [](sim::Notebook& n) { BehindAFaultyDevice(n, &sim::BatteryDevice::detailSizeShort); }},
    {"detail-allocation-fails-first",
     [](sim::Notebook& n) { BehindAFaultyDevice(n, &sim::BatteryDevice::detailAllocationFails); }},
    {"detail-fails-first", [](sim::Notebook& n) { BehindAFaultyDevice(n, &sim::BatteryDevice::detailFails); }},
};

const std::vector<Fragment> kIdentityFragments = {
    {"first-lines", R"("hwtk3 get dmi manufacturer: Quorvex First"; "hwtk3 get dmi product name: P1"
        "hwtk3 get dmi sn: SN1"; "hwtk3 get dmi sku number: SKU1")"},
    {"board-line", R"("hwtk3 get dmi board serial number: Zelka-1")"},
    {"first", R"(SystemManufacturer "Quorvex First", SystemProductName "P1", SystemSerialNumber "SN1", SystemSku "SKU1")"},
    {"first-scanned", R"(SystemManufacturer "Quorvex First", SystemProductName "P1", SystemVersion "Not Specified", SystemSerialNumber "SN1", SystemUuid 0102030405060708090a0b0c0d0e0f10, SystemSku "SKU1", SystemFamily "Not Specified")"},
    {"board-scanned", R"(BoardManufacturer "Not Specified", BoardProductName "Not Specified", BoardVersion "Not Specified", BoardSerialNumber "Zelka-1")"},
    {"unbound", "ready 0, WinRing0 loaded 0, kernel32 loaded 0"},
    // The default machine's whole record, as its table holds it; twice
    // decoded, its slot groups fill up (the first four of each type).
    {"machine-fields", "@machine-bios, @machine-system, @machine-board-to-processor"},
    {"machine-bios", R"(BiosVendor "Quorvex Computer Inc.", BiosVersion "K5402ZA.308", BiosDate "03/14/2023", BiosAddress 61440, BiosRomSize 16384)"},
    {"machine-system", R"(SystemManufacturer "Quorvex Computer Inc.", SystemProductName "Quorvex Aero 14 K5402", SystemVersion "1.0", SystemSerialNumber "QV5402K0217A88", SystemUuid 4c4c454400515610804bb2c04f303237, SystemSku "90QV0A71-M00120", SystemFamily "Quorvex Aero")"},
    {"machine-board-to-processor", R"(BoardManufacturer "Quorvex Computer Inc.", BoardProductName "K5402ZA", BoardVersion "1.0", BoardSerialNumber "ZelkaK5402-0217A88", ChassisManufacturer "Quorvex Computer Inc.", ChassisVersion "1.0", ChassisSerialNumber "QV5402K0217A88", ProcessorSocket "U3E1", ProcessorManufacturer "QuantaSil", ProcessorId a3060900fffbebbf, ProcessorVersion "QuantaSil Core q7-1260P", ProcessorExternalClock 100, ProcessorMaxSpeed 4700, ProcessorCurrentSpeed 2100)"},
    {"machine-second", R"(@machine-bios, SystemManufacturer "Quorvex Second", SystemProductName "P2", SystemVersion "Not Specified", SystemSerialNumber "SN2", SystemUuid 0102030405060708090a0b0c0d0e0f10, SystemSku "SKU2", SystemFamily "Not Specified", @machine-board-to-processor, @machine-slots)"},
    {"machine-slots", R"(MemoryDimm[1] "DIMM0", MemoryInstalledSize[1] 16384, MemoryEnabledSize[1] 16384, @caches, @oem, @devices)"},
    {"caches", R"(CacheSocket[1] "L1 Cache", CacheInstalledSize[1] 640, CacheMaxSize[1] 640, CacheSocket[2] "L2 Cache", CacheInstalledSize[2] 9216, CacheMaxSize[2] 9216, CacheSocket[3] "L3 Cache", CacheInstalledSize[3] 12288, CacheMaxSize[3] 12288)"},
    {"oem", R"(OemString[1] "Quorvex OEM", OemString[2] "QV-PLATFORM K5402", OemString[3] "90QV0A71-M00120", OemString[4] "FPT:16.1.25")"},
    {"devices", "MemoryDeviceSpeed[1] 4800, MemoryDeviceSize[1] 16384, MemoryDeviceSpeed[2] 4800, MemoryDeviceSize[2] 16384"},
    {"machine", "@machine-fields, @machine-slots"},
    {"machine-twice", R"(@machine-fields, MemoryDimm[1] "DIMM0", MemoryInstalledSize[1] 16384, MemoryEnabledSize[1] 16384, MemoryDimm[2] "DIMM0", MemoryInstalledSize[2] 16384, MemoryEnabledSize[2] 16384, @caches, CacheSocket[4] "L1 Cache", CacheInstalledSize[4] 640, CacheMaxSize[4] 640, @oem, @devices, MemoryDeviceSpeed[3] 4800, MemoryDeviceSize[3] 16384, MemoryDeviceSpeed[4] 4800, MemoryDeviceSize[4] 16384)"},
    {"untouched", R"(state "untouched", design untouched, full untouched, remaining untouched, percent untouched, voltage untouched)"},
};

// Diag_FillDMIData from the firmware table service: the first structure of
// a type, the version gates, every way the fetch fails.
const Row kFirmwarePath[] = {
    {"the default machine's five fields", "", "FillDMIData 0", "@rsmb; @identity-lines; = 0, @identity, @unbound"},
    {"the first type-1 structure, not the last", "two-systems", "FillDMIData 0",
     "@rsmb; @first-lines; @board-line; = 0, @first, BoardSerialNumber \"Zelka-1\", @unbound"},
    {"a type-1 structure that ends the table is found", "system-last", "FillDMIData 0",
     "@rsmb; @first-lines; @board-line; = 0, @first, BoardSerialNumber \"Zelka-1\", @unbound"},
    {"a string set that runs past the table: not found", "system-unterminated", "FillDMIData 0",
     "@rsmb; @board-line; = 0, BoardSerialNumber \"Zelka-1\", @unbound"},
    {"index 0: the field keeps its value, no line", "manufacturer-index-0", "FillDMIData 0", R"(
        @rsmb; "hwtk3 get dmi product name: P1"; "hwtk3 get dmi sn: SN1"; "hwtk3 get dmi sku number: SKU1"; @board-line
        = 0, SystemProductName "P1", SystemSerialNumber "SN1", SystemSku "SKU1", BoardSerialNumber "Zelka-1", @unbound)"},
    {"an index past the last text: no text, no line", "manufacturer-index-past-texts", "FillDMIData 0", R"(
        @rsmb; "hwtk3 get dmi product name: P1"; "hwtk3 get dmi sn: SN1"; @board-line
        = 0, SystemProductName "P1", SystemSerialNumber "SN1", BoardSerialNumber "Zelka-1", @unbound)"},
    {"a field beyond the structure's length is absent", "board-without-serial-field", "FillDMIData 0",
     "@rsmb; @first-lines; = 0, @first, @unbound"},
    {"a type-1 structure of length 0x18 gives no SKU", "system-length-0x18", "FillDMIData 0", R"(
        @rsmb; "hwtk3 get dmi manufacturer: Quorvex First"; "hwtk3 get dmi product name: P1"; "hwtk3 get dmi sn: SN1"
        @board-line
        = 0, SystemManufacturer "Quorvex First", SystemProductName "P1", SystemSerialNumber "SN1", BoardSerialNumber "Zelka-1", @unbound)"},
    {"a board that lists contained objects", "board-with-handles", "FillDMIData 0",
     "@rsmb; @first-lines; @board-line; = 0, @first, BoardSerialNumber \"Zelka-1\", @unbound"},
    {"... or says it does and has no room for them", "board-count-without-handles", "FillDMIData 0",
     "@rsmb; @first-lines; @board-line; = 0, @first, BoardSerialNumber \"Zelka-1\", @unbound"},
    {"version 2.4: no SKU", "version-2.4", "FillDMIData 0", R"(
        @rsmb; "hwtk3 get dmi manufacturer: Quorvex Computer Inc."; "hwtk3 get dmi product name: Quorvex Aero 14 K5402"
        "hwtk3 get dmi sn: QV5402K0217A88"; "hwtk3 get dmi board serial number: ZelkaK5402-0217A88"
        = 0, SystemManufacturer "Quorvex Computer Inc.", SystemProductName "Quorvex Aero 14 K5402", SystemSerialNumber "QV5402K0217A88", BoardSerialNumber "ZelkaK5402-0217A88", @unbound)"},
    {"version 2.0: nothing of type 1, the board serial still", "version-2.0", "FillDMIData 0", R"(
        @rsmb; "hwtk3 get dmi board serial number: ZelkaK5402-0217A88"
        = 0, BoardSerialNumber "ZelkaK5402-0217A88", @unbound)"},
    {"version 3.0 passes every gate", "version-3.0", "FillDMIData 0", "@rsmb; @identity-lines; = 0, @identity, @unbound"},
    {"kernel32.dll cannot be loaded", "no-kernel32", "FillDMIData 0",
     R"("Failed to load kernel32.dll"; "Failed to fetch smbios data!"; = 0, record empty, @unbound)"},
    {"GetSystemFirmwareTable missing", "no-firmware-export", "FillDMIData 0", R"(
        "Failed to get procedure address of GetSystemFirmwareTable"; "Failed to fetch smbios data!"
        = 0, record empty, @unbound)"},
    {"no memory for the answer", "no-firmware-memory", "FillDMIData 0", R"(
        GetSystemFirmwareTable RSMB 0, no buffer, 0 bytes -> $rsmb
        "Failed to allocate memroy to store smbios data!"; "Failed to fetch smbios data!"
        = 0, record empty, @unbound)"},
    {"the copy answers 0", "firmware-copy-fails", "FillDMIData 0", R"(
        GetSystemFirmwareTable RSMB 0, no buffer, 0 bytes -> $rsmb; GetSystemFirmwareTable RSMB 0, $rsmb bytes -> 0
        "Get zero size of smbios data"; "Failed to fetch smbios data!"
        = 0, record empty, @unbound)"},
    {"the answer grew between the size query and the copy", "firmware-grows", "FillDMIData 0", R"(
        GetSystemFirmwareTable RSMB 0, no buffer, 0 bytes -> $rsmb; GetSystemFirmwareTable RSMB 0, $rsmb bytes -> 109
        "Failed to fetch smbios data!"
        = 0, record empty, @unbound)"},
    {"an answer shorter than its header", "firmware-header-only", "FillDMIData 0", R"(
        GetSystemFirmwareTable RSMB 0, no buffer, 0 bytes -> 7; GetSystemFirmwareTable RSMB 0, 7 bytes -> 7
        "Failed to fetch smbios data!"
        = 0, record empty, @unbound)"},
    {"no table at all", "no-smbios", "FillDMIData 0", R"(
        GetSystemFirmwareTable RSMB 0, no buffer, 0 bytes -> 0; GetSystemFirmwareTable RSMB 0, 0 bytes -> 0
        "Get zero size of smbios data"; "Failed to fetch smbios data!"
        = 0, record empty, @unbound)"},
    {"filled once: the other source is never tried", "filled", "FillDMIData 1", "= 0, @identity, @unbound"},
};

// Diag_FillDMIData from the BIOS area: every entry point in address order,
// the last paragraphs, the table's count and length, the OEM strings.
const Row kScanPath[] = {
    {"the default machine", "", "FillDMIData 1", R"(
        @scan-start; @sm-anchor 2 8; @dmi-table CBF3A000 900 cbf3a000; @scan-end
        = 0, @machine, @unbound)"},
    {"a binding the host brought up is released too", "bound", "FillDMIData 1", R"(
        "WinRing0 has been initialized. No need to initialize again"; phys f0000 65535
        @sm-anchor 2 8; @dmi-table CBF3A000 900 cbf3a000; @scan-end
        = 0, @machine, @unbound)"},
    {"the binding cannot come up", "init-fails", "FillDMIData 1", R"(
        "preparing to initialize WinRing0"; InitializeOls -> 0; "Failed to init WinRing0!"; "Failed to init IO library!"
        = -1, record empty, ready 0, WinRing0 loaded 1, kernel32 loaded 0)"},
    {"the BIOS area cannot be read: our binding released", "bios-unreadable", "FillDMIData 1", R"(
        @bind; phys f0000 65535 -> 0; "Failed to read DMI memory!"; @release
        = -1, record empty, @unbound)"},
    {"the BIOS area cannot be read: the host's binding stays", "bound bios-unreadable", "FillDMIData 1", R"(
        "WinRing0 has been initialized. No need to initialize again"; phys f0000 65535 -> 0; "Failed to read DMI memory!"
        = -1, record empty, ready 1, WinRing0 loaded 1, kernel32 loaded 0)"},
    {"the last type-1 structure wins", "two-systems", "FillDMIData 1", R"(
        @scan-small 146
        = 0, SystemManufacturer "Quorvex Second", SystemProductName "P2", SystemVersion "Not Specified", SystemSerialNumber "SN2", SystemUuid 0102030405060708090a0b0c0d0e0f10, SystemSku "SKU2", SystemFamily "Not Specified", @board-scanned, @unbound)"},
    {"after a failed decode the scan goes on", "smbios-bad-then-good", "FillDMIData 1", R"(
        @scan-start; @sm-anchor 2 8; @sm-anchor 2 8; @dmi-table CBF3A000 900 cbf3a000; @scan-end
        = 0, @machine, @unbound)"},
    {"after a decode the scan goes on", "two-entry-points", "FillDMIData 1", R"(
        @scan-start; "Legacy BIOS"; "Legacy DMI 2.8 present."; @dmi-table CBF3A000 900 cbf3a000
        @sm-anchor 2 8; @dmi-table CBF3A000 900 cbf3a000; @scan-end
        = 0, @machine-twice, @unbound)"},
    {"... also after a successful _SM_ one: the later table's fields win", "smbios-then-legacy", "FillDMIData 1", R"(
        @scan-start; @sm-anchor 2 8; @dmi-table CBF3A000 900 cbf3a000
        "Legacy BIOS"; "Legacy DMI 2.8 present."; @dmi-table CBF3C000 55 cbf3c000; @scan-end
        = 0, @machine-second, @unbound)"},
    {"_SM_ at 0xFFE0 is decoded", "smbios-at-ffe0", "FillDMIData 1", R"(
        @scan-start; @sm-anchor 2 8; @dmi-table CBF3A000 900 cbf3a000; @scan-end
        = 0, @machine, @unbound)"},
    {"_SM_ at 0xFFF0 is not", "smbios-at-fff0", "FillDMIData 1", "@scan-start; @scan-end; = 0, record empty, @unbound"},
    {"_DMI_ at 0xFFF0 is", "legacy-at-fff0", "FillDMIData 1", R"(
        @scan-start; "Legacy BIOS"; "Legacy DMI 2.8 present."; @dmi-table CBF3A000 900 cbf3a000; @scan-end
        = 0, @machine, @unbound)"},
    {"an _SM_ length reaching past the area fails its check", "smbios-at-ffe0-too-long", "FillDMIData 1",
     "@scan-start; @sm-anchor 2 8; @scan-end; = 0, record empty, @unbound"},
    {"first checksum wrong", "bad-checksum", "FillDMIData 1",
     "@scan-start; @sm-anchor 2 8; @scan-end; = 0, record empty, @unbound"},
    {"no _DMI_ at 0x10", "smbios-without-intermediate-anchor", "FillDMIData 1",
     "@scan-start; @sm-anchor 2 8; @scan-end; = 0, record empty, @unbound"},
    {"intermediate checksum wrong", "smbios-intermediate-checksum-bad", "FillDMIData 1",
     "@scan-start; @sm-anchor 2 8; @scan-end; = 0, record empty, @unbound"},
    {"legacy checksum wrong", "legacy-checksum-bad", "FillDMIData 1",
     R"(@scan-start; "Legacy BIOS"; @scan-end; = 0, record empty, @unbound)"},
    {"no entry point at all", "no-smbios", "FillDMIData 1", "@scan-start; @scan-end; = 0, record empty, @unbound"},
    {"the table cannot be read", "table-unreadable", "FillDMIData 1", R"(
        @scan-start; @sm-anchor 2 8; "dmi_table"; "mem_chunk, base=0xCBF3A000, len=900"
        "ReadPhysicalMemory: Address 0xCBF3A000, length 900"; phys cbf3a000 900 -> 0
        "ReadPhysicalMemory error! ret_len = 0"; "Table is not reachable, exit!"; @scan-end
        = 0, record empty, @unbound)"},
    {"the count stops the walk", "count-1-of-2", "FillDMIData 1", "@scan-small 109; = 0, @first-scanned, @unbound"},
    {"an end-of-table structure stops it first", "end-of-table-before-count", "FillDMIData 1",
     "@scan-small 115; = 0, @first-scanned, @unbound"},
    {"a structure one byte past the length is not decoded", "length-one-short", "FillDMIData 1",
     "@scan-small 84; = 0, @first-scanned, @unbound"},
    {"fewer than 4 bytes left end the walk", "three-bytes-after-the-last", "FillDMIData 1",
     "@scan-small 57; = 0, @first-scanned, @unbound"},
    {"a structure ending the table is decoded", "system-last", "FillDMIData 1",
     "@scan-small 85; = 0, @first-scanned, @board-scanned, @unbound"},
    {"a string set running past the table is not", "system-unterminated", "FillDMIData 1",
     "@scan-small 84; = 0, @board-scanned, @unbound"},
    {"lengths below the optional fields, and below the minimum", "short-structures", "FillDMIData 1", R"(
        @scan-small 80
        = 0, CacheSocket[1] "L9", CacheInstalledSize[1] 64, CacheMaxSize[1] 64, MemoryDeviceSize[1] 8192, @unbound)"},
    {"every type below its minimum length is left out", "too-short-structures", "FillDMIData 1",
     "@scan-small 123; = 0, record empty, @unbound"},
    {"exactly three OEM strings give the SKU", "oem-three", "FillDMIData 1", R"(
        @scan-small 66
        = 0, SystemManufacturer "Quorvex First", SystemProductName "P1", SystemVersion "Not Specified", SystemSerialNumber "SN1", SystemUuid 0102030405060708090a0b0c0d0e0f10, SystemSku "C", SystemFamily "Not Specified", OemString[1] "A", OemString[2] "B", OemString[3] "C", @unbound)"},
    {"two do not", "oem-two", "FillDMIData 1",
     R"(@scan-small 64; = 0, @first-scanned, OemString[1] "A", OemString[2] "B", @unbound)"},
    {"a type-1 structure after them wins", "oem-before-system", "FillDMIData 1",
     R"(@scan-small 66; = 0, @first-scanned, OemString[1] "A", OemString[2] "B", OemString[3] "C", @unbound)"},
    {"an OEM-strings structure without its count", "oem-without-count", "FillDMIData 1",
     "@scan-small 65; = 0, @first-scanned, @unbound"},
};

// Identity queries and the machine check.
const Row kIdentity[] = {
    {"a Quorvex machine with a Zelka board", "", "CheckMachine 0", R"(
        @rsmb; @identity-lines; "finished to get dmi data"; "Model name: Quorvex Aero 14 K5402"
        "Manufacturer: Quorvex Computer Inc."; "Board SN: ZelkaK5402-0217A88"; "machine type: 0"
        = true, machine type 0)"},
    {"without Zelka: machine type 1", "machine-type-1", "CheckMachine 0", R"(
        @rsmb; "hwtk3 get dmi manufacturer: Quorvex Computer Inc."; "hwtk3 get dmi product name: Quorvex Aero 14 K5402"
        "hwtk3 get dmi sn: QV5402K0217A88"; "hwtk3 get dmi sku number: K5402ZA-QV14"
        "hwtk3 get dmi board serial number: QVMB5402-0217A88"; "finished to get dmi data"
        "Model name: Quorvex Aero 14 K5402"; "Manufacturer: Quorvex Computer Inc."; "Board SN: QVMB5402-0217A88"
        "machine type: 1"
        = true, machine type 1)"},
    {"another manufacturer: refused, type unchanged", "foreign", "CheckMachine 0", R"(
        @rsmb; "hwtk3 get dmi manufacturer: Hollin Systems Ltd."; "hwtk3 get dmi product name: Hollin Traveller 13"
        "hwtk3 get dmi sn: QV5402K0217A88"; "hwtk3 get dmi sku number: K5402ZA-QV14"
        "hwtk3 get dmi board serial number: HS13-88301-Zelka"; "finished to get dmi data"
        "Model name: Hollin Traveller 13"; "Manufacturer: Hollin Systems Ltd."; "Board SN: HS13-88301-Zelka"
        = false, machine type 0)"},
    {"the record cannot be filled", "init-fails", "CheckMachine 1", R"(
        "preparing to initialize WinRing0"; InitializeOls -> 0; "Failed to init WinRing0!"; "Failed to init IO library!"
        = false, machine type 0)"},
    {"a filled record is checked again as it is", "filled", "CheckMachine 1", R"(
        "finished to get dmi data"; "Model name: Quorvex Aero 14 K5402"; "Manufacturer: Quorvex Computer Inc."
        "Board SN: ZelkaK5402-0217A88"; "machine type: 0"
        = true, machine type 0)"},
    {"machine type before any check", "", "GetMachineType", "= 0"},
    {"machine type after a check", "machine-type-1 checked", "GetMachineType", "= 1"},
    {"NUL-padded to the size", "checked", "GetManufacturer 64", R"(= void, buffer "Quorvex Computer Inc.\0*43~")"},
    {"cut at the size, no terminator", "checked", "GetManufacturer 4", R"(= void, buffer "Quor~")"},
    {"size 0 writes nothing", "checked", "GetManufacturer 0", R"(= void, buffer "~")"},
    {"a negative size writes nothing", "checked", "GetManufacturer -1", R"(= void, buffer "~")"},
    {"a null buffer is left alone", "checked", "GetManufacturer null 16", "= void"},
    {"an empty record: NULs", "", "GetManufacturer 8", R"(= void, buffer "\0*8~")"},
    {"product name", "checked", "GetProductName 32", R"(= void, buffer "Quorvex Aero 14 K5402\0*11~")"},
    {"board serial number", "checked", "GetBoardSN 32", R"(= void, buffer "ZelkaK5402-0217A88\0*14~")"},
    {"the type-1 SKU from the firmware table", "checked", "Get90Code", R"(= void, sku "K5402ZA-QV14")"},
    {"the third OEM string after a scan", "scanned", "Get90Code", R"(= void, sku "90QV0A71-M00120")"},
};

// ACPI device controls: one method each inside an open and a close.
const Row kAcpi[] = {
    {"brightness", "", "GetPanelBrightness",
     R"(open \\.\ZORDACPI; ZORDACPI PBLG -> 0x3c; sleep 50; close \\.\ZORDACPI; = true, brightness 60)"},
    {"brightness set", "", "SetPanelBrightness 80",
     R"(open \\.\ZORDACPI; ZORDACPI PBLS(0x50) -> 0x1; sleep 50; close \\.\ZORDACPI; = true)"},
    {"brightness 255 goes out as 0xff", "", "SetPanelBrightness 255",
     R"(open \\.\ZORDACPI; ZORDACPI PBLS(0xff) -> 0x0; sleep 50; close \\.\ZORDACPI; = false)"},
    {"CPU mode: bits 8-15, bits 0-7", "", "GetCPUMode",
     R"(open \\.\ZORDACPI; ZORDACPI CFVG -> 0x103; sleep 50; close \\.\ZORDACPI; = true, high 1, low 3)"},
    {"CPU mode: the upper 16 bits play no part", "cpu-mode-12345678", "GetCPUMode",
     R"(open \\.\ZORDACPI; ZORDACPI CFVG -> 0x12345678; sleep 50; close \\.\ZORDACPI; = true, high 86, low 120)"},
    {"CPU mode 0: nothing written, false", "cpu-mode-0", "GetCPUMode",
     R"(open \\.\ZORDACPI; ZORDACPI CFVG -> 0x0; sleep 50; close \\.\ZORDACPI; = false, high untouched, low untouched)"},
    {"CPU mode set", "", "SetCPUMode 2",
     R"(open \\.\ZORDACPI; ZORDACPI CFVS(0x2) -> 0x1; sleep 50; close \\.\ZORDACPI; = true)"},
    {"CPU mode: all 32 bits go out", "", "SetCPUMode 0xffffffff",
     R"(open \\.\ZORDACPI; ZORDACPI CFVS(0xffffffff) -> 0x0; sleep 50; close \\.\ZORDACPI; = false)"},
    {"wireless LAN on: 0x80 goes out as 1", "", "SetWifiState 0x80",
     R"(open \\.\ZORDACPI; ZORDACPI WLDS(0x1) -> 0x1; sleep 50; close \\.\ZORDACPI; = true)"},
    {"wireless LAN off", "", "SetWifiState 0",
     R"(open \\.\ZORDACPI; ZORDACPI WLDS(0x0) -> 0x1; sleep 50; close \\.\ZORDACPI; = true)"},
    {"Bluetooth on", "", "SetBTState 1",
     R"(open \\.\ZORDACPI; ZORDACPI BTHS(0x1) -> 0x1; sleep 50; close \\.\ZORDACPI; = true)"},
    {"camera on", "", "SetCamState 1",
     R"(open \\.\ZORDACPI; ZORDACPI CAMS(0x1) -> 0x1; sleep 50; close \\.\ZORDACPI; = true)"},
    {"wireless LAN power, its own field only", "", "GetWifiState", R"(
        open \\.\ZORDACPI; ZORDACPI WLDG -> 0x1; sleep 100; close \\.\ZORDACPI
        = true, bWifi 1, bBT untouched, bCam untouched)"},
    {"Bluetooth power", "", "GetBTState", R"(
        open \\.\ZORDACPI; ZORDACPI BTHG -> 0x1; sleep 100; close \\.\ZORDACPI
        = true, bWifi untouched, bBT 1, bCam untouched)"},
    {"camera power", "", "GetCamState", R"(
        open \\.\ZORDACPI; ZORDACPI CAMG -> 0x1; sleep 100; close \\.\ZORDACPI
        = true, bWifi untouched, bBT untouched, bCam 1)"},
    {"a power query answering 2 reads as off", "wlan-answers-2", "GetWifiState", R"(
        open \\.\ZORDACPI; ZORDACPI WLDG -> 0x2; sleep 100; close \\.\ZORDACPI
        = true, bWifi 0, bBT untouched, bCam untouched)"},
    {"capabilities 0x13: three lines in order, no pause", "", "GetACPISupportMethods", R"(
        open \\.\ZORDACPI; ZORDACPI CMSG -> 0x13
        "acpi wlan supported"; "acpi bluetooth supported"; "acpi camera supported"; close \\.\ZORDACPI
        = true, wlan true, bluetooth true, camera true)"},
    {"capabilities 0x0c: nothing set", "acpi-no-power-controls", "GetACPISupportMethods",
     R"(open \\.\ZORDACPI; ZORDACPI CMSG -> 0xc; close \\.\ZORDACPI; = true, wlan false, bluetooth false, camera false)"},
    {"null outputs are skipped, the rest runs", "", "GetACPISupportMethods null null null", R"(
        open \\.\ZORDACPI; ZORDACPI CMSG -> 0x13
        "acpi wlan supported"; "acpi bluetooth supported"; "acpi camera supported"; close \\.\ZORDACPI
        = true, wlan false, bluetooth false, camera false)"},
    {"DataLength 100 is accepted", "reply-100", "GetPanelBrightness",
     R"(open \\.\ZORDACPI; ZORDACPI PBLG -> DataLength 100; sleep 50; close \\.\ZORDACPI; = true, brightness 42)"},
    {"DataLength 101 fails", "acpi-long-reply", "GetPanelBrightness",
     R"(open \\.\ZORDACPI; ZORDACPI PBLG -> DataLength 101; sleep 50; close \\.\ZORDACPI; = false, brightness untouched)"},
    {"DataLength 2: still the full four bytes", "reply-2", "GetCPUMode",
     R"(open \\.\ZORDACPI; ZORDACPI CFVG -> DataLength 2; sleep 50; close \\.\ZORDACPI; = true, high 1, low 3)"},
    {"nothing written: result 0, success", "acpi-silent", "GetPanelBrightness",
     R"(open \\.\ZORDACPI; ZORDACPI PBLG -> nothing written; sleep 50; close \\.\ZORDACPI; = true, brightness 0)"},
    {"nothing written: a Set fails", "acpi-silent", "SetPanelBrightness 80",
     R"(open \\.\ZORDACPI; ZORDACPI PBLS(0x50) -> nothing written; sleep 50; close \\.\ZORDACPI; = false)"},
    {"I/O control fails", "acpi-ioctl-fails", "GetPanelBrightness",
     R"(open \\.\ZORDACPI; ZORDACPI PBLG fails; sleep 50; close \\.\ZORDACPI; = false, brightness untouched)"},
    {"I/O control fails", "acpi-ioctl-fails", "SetPanelBrightness 80",
     R"(open \\.\ZORDACPI; ZORDACPI PBLS(0x50) fails; sleep 50; close \\.\ZORDACPI; = false)"},
    {"I/O control fails", "acpi-ioctl-fails", "GetCPUMode",
     R"(open \\.\ZORDACPI; ZORDACPI CFVG fails; sleep 50; close \\.\ZORDACPI; = false, high untouched, low untouched)"},
    {"I/O control fails", "acpi-ioctl-fails", "GetWifiState", R"(
        open \\.\ZORDACPI; ZORDACPI WLDG fails; sleep 100; close \\.\ZORDACPI
        = false, bWifi untouched, bBT untouched, bCam untouched)"},
    {"I/O control fails", "acpi-ioctl-fails", "GetACPISupportMethods",
     R"(open \\.\ZORDACPI; ZORDACPI CMSG fails; close \\.\ZORDACPI; = false, wlan false, bluetooth false, camera false)"},
    {"null output: refused before the open", "", "GetPanelBrightness null", "= false"},
    {"null output: refused before the open", "", "GetCPUMode null", "= false"},
    {"null output: refused before the open", "", "GetBTState null", "= false"},
    {"no device", "acpi-absent", "GetPanelBrightness", R"(open \\.\ZORDACPI fails; = false, brightness untouched)"},
    {"no device", "acpi-absent", "SetPanelBrightness 80", R"(open \\.\ZORDACPI fails; = false)"},
    {"no device", "acpi-absent", "GetCPUMode", R"(open \\.\ZORDACPI fails; = false, high untouched, low untouched)"},
    {"no device", "acpi-absent", "SetCPUMode 1", R"(open \\.\ZORDACPI fails; = false)"},
    {"no device", "acpi-absent", "SetWifiState 1", R"(open \\.\ZORDACPI fails; = false)"},
    {"no device", "acpi-absent", "GetWifiState",
     R"(open \\.\ZORDACPI fails; = false, bWifi untouched, bBT untouched, bCam untouched)"},
    {"no device", "acpi-absent", "SetBTState 1", R"(open \\.\ZORDACPI fails; = false)"},
    {"no device", "acpi-absent", "GetBTState",
     R"(open \\.\ZORDACPI fails; = false, bWifi untouched, bBT untouched, bCam untouched)"},
    {"no device", "acpi-absent", "SetCamState 1", R"(open \\.\ZORDACPI fails; = false)"},
    {"no device", "acpi-absent", "GetCamState",
     R"(open \\.\ZORDACPI fails; = false, bWifi untouched, bBT untouched, bCam untouched)"},
    {"no device", "acpi-absent", "GetACPISupportMethods",
     R"(open \\.\ZORDACPI fails; = false, wlan false, bluetooth false, camera false)"},
    // The ACPI interface object.
    {"Bluetooth power on", "", "AcpiNBSetBTPowerOn 1",
     R"(CVQMITF(); InvokeMethod BLED(0x1) -> 1; "Success for BLED method!"; ~CVQMITF(); = 0)"},
    {"Bluetooth power off", "", "AcpiNBSetBTPowerOn 0",
     R"(CVQMITF(); InvokeMethod BLED(0x0) -> 1; "Success for BLED method!"; ~CVQMITF(); = 0)"},
    {"Bluetooth fitted", "", "AcpiNBQueryBTDevice", R"(
        CVQMITF(); InvokeMethod HWRS -> 1, 0x180; "Success for HWRS method!"; "bios reported BT is existed"; ~CVQMITF()
        = 0, present true)"},
    {"wireless LAN fitted", "", "AcpiNBQueryWifiDevice", R"(
        CVQMITF(); InvokeMethod HWRS -> 1, 0x180; "Success for HWRS method!"; "bios reported Wifi is existed"; ~CVQMITF()
        = 0, present true)"},
    {"HWRS 0x100: no wireless LAN", "hwrs-bt-only", "AcpiNBQueryWifiDevice",
     R"(CVQMITF(); InvokeMethod HWRS -> 1, 0x100; "Success for HWRS method!"; ~CVQMITF(); = 0, present false)"},
    {"the method fails", "nb-invoke-fails", "AcpiNBSetBTPowerOn 1",
     R"(CVQMITF(); InvokeMethod BLED(0x1) -> 0; "Fail!"; ~CVQMITF(); = -1)"},
    {"the method fails", "nb-invoke-fails", "AcpiNBQueryBTDevice",
     R"(CVQMITF(); InvokeMethod HWRS -> 0; "Fail!"; ~CVQMITF(); = -1, present true)"},
    {"the method throws", "nb-invoke-throws", "AcpiNBQueryWifiDevice",
     R"(CVQMITF(); InvokeMethod HWRS throws; "Fail!"; ~CVQMITF(); = -1, present true)"},
    {"the method throws", "nb-invoke-throws", "AcpiNBSetBTPowerOn 1",
     R"(CVQMITF(); InvokeMethod BLED(0x1) throws; "Fail!"; ~CVQMITF(); = -1)"},
    {"no object", "nb-constructor-throws", "AcpiNBQueryBTDevice", "CVQMITF() throws; = -1, present true"},
    {"no object", "nb-constructor-throws", "AcpiNBSetBTPowerOn 1", "CVQMITF() throws; = -1"},
    {"no object", "nb-constructor-throws", "AcpiNBQueryWifiDevice", "CVQMITF() throws; = -1, present true"},
};

// Battery status: the enumeration's every step, the conversions.
const Row kBattery[] = {
    {"the notebook's battery", "", "BatteryState", R"(
        @battery
        = true, state "discharging", design 4400, full 4000, remaining 2000, percent 50, voltage 11.1)"},
    {"no battery device", "no-battery", "BatteryState", "= false, @untouched"},
    {"a UPS only", "ups-only", "BatteryState", R"(
        open battery 1; battery 1 query tag -> 1; battery 1 query information, tag 1; close battery 1
        = false, @untouched)"},
    {"tag 0", "battery-tag0", "BatteryState",
     "open battery 1; battery 1 query tag -> 0; close battery 1; = false, @untouched"},
    {"the tag query fails", "battery-tag-fails", "BatteryState",
     "open battery 1; battery 1 query tag fails; close battery 1; = false, @untouched"},
    {"the information query fails", "battery-info-fails", "BatteryState", R"(
        open battery 1; battery 1 query tag -> 1; battery 1 query information, tag 1 fails; close battery 1
        = false, @untouched)"},
    {"not a system battery", "battery-not-system", "BatteryState", R"(
        open battery 1; battery 1 query tag -> 1; battery 1 query information, tag 1; close battery 1
        = false, @untouched)"},
    {"the status query fails: unknown, zero values", "battery-status-fails", "BatteryState", R"(
        open battery 1; battery 1 query tag -> 1; battery 1 query information, tag 1
        battery 1 query status, tag 1 fails; close battery 1
        = true, state "unknown", design 0, full 0, remaining 0, percent 0, voltage 0)"},
    {"... or another battery's status", "status-fails-then-battery", "BatteryState", R"(
        open battery 1; battery 1 query tag -> 1; battery 1 query information, tag 1
        battery 1 query status, tag 1 fails; close battery 1
        open battery 2; battery 2 query tag -> 1; battery 2 query information, tag 1
        battery 2 query status, tag 1; close battery 2
        = true, state "discharging", design 6600, full 6000, remaining 3000, percent 50, voltage 7.4)"},
    {"the device cannot be opened", "battery-open-fails", "BatteryState", "open battery 1 fails; = false, @untouched"},
    {"unknown remaining capacity", "battery-unknown-capacity", "BatteryState", R"(
        @battery; = true, state "discharging", design 4400, full 4000, remaining 0, percent 0, voltage 11.1)"},
    {"two batteries: the last that answered", "two-batteries", "BatteryState", R"(
        @battery; open battery 2; battery 2 query tag -> 1; battery 2 query information, tag 1
        battery 2 query status, tag 1; close battery 2
        = true, state "charging", design 4000, full 4000, remaining 2000, percent 50, voltage 7.4)"},
    {"a UPS after the battery never overwrites it", "battery-then-ups", "BatteryState", R"(
        @battery; open battery 2; battery 2 query tag -> 1; battery 2 query information, tag 1; close battery 2
        = true, state "discharging", design 4400, full 4000, remaining 2000, percent 50, voltage 11.1)"},
    {"voltage 0: 0 mAh, the percentage from mWh", "battery-voltage-0", "BatteryState",
     R"(@battery; = true, state "discharging", design 0, full 0, remaining 0, percent 50, voltage 0)"},
    {"full charge 0: percentage 0", "battery-full-0", "BatteryState",
     R"(@battery; = true, state "discharging", design 4400, full 0, remaining 2000, percent 0, voltage 11.1)"},
    {"too large for the fields: the largest", "battery-huge", "BatteryState", R"(
        @battery
        = true, state "discharging", design 2147483647, full 1000, remaining 2147483647, percent 2147483647, voltage 0.001)"},
    {"on line, neither charging nor discharging", "state-on-line", "BatteryState",
     R"(@battery; = true, state "charged", design 4400, full 4000, remaining 2000, percent 50, voltage 11.1)"},
    {"critical", "state-critical", "BatteryState",
     R"(@battery; = true, state "critical", design 4400, full 4000, remaining 2000, percent 50, voltage 11.1)"},
    {"charging and critical: charging", "state-charging-critical", "BatteryState",
     R"(@battery; = true, state "charging", design 4400, full 4000, remaining 2000, percent 50, voltage 11.1)"},
    {"no state bit", "state-none", "BatteryState",
     R"(@battery; = true, state "unknown", design 4400, full 4000, remaining 2000, percent 50, voltage 11.1)"},
    {"a null record", "", "BatteryState null", "@battery; = false"},
    {"no device information set", "device-info-set-fails", "BatteryState",
     "SetupDiGetClassDevsA fails; = false, @untouched"},
    {"an interface that cannot be enumerated is skipped", "enum-fails-first", "BatteryState",
     "SetupDiEnumDeviceInterfaces (battery 1) fails; @battery-2"},
    {"... one whose detail size cannot be had", "detail-size-fails-first", "BatteryState",
     "SetupDiGetDeviceInterfaceDetailA size query (battery 1) fails; @battery-2"},
    {"... one whose detail size is too small", "detail-size-short-first", "BatteryState",
     "SetupDiGetDeviceInterfaceDetailA size query (battery 1) answers 1 byte; @battery-2"},
    {"... one whose detail buffer cannot be had", "detail-allocation-fails-first", "BatteryState",
     "LocalAlloc fails; @battery-2"},
    {"... one whose detail cannot be fetched", "detail-fails-first", "BatteryState",
     "SetupDiGetDeviceInterfaceDetailA (battery 1) fails; @battery-2"},
};

const std::vector<Fragment> kBatteryFragments = {
    {"battery-2", R"(open battery 2; battery 2 query tag -> 1; battery 2 query information, tag 1
        battery 2 query status, tag 1; close battery 2
        = true, state "discharging", design 4400, full 4000, remaining 2000, percent 50, voltage 11.1)"},
};

template <typename T>
std::vector<T> Join(std::initializer_list<const std::vector<T>*> lists) {
    std::vector<T> all;
    for (const auto* list : lists) all.insert(all.end(), list->begin(), list->end());
    return all;
}

class TraceTableTest : public NotebookTest {};

TEST_F(TraceTableTest, PublishedSequences) {
    struct Table {
        const char* name;
        const Row* begin;
        const Row* end;
    };
    const Table tables[] = {
        {"binding", std::begin(kBinding), std::end(kBinding)},
        {"binding down", std::begin(kGates), std::end(kGates)},
        {"EC, healthy", std::begin(kEcHealthy), std::end(kEcHealthy)},
        {"EC firmware text", std::begin(kEcFirmware), std::end(kEcFirmware)},
        {"ZLKD EC", std::begin(kEcZlkd), std::end(kEcZlkd)},
        {"machine-type EC", std::begin(kEcMachineType), std::end(kEcMachineType)},
        {"released during a pause", std::begin(kEcReleased), std::end(kEcReleased)},
        {"charge switch", std::begin(kEcCharge), std::end(kEcCharge)},
        {"EC mutex", std::begin(kEcMutex), std::end(kEcMutex)},
        {"firmware table", std::begin(kFirmwarePath), std::end(kFirmwarePath)},
        {"BIOS-area scan", std::begin(kScanPath), std::end(kScanPath)},
        {"identity", std::begin(kIdentity), std::end(kIdentity)},
        {"ACPI", std::begin(kAcpi), std::end(kAcpi)},
        {"battery status", std::begin(kBattery), std::end(kBattery)},
    };
    const std::vector<Fragment> fragments = Join<Fragment>({&kFragments, &kEcFragments, &kIdentityFragments, &kBatteryFragments});
    const std::vector<traces::Setup> setups = Join<traces::Setup>({&kSetups, &kMoreSetups, &kEcSetups});
    int rows = 0;
    for (const Table& table : tables) {
        for (const Row* row = table.begin; row != table.end; ++row) {
            ++rows;
            SCOPED_TRACE(std::string(table.name) + ": " + row->what + " [" + row->setup + "] " + row->call);
            std::vector<std::string> expected, actual;
            std::string error;
            if (!traces::ParseTrace(row->trace, fragments, expected, error) ||
                !traces::RunRow(*row, setups, actual, error)) {
                ADD_FAILURE() << error;
                continue;
            }
            EXPECT_TRUE(expected == actual) << traces::Difference(expected, actual);
        }
    }
    std::fprintf(stderr, "%d trace rows\n", rows);
}

}  // namespace
}  // namespace hwtk3::test
