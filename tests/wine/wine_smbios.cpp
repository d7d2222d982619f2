// Machine identity through the real hwtk3.dll: the firmware path against
// Wine's own firmware table service, and the physical-memory path through
// the stand-in WinRing0.dll. The identity record is filled once per
// process, so each physical-memory run happens in a child process of this
// program, which hands its counts back in its exit code.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "include/hwtk3.h"
#include "tests/wine/wine_check.h"

using wine_check::Check;
using wine_check::CheckEqual;

namespace {

constexpr DWORD kRsmb = 0x52534D42;
constexpr char kScanArgument[] = "scan";

// What the firmware path should take from the service's answer, read here
// independently of the library.
struct Expected {
    bool fetched = false;
    unsigned size = 0, major = 0, minor = 0;
    int structures = 0;
    std::string manufacturer, product, serial, sku, boardSerial;
    bool hasManufacturer = false, hasProduct = false, hasSerial = false, hasSku = false, hasBoard = false;
};

const std::uint8_t* Find(const std::vector<std::uint8_t>& t, std::uint8_t type, std::size_t& end) {
    std::size_t at = 8;
    while (at + 4 <= t.size()) {
        std::size_t s = at + t[at + 1];
        while (s + 1 < t.size() && (t[s] != 0 || t[s + 1] != 0)) ++s;
        if (s + 1 >= t.size()) return nullptr;
        if (t[at] == type) {
            end = s + 2;
            return &t[at];
        }
        at = s + 2;
    }
    return nullptr;
}

bool Text(const std::uint8_t* s, std::size_t size, std::uint8_t index, std::string& text) {
    if (index == 0) return false;
    std::size_t at = s[1];
    for (; index > 1 && at < size && s[at] != 0; --index) at += std::strlen(reinterpret_cast<const char*>(s + at)) + 1;
    if (at >= size || s[at] == 0) return false;
    text = reinterpret_cast<const char*>(s + at);
    return true;
}

Expected ReadExpected() {
    Expected e;
    const UINT size = GetSystemFirmwareTable(kRsmb, 0, nullptr, 0);
    std::vector<std::uint8_t> t(size);
    if (size == 0 || GetSystemFirmwareTable(kRsmb, 0, t.data(), size) != size || size < 8) return e;
    e.fetched = true;
    e.size = size;
    e.major = t[1];
    e.minor = t[2];
    for (std::size_t at = 8; at + 4 <= t.size(); ++e.structures) {
        std::size_t s = at + t[at + 1];
        while (s + 1 < t.size() && (t[s] != 0 || t[s + 1] != 0)) ++s;
        at = s + 2;
    }
    const unsigned version = (t[1] << 8) | t[2];
    std::size_t end = 0;
    if (const std::uint8_t* s = Find(t, 1, end)) {
        const std::size_t n = end - static_cast<std::size_t>(s - t.data());
        if (version >= 0x0201 && s[1] >= 0x08) {
            e.hasManufacturer = Text(s, n, s[4], e.manufacturer);
            e.hasProduct = Text(s, n, s[5], e.product);
            e.hasSerial = Text(s, n, s[7], e.serial);
        }
        if (version >= 0x0205 && s[1] >= 0x1B) e.hasSku = Text(s, n, s[0x19], e.sku);
    }
    if (const std::uint8_t* s = Find(t, 2, end)) {
        if (s[1] > 7) e.hasBoard = Text(s, end - static_cast<std::size_t>(s - t.data()), s[7], e.boardSerial);
    }
    return e;
}

std::string Manufacturer() {
    char buffer[257] = {};
    Diag_GetManufacturer(buffer, 256);
    return buffer;
}

void FirmwarePath() {
    const Expected e = ReadExpected();
    std::string lines;
    if (!e.fetched) lines += "Get zero size of smbios data\nFailed to fetch smbios data!\n";
    if (e.hasManufacturer) lines += "hwtk3 get dmi manufacturer: " + e.manufacturer + "\n";
    if (e.hasProduct) lines += "hwtk3 get dmi product name: " + e.product + "\n";
    if (e.hasSerial) lines += "hwtk3 get dmi sn: " + e.serial + "\n";
    if (e.hasSku) lines += "hwtk3 get dmi sku number: " + e.sku + "\n";
    if (e.hasBoard) lines += "hwtk3 get dmi board serial number: " + e.boardSerial + "\n";
    lines += "finished to get dmi data\nModel name: " + e.product + "\nManufacturer: " + e.manufacturer +
             "\nBoard SN: " + e.boardSerial + "\n";
    const bool quorvex = e.manufacturer.find("Quorvex") != std::string::npos;
    const int type = e.boardSerial.find("Zelka") != std::string::npos ? 0 : 1;
    if (quorvex) lines += "machine type: " + std::to_string(type) + "\n";

    std::fprintf(stderr,
                 "Wine's firmware table: %s, %u bytes, SMBIOS %u.%u, %d structures, manufacturer [%s], "
                 "product [%s], board SN [%s]\n",
                 e.fetched ? "answered" : "none", e.size, e.major, e.minor, e.structures, e.manufacturer.c_str(),
                 e.product.c_str(), e.boardSerial.c_str());
    wine_check::StdoutCapture out;
    const bool accepted = Diag_CheckMachine(false);
    CheckEqual(out.Text(), lines, "Diag_CheckMachine(false) lines follow Wine's table");
    Check(accepted == quorvex, "Diag_CheckMachine(false) accepts only a Quorvex machine");
    Check(Diag_GetMachineType() == (quorvex ? type : 0), "machine type");
    CheckEqual(Manufacturer(), e.manufacturer, "Diag_GetManufacturer");
    std::string code = "x";
    Diag_Get90Code(code);
    CheckEqual(code, e.sku, "Diag_Get90Code gives the type-1 SKU");
    Check(GetModuleHandleA("WinRing0.dll") == nullptr, "port I/O never bound");

    wine_check::StdoutCapture again;
    Check(Diag_FillDMIData(true) == 0, "a second fill returns 0");
    CheckEqual(again.Text(), "", "and prints nothing");
}

// In the child: the BIOS-area scan of the virtual notebook.
int ScanPath(const std::string& scenario) {
    const bool zelka = scenario != "machine-type-1";
    const std::string serial = zelka ? "ZelkaK5402-0217A88" : "QVMB5402-0217A88";
    const std::string len = zelka ? "900" : "898";
    {
        Check(Diag_InitHWIO() == 1, "host binds port I/O first");
        wine_check::StdoutCapture out;
        Check(Diag_FillDMIData(true) == 0, "Diag_FillDMIData(true) returns 0");
        CheckEqual(out.Text(),
                   "WinRing0 has been initialized. No need to initialize again\n"
                   "5F 53 4D 5F --> SMIBIOS\nmajor ver: 2, minor ver: 8\nsmbios_decode\ndmi_table\n"
                   "mem_chunk, base=0xCBF3A000, len=" + len + "\n"
                   "ReadPhysicalMemory: Address 0xCBF3A000, length " + len + "\n"
                   "shutdown IO library\nIO driver is going to release...\n",
                   "scan lines");
    }
    Check(GetModuleHandleA("WinRing0.dll") == nullptr, "the scan released WinRing0.dll");
    CheckEqual(Manufacturer(), "Quorvex Computer Inc.", "manufacturer from physical memory");
    char product[64];
    std::memset(product, 'x', sizeof product);
    Diag_GetProductName(product, 4);
    CheckEqual(std::string(product, 5), "Quorx", "bounded product copy");
    char board[64] = {};
    Diag_GetBoardSN(board, 63);
    CheckEqual(board, serial, "board serial number");
    std::string code;
    Diag_Get90Code(code);
    CheckEqual(code, "90QV0A71-M00120", "90 code is the third OEM string");
    {
        wine_check::StdoutCapture out;
        Check(Diag_CheckMachine(true), "Diag_CheckMachine(true) accepts");
        CheckEqual(out.Text(),
                   "finished to get dmi data\nModel name: Quorvex Aero 14 K5402\n"
                   "Manufacturer: Quorvex Computer Inc.\nBoard SN: " + serial + "\nmachine type: " +
                       (zelka ? "0" : "1") + "\n",
                   "check lines on the stored record");
    }
    Check(Diag_GetMachineType() == (zelka ? 0 : 1), "machine type");
    std::fprintf(stderr, "scan process (%s): %d passed, %d failed\n", scenario.c_str(), wine_check::Passed(),
                 wine_check::Failed());
    return (wine_check::Passed() << 8) | wine_check::Failed();
}

// Runs this program again for the physical-memory path.
void RunScanChild(const char* scenario) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" " + kScanArgument;
    SetEnvironmentVariableA("HWTK3_SIM_SCENARIO", scenario);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    const bool started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process) != 0;
    SetEnvironmentVariableA("HWTK3_SIM_SCENARIO", nullptr);
    Check(started, "scan child started");
    if (!started) return;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (code > 0xFFFF) {
        Check(false, "scan child ended normally", "exit code " + std::to_string(code));
        return;
    }
    wine_check::Passed() += static_cast<int>(code >> 8);
    wine_check::Failed() += static_cast<int>(code & 0xFF);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kScanArgument) == 0) {
        const char* scenario = std::getenv("HWTK3_SIM_SCENARIO");
        return ScanPath(scenario != nullptr ? scenario : "default");
    }
    FirmwarePath();
    RunScanChild("default");
    RunScanChild("machine-type-1");
    return wine_check::Finish();
}
