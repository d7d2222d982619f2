#include "tests/trace_table.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>

#include "acpi/acpi_channel.h"
#include "acpi/nb_acpi.h"
#include "hwio/ec_firmware.h"
#include "hwio/port_io.h"
#include "include/hwtk3.h"
#include "platform/testing.h"
#include "sim/named_mutex.h"
#include "sim/scenario.h"
#include "sim/smbios_builder.h"
#include "smbios/dmi_decode.h"
#include "smbios/identity.h"
#include "smbios/smbios_acquire.h"
#include "tests/support.h"

namespace hwtk3::test::traces {
namespace {

using Args = std::vector<std::string>;

constexpr int kUntouchedInt = -77;
constexpr unsigned char kUntouchedByte = 0xA5;
constexpr char kUntouchedChar = '~';
constexpr char kKernel32Path[] = "C:\\Windows\\system32\\kernel32.dll";

// ---- expected traces ----

std::string Trim(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    std::string out;
    bool space = false;
    for (std::size_t i = begin; i < end; ++i) {
        const bool isSpace = std::isspace(static_cast<unsigned char>(text[i])) != 0;
        if (isSpace && !space) out += ' ';
        if (!isSpace) out += text[i];
        space = isSpace;
    }
    return out;
}

class TraceParser {
public:
    TraceParser(const std::string& text, const std::vector<Fragment>& fragments, std::string& error, int depth = 0)
        : s_(text), fragments_(fragments), error_(error), depth_(depth) {}

    bool Items(std::vector<std::string>& items, bool nested) {
        std::string word;
        bool ok = true;
        auto flush = [&] {
            const std::string item = Trim(word);
            word.clear();
            if (item.empty()) return;
            if (item[0] != '@') {
                items.push_back(item);
                return;
            }
            ok = ok && Expand(item, items);
        };
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == '"' && Trim(word).empty()) {
                const std::size_t close = s_.find('"', i_ + 1);
                if (close == std::string::npos) return Fail("a line without its closing quote");
                word = s_.substr(i_, close + 1 - i_);
                items.push_back(word);
                word.clear();
                i_ = close + 1;
            } else if (c == ';' || c == '\n') {
                flush();
                if (!ok) return false;
                ++i_;
            } else if (c == '{') {
                flush();
                ++i_;
                std::vector<std::string> group;
                if (!Items(group, true)) return false;
                if (s_.compare(i_, 1, "*") != 0) return Fail("a group without *count");
                ++i_;
                std::size_t end = i_;
                while (end < s_.size() && std::isdigit(static_cast<unsigned char>(s_[end]))) ++end;
                if (end == i_) return Fail("a group without *count");
                const int count = std::atoi(s_.substr(i_, end - i_).c_str());
                i_ = end;
                for (int n = 0; n < count; ++n) items.insert(items.end(), group.begin(), group.end());
            } else if (c == '}') {
                if (!nested) return Fail("a '}' without its '{'");
                flush();
                ++i_;
                return true;
            } else if (c == '=' && Trim(word).empty()) {
                // The result and outputs run to the end of the line; a
                // fragment there stands for its text.
                const std::size_t end = s_.find('\n', i_);
                std::string outcome = s_.substr(i_, end == std::string::npos ? std::string::npos : end - i_);
                if (!ExpandText(outcome)) return false;
                items.push_back(Trim(outcome));
                i_ = end == std::string::npos ? s_.size() : end;
            } else {
                word += c;
                ++i_;
            }
        }
        if (nested) return Fail("a '{' without its '}'");
        flush();
        return ok;
    }

private:
    bool ExpandText(std::string& text) {
        for (std::size_t at; (at = text.find('@')) != std::string::npos;) {
            std::size_t end = at + 1;
            while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-')) ++end;
            const std::string name = text.substr(at + 1, end - at - 1);
            const Fragment* found = nullptr;
            for (const Fragment& fragment : fragments_) {
                if (name == fragment.name) found = &fragment;
            }
            if (found == nullptr) return Fail("unknown fragment @" + name);
            text.replace(at, end - at, found->trace);
        }
        return true;
    }

    // "@name a b": the fragment's trace with $1, $2 replaced.
    bool Expand(const std::string& item, std::vector<std::string>& items) {
        std::istringstream words(item.substr(1));
        std::string name;
        words >> name;
        std::vector<std::string> args;
        for (std::string arg; words >> arg;) args.push_back(arg);
        for (const Fragment& fragment : fragments_) {
            if (name != fragment.name) continue;
            std::string body = fragment.trace;
            for (std::size_t n = args.size(); n > 0; --n) {
                const std::string key = "$" + std::to_string(n);
                for (std::size_t at; (at = body.find(key)) != std::string::npos;) body.replace(at, key.size(), args[n - 1]);
            }
            if (body.find('$') != std::string::npos && body.find("$rsmb") == std::string::npos) {
                return Fail("@" + name + " needs more arguments");
            }
            if (depth_ > 8) return Fail("@" + name + " nests too deep");
            TraceParser inner(body, fragments_, error_, depth_ + 1);
            return inner.Items(items, false);
        }
        return Fail("unknown fragment @" + name);
    }

    bool Fail(const std::string& what) {
        error_ = what + " at offset " + std::to_string(i_);
        return false;
    }
    const std::string s_;
    const std::vector<Fragment>& fragments_;
    std::string& error_;
    int depth_;
    std::size_t i_ = 0;
};

// ---- what the call did ----

std::uint64_t StdoutMark() {
    std::fflush(stdout);
    struct stat status {};
    return fstat(fileno(stdout), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

void AddLines(const std::string& text, std::vector<std::string>& items) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            items.push_back("\"" + text.substr(start) + "\" (no line end)");
            return;
        }
        items.push_back("\"" + text.substr(start, end - start) + "\"");
        start = end + 1;
    }
}

void Substitute(std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
}

std::string EventItem(const sim::Event& event) {
    std::string item = sim::Describe(event);
    if (event.kind == sim::Event::Kind::PhysicalRead && !event.note.empty()) item += " -> " + event.note;
    return item;
}

// ---- outputs ----

std::string Int(int value) { return value == kUntouchedInt ? "untouched" : std::to_string(value); }
std::string Byte(unsigned char value) { return value == kUntouchedByte ? "untouched" : std::to_string(value); }
std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}
std::string Bool(bool value) { return value ? "true" : "false"; }

// Bytes as a C string literal, NUL runs shortened to \0*N.
std::string Bytes(const char* bytes, std::size_t count) {
    std::string out = "\"";
    for (std::size_t i = 0; i < count;) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == 0 || c == kUntouchedChar) {
            std::size_t run = 0;
            while (i + run < count && bytes[i + run] == bytes[i]) ++run;
            const std::string one = c == 0 ? "\\0" : "~";
            if (c == 0 ? run == 1 : run < 4) {
                for (std::size_t n = 0; n < run; ++n) out += one;
            } else {
                out += one + "*" + std::to_string(run);
            }
            i += run;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

std::string Quoted(const std::string& text) { return Bytes(text.data(), text.size()); }

// The identity record: every field that is not empty or zero, in order.
std::string Record() {
    const smbios::DmiData& d = smbios::Dmi();
    std::string out;
    auto text = [&out](const char* name, const std::string& value) {
        if (!value.empty()) out += std::string(", ") + name + " " + Quoted(value);
    };
    auto number = [&out](const char* name, long long value) {
        if (value != 0) out += std::string(", ") + name + " " + std::to_string(value);
    };
    auto bytes = [&out](const char* name, const std::uint8_t* value, std::size_t size) {
        bool any = false;
        for (std::size_t i = 0; i < size; ++i) any = any || value[i] != 0;
        if (!any) return;
        out += std::string(", ") + name + " ";
        for (std::size_t i = 0; i < size; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", value[i]);
            out += hex;
        }
    };
    text("BiosVendor", d.BiosVendor);
    text("BiosVersion", d.BiosVersion);
    text("BiosDate", d.BiosDate);
    number("BiosAddress", d.BiosAddress);
    number("BiosRomSize", d.BiosRomSize);
    text("SystemManufacturer", d.SystemManufacturer);
    text("SystemProductName", d.SystemProductName);
    text("SystemVersion", d.SystemVersion);
    text("SystemSerialNumber", d.SystemSerialNumber);
    bytes("SystemUuid", d.SystemUuid.data(), d.SystemUuid.size());
    text("SystemSku", d.SystemSku);
    text("SystemFamily", d.SystemFamily);
    text("BoardManufacturer", d.BoardManufacturer);
    text("BoardProductName", d.BoardProductName);
    text("BoardVersion", d.BoardVersion);
    text("BoardSerialNumber", d.BoardSerialNumber);
    text("ChassisManufacturer", d.ChassisManufacturer);
    text("ChassisVersion", d.ChassisVersion);
    text("ChassisSerialNumber", d.ChassisSerialNumber);
    text("ProcessorSocket", d.ProcessorSocket);
    text("ProcessorManufacturer", d.ProcessorManufacturer);
    bytes("ProcessorId", d.ProcessorId.data(), d.ProcessorId.size());
    text("ProcessorVersion", d.ProcessorVersion);
    number("ProcessorExternalClock", d.ProcessorExternalClock);
    number("ProcessorMaxSpeed", d.ProcessorMaxSpeed);
    number("ProcessorCurrentSpeed", d.ProcessorCurrentSpeed);
    for (std::size_t i = 0; i < smbios::kDmiSlots; ++i) {
        const std::string slot = "[" + std::to_string(i + 1) + "]";
        text(("MemoryDimm" + slot).c_str(), d.MemoryDimm[i]);
        number(("MemoryCurrentSpeed" + slot).c_str(), d.MemoryCurrentSpeed[i]);
        number(("MemoryInstalledSize" + slot).c_str(), d.MemoryInstalledSize[i]);
        number(("MemoryEnabledSize" + slot).c_str(), d.MemoryEnabledSize[i]);
    }
    for (std::size_t i = 0; i < smbios::kDmiSlots; ++i) {
        const std::string slot = "[" + std::to_string(i + 1) + "]";
        text(("CacheSocket" + slot).c_str(), d.CacheSocket[i]);
        number(("CacheCurrentSpeed" + slot).c_str(), d.CacheCurrentSpeed[i]);
        number(("CacheInstalledSize" + slot).c_str(), d.CacheInstalledSize[i]);
        number(("CacheMaxSize" + slot).c_str(), d.CacheMaxSize[i]);
    }
    for (std::size_t i = 0; i < smbios::kDmiSlots; ++i) {
        text(("OemString[" + std::to_string(i + 1) + "]").c_str(), d.OemString[i]);
    }
    for (std::size_t i = 0; i < smbios::kDmiSlots; ++i) {
        const std::string slot = "[" + std::to_string(i + 1) + "]";
        number(("MemoryDeviceSpeed" + slot).c_str(), d.MemoryDeviceSpeed[i]);
        number(("MemoryDeviceSize" + slot).c_str(), d.MemoryDeviceSize[i]);
    }
    return out.empty() ? ", record empty" : out;
}

std::string Binding() {
    return std::string(", ready ") + (hwio::HwioReady() ? "1" : "0") + ", WinRing0 loaded " +
           std::to_string(platform::testing::ModuleReferences(hwio::kPortIoLibrary));
}

std::string Kernel32() { return ", kernel32 loaded " + std::to_string(platform::testing::ModuleReferences(kKernel32Path)); }

long long Number(const Args& args, std::size_t i, long long fallback = 0) {
    if (i >= args.size()) return fallback;
    if (args[i] == "true") return 1;
    if (args[i] == "false") return 0;
    return std::strtoll(args[i].c_str(), nullptr, 0);
}
bool IsNull(const Args& args, std::size_t i) { return i < args.size() && args[i] == "null"; }

// A text query into a buffer one byte longer than the size given.
std::string TextQuery(void (*query)(char*, int), const Args& args) {
    if (IsNull(args, 0)) {
        query(nullptr, static_cast<int>(Number(args, 1, 16)));
        return "= void";
    }
    const int size = static_cast<int>(Number(args, 0, 256));
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 0) + 1, kUntouchedChar);
    query(buffer.data(), size);
    return "= void, buffer " + Bytes(buffer.data(), buffer.size());
}

std::string PowerRecord(const tDiagWifiBTPowerState& s) {
    return ", bWifi " + Byte(s.bWifi) + ", bBT " + Byte(s.bBT) + ", bCam " + Byte(s.bCam);
}

// A Set export of the power record: only the field named by `field` holds
// the argument, the others the sentinel, which the export must not read.
std::string PowerSet(bool (*set)(tDiagWifiBTPowerState*), unsigned char tDiagWifiBTPowerState::*field,
                     const Args& args) {
    tDiagWifiBTPowerState s{kUntouchedByte, kUntouchedByte, kUntouchedByte};
    s.*field = static_cast<unsigned char>(Number(args, 0));
    return "= " + Bool(set(&s));
}

std::string PowerGet(bool (*get)(tDiagWifiBTPowerState*), const Args& args) {
    if (IsNull(args, 0)) return "= " + Bool(get(nullptr));
    tDiagWifiBTPowerState s{kUntouchedByte, kUntouchedByte, kUntouchedByte};
    const bool ok = get(&s);
    return "= " + Bool(ok) + PowerRecord(s);
}

// Says so when an interface object outlived the export.
std::string ObjectsLeft() {
    const std::size_t alive = sim::Current().acpi.objects.live.size();
    return std::string(acpi::NbAcpiInterface() != nullptr ? ", object still held" : "") +
           (alive != 0 ? ", objects alive " + std::to_string(alive) : "");
}

std::string Presence(int (*query)(bool&)) {
    bool present = true;  // what the query leaves when it fails
    const int result = query(present);
    return "= " + std::to_string(result) + ", present " + Bool(present) + ObjectsLeft();
}

using Call = std::function<std::string(const Args&)>;

const std::vector<std::pair<const char*, Call>>& Calls() {
    static const std::vector<std::pair<const char*, Call>> calls = {
        {"InitHWIO",
         [](const Args&) {
             const int result = Diag_InitHWIO();
             return "= " + std::to_string(result) + Binding();
         }},
        {"FreeHWIO",
         [](const Args&) {
             Diag_FreeHWIO();
             return "= void" + Binding();
         }},
        {"GetECFirmwareVer2",
         [](const Args& args) {
             if (IsNull(args, 0)) {
                 const int result = Diag_GetECFirmwareVer2(nullptr, static_cast<int>(Number(args, 1, 31)));
                 return "= " + std::to_string(result) + ", text " + Quoted(hwio::EcFirmwareVersion());
             }
             const int length = static_cast<int>(Number(args, 0, 31));
             std::vector<char> buffer(static_cast<std::size_t>(length > 0 ? length : 0) + 1, kUntouchedChar);
             const int result = Diag_GetECFirmwareVer2(buffer.data(), length);
             return "= " + std::to_string(result) + ", buffer " + Bytes(buffer.data(), buffer.size()) + ", text " +
                    Quoted(hwio::EcFirmwareVersion());
         }},
        {"AMDSetFanRPM",
         [](const Args& args) { return "= " + std::to_string(Diag_AMDSetFanRPM(static_cast<int>(Number(args, 0)))); }},
        {"AMDGetFanRPM",
         [](const Args&) {
             int rpm = kUntouchedInt;
             const int result = Diag_AMDGetFanRPM(&rpm);
             return "= " + std::to_string(result) + ", rpm " + Int(rpm);
         }},
        {"AMDGetCpuTemperature",
         [](const Args&) {
             int temperature = kUntouchedInt;
             const int result = Diag_AMDGetCpuTemperature(&temperature);
             return "= " + std::to_string(result) + ", temperature " + Int(temperature);
         }},
        {"FanState2",
         [](const Args&) {
             int temperature = kUntouchedInt, rpm = kUntouchedInt;
             const bool result = Diag_FanState2(&temperature, &rpm);
             return "= " + Bool(result) + ", temperature " + Int(temperature) + ", rpm " + Int(rpm);
         }},
        {"GetFanCurState2",
         [](const Args&) {
             tFanState state{kUntouchedInt, static_cast<unsigned>(kUntouchedInt), static_cast<unsigned>(kUntouchedInt)};
             const int result = Diag_GetFanCurState2(&state);
             return "= " + std::to_string(result) + ", manual " + Int(state.manual) + ", speed " +
                    Int(static_cast<int>(state.speed)) + ", rpm " + Int(static_cast<int>(state.rpm));
         }},
        {"SetFanManual2",
         [](const Args& args) { return "= " + std::to_string(Diag_SetFanManual2(static_cast<int>(Number(args, 0)))); }},
        {"SetFanSpeed2",
         [](const Args& args) {
             return "= " + std::to_string(Diag_SetFanSpeed2(static_cast<unsigned>(Number(args, 0))));
         }},
        {"ZLKDGetCpuTemperature2",
         [](const Args&) {
             int temperature = kUntouchedInt;
             const int result = Diag_ZLKDGetCpuTemperature2(&temperature);
             return "= " + std::to_string(result) + ", temperature " + Int(temperature);
         }},
        {"ZLKDGetFanSpeed2",
         [](const Args&) {
             int rpm = kUntouchedInt;
             const int result = Diag_ZLKDGetFanSpeed2(&rpm);
             return "= " + std::to_string(result) + ", rpm " + Int(rpm);
         }},
        {"ZLKDSetFanSpeed2",
         [](const Args& args) {
             return "= " + std::to_string(Diag_ZLKDSetFanSpeed2(static_cast<unsigned>(Number(args, 0))));
         }},
        // FanCpu TARGET DUTY RPM-IN FLAG; FanCpuGetValue FLAG
        {"FanCpu",
         [](const Args& args) {
             int rpm = args.size() > 2 ? static_cast<int>(Number(args, 2)) : kUntouchedInt;
             int temperature = kUntouchedInt;
             const bool result = Diag_FanCpu(static_cast<int>(Number(args, 0)), static_cast<int>(Number(args, 1)),
                                             &rpm, &temperature, Number(args, 3, 1) != 0);
             return "= " + Bool(result) + ", rpm " + Int(rpm) + ", temperature " + Int(temperature);
         }},
        {"FanCpuGetValue",
         [](const Args& args) {
             int rpm = kUntouchedInt, temperature = kUntouchedInt;
             const bool result = Diag_FanCpuGetValue(&rpm, &temperature, Number(args, 0, 1) != 0);
             return "= " + Bool(result) + ", rpm " + Int(rpm) + ", temperature " + Int(temperature);
         }},
        {"FillDMIData",
         [](const Args& args) {
             const int result = Diag_FillDMIData(Number(args, 0) != 0);
             return "= " + std::to_string(result) + Record() + Binding() + Kernel32();
         }},
        {"CheckMachine",
         [](const Args& args) {
             const bool result = Diag_CheckMachine(Number(args, 0) != 0);
             return "= " + Bool(result) + ", machine type " + std::to_string(Diag_GetMachineType());
         }},
        {"GetMachineType", [](const Args&) { return "= " + std::to_string(Diag_GetMachineType()); }},
        {"GetManufacturer", [](const Args& args) { return TextQuery(Diag_GetManufacturer, args); }},
        {"GetProductName", [](const Args& args) { return TextQuery(Diag_GetProductName, args); }},
        {"GetBoardSN", [](const Args& args) { return TextQuery(Diag_GetBoardSN, args); }},
        {"Get90Code",
         [](const Args&) {
             std::string sku = "untouched";
             Diag_Get90Code(sku);
             return "= void, sku " + Quoted(sku);
         }},
        {"GetPanelBrightness",
         [](const Args& args) {
             if (IsNull(args, 0)) return "= " + Bool(Diag_GetPanelBrightness(nullptr));
             unsigned char brightness = kUntouchedByte;
             const bool result = Diag_GetPanelBrightness(&brightness);
             return "= " + Bool(result) + ", brightness " + Byte(brightness);
         }},
        {"SetPanelBrightness",
         [](const Args& args) {
             return "= " + Bool(Diag_SetPanelBrightness(static_cast<unsigned char>(Number(args, 0))));
         }},
        {"GetCPUMode",
         [](const Args& args) {
             if (IsNull(args, 0)) return "= " + Bool(Diag_GetCPUMode(nullptr, nullptr));
             unsigned char high = kUntouchedByte, low = kUntouchedByte;
             const bool result = Diag_GetCPUMode(&high, &low);
             return "= " + Bool(result) + ", high " + Byte(high) + ", low " + Byte(low);
         }},
        {"SetCPUMode",
         [](const Args& args) {
             return "= " + Bool(Diag_SetCPUMode(static_cast<unsigned long>(Number(args, 0))));
         }},
        {"SetWifiState",
         [](const Args& args) { return PowerSet(Diag_SetWifiState, &tDiagWifiBTPowerState::bWifi, args); }},
        {"SetBTState", [](const Args& args) { return PowerSet(Diag_SetBTState, &tDiagWifiBTPowerState::bBT, args); }},
        {"SetCamState",
         [](const Args& args) { return PowerSet(Diag_SetCamState, &tDiagWifiBTPowerState::bCam, args); }},
        {"GetWifiState", [](const Args& args) { return PowerGet(Diag_GetWifiState, args); }},
        {"GetBTState", [](const Args& args) { return PowerGet(Diag_GetBTState, args); }},
        {"GetCamState", [](const Args& args) { return PowerGet(Diag_GetCamState, args); }},
        // GetACPISupportMethods [null ...]: which of the three pointers are null
        {"GetACPISupportMethods",
         [](const Args& args) {
             bool wlan = false, bluetooth = false, camera = false;
             const bool result = Diag_GetACPISupportMethods(IsNull(args, 0) ? nullptr : &wlan,
                                                            IsNull(args, 1) ? nullptr : &bluetooth,
                                                            IsNull(args, 2) ? nullptr : &camera);
             return "= " + Bool(result) + ", wlan " + Bool(wlan) + ", bluetooth " + Bool(bluetooth) + ", camera " +
                    Bool(camera);
         }},
        {"AcpiNBSetBTPowerOn",
         [](const Args& args) {
             const int result = Diag_AcpiNBSetBTPowerOn(Number(args, 0) != 0);
             return "= " + std::to_string(result) + ObjectsLeft();
         }},
        {"AcpiNBQueryBTDevice", [](const Args&) { return Presence(Diag_AcpiNBQueryBTDevice); }},
        {"AcpiNBQueryWifiDevice", [](const Args&) { return Presence(Diag_AcpiNBQueryWifiDevice); }},
        {"BatteryState",
         [](const Args& args) {
             if (IsNull(args, 0)) return "= " + Bool(Diag_BatteryState(nullptr));
             tBattery b;
             b.reserved = 0xCAFEF00D;
             b.state = "untouched";
             b.designCapacity = b.fullChargeCapacity = b.remainingCapacity = b.remainingPercentage = kUntouchedInt;
             b.voltage = kUntouchedInt;
             const bool result = Diag_BatteryState(&b);
             char voltage[32];
             std::snprintf(voltage, sizeof voltage, "%g", b.voltage);
             return "= " + Bool(result) + ", state " + Quoted(b.state) + ", design " + Int(b.designCapacity) +
                    ", full " + Int(b.fullChargeCapacity) + ", remaining " + Int(b.remainingCapacity) + ", percent " +
                    Int(b.remainingPercentage) + ", voltage " +
                    (b.voltage == kUntouchedInt ? std::string("untouched") : voltage) +
                    (b.reserved == 0xCAFEF00D ? "" : ", reserved written");
         }},
        {"GetBatteryChargeState", [](const Args&) { return "= " + Hex(Diag_GetBatteryChargeState()); }},
        {"SetBatteryChargeEnabled",
         [](const Args& args) { return "= " + Bool(Diag_SetBatteryChargeEnabled(Number(args, 0) != 0)); }},
        {"IsBatteryChargeEnabled", [](const Args&) { return "= " + Bool(Diag_IsBatteryChargeEnabled()); }},
    };
    return calls;
}

// ---- set-ups ----

// A port-I/O library served from inside the test, the notebook behind it,
// without the entry point named here.
std::string g_missingEntryPoint;

std::uint32_t ServedGetDllStatus() { return sim::Current().GetDllStatus(); }
int ServedInitializeOls() { return sim::Current().InitializeOls(); }
void ServedDeinitializeOls() { sim::Current().DeinitializeOls(); }
std::uint8_t ServedReadIoPortByte(std::uint16_t port) { return sim::Current().ReadIoPortByte(port); }
void ServedWriteIoPortByte(std::uint16_t port, std::uint8_t value) { sim::Current().WriteIoPortByte(port, value); }
std::uint32_t ServedReadPhysicalMemory(std::uintptr_t address, std::uint8_t* buffer, std::uint32_t count,
                                       std::uint32_t unitSize) {
    return sim::Current().ReadPhysicalMemory(static_cast<std::uint32_t>(address), buffer, count, unitSize);
}

platform::ProcAddress ServedEntryPoint(const char* name) {
    const std::pair<const char*, platform::ProcAddress> entries[] = {
        {"GetDllStatus", reinterpret_cast<platform::ProcAddress>(&ServedGetDllStatus)},
        {"InitializeOls", reinterpret_cast<platform::ProcAddress>(&ServedInitializeOls)},
        {"DeinitializeOls", reinterpret_cast<platform::ProcAddress>(&ServedDeinitializeOls)},
        {"ReadIoPortByte", reinterpret_cast<platform::ProcAddress>(&ServedReadIoPortByte)},
        {"WriteIoPortByte", reinterpret_cast<platform::ProcAddress>(&ServedWriteIoPortByte)},
        {"ReadPhysicalMemory", reinterpret_cast<platform::ProcAddress>(&ServedReadPhysicalMemory)},
    };
    for (const auto& [entry, address] : entries) {
        if (g_missingEntryPoint != entry && std::strcmp(name, entry) == 0) return address;
    }
    return nullptr;
}

// What strikes from the call on (after the set-up's own EC traffic): the
// EC's faults and latencies, the other program on the shared EC mutex, and
// another host thread releasing the binding during one of our pauses.
struct AtTheCall {
    sim::EcModel::AccessFault fault;
    sim::EcModel::AccessFault alsoFault;  // a second fault word
    std::uint32_t latencyMs = 0;
    std::int32_t answerLatencyMs = -1;
    sim::StationMutex::Other mutexOther = sim::StationMutex::Other::None;
    platform::DWORD releaseInPauseMs = 0;
};
AtTheCall g_atTheCall;
// Set while a row runs: a release still to come, in the first pause of
// this length.
platform::DWORD g_releaseInPauseMs = 0;

// Faults that float the bus end after this many accesses, so that a drain
// without its cap ends (and fails its row) instead of running for ever.
constexpr int kFaultAccessCeiling = 100000;

sim::StationMutex g_stationMutex;

void PauseOnTheNotebook(platform::DWORD ms, void*) {
    sim::Current().Sleep(ms);
    if (g_releaseInPauseMs != 0 && ms == g_releaseInPauseMs) {
        g_releaseInPauseMs = 0;
        Diag_FreeHWIO();  // the other thread's call, while this one pauses
    }
}
std::uint64_t NotebookTicks(void*) { return sim::Current().clock.NowMs(); }

// The set-up words that strike at the call (trace_table.h); false for any
// other word.
bool FaultWord(const std::string& word, std::string& error) {
    using Kind = sim::EcModel::AccessFault::Kind;
    const std::pair<const char*, Kind> kinds[] = {
        {"silent-from=", Kind::IbfStuckFrom}, {"unanswered-from=", Kind::ObfNeverFrom},
        {"floating-from=", Kind::FloatingFrom}, {"drop-at=", Kind::DropAt}, {"late-at=", Kind::LateAt},
    };
    for (const auto& [prefix, kind] : kinds) {
        if (word.rfind(prefix, 0) != 0) continue;
        const char* value = word.c_str() + std::strlen(prefix);
        char* end = nullptr;
        auto& fault = g_atTheCall.fault.kind == Kind::None ? g_atTheCall.fault : g_atTheCall.alsoFault;
        fault.kind = kind;
        fault.at = static_cast<int>(std::strtol(value, &end, 10));
        if (*end == ':') fault.delayMs = static_cast<std::uint32_t>(std::strtoul(end + 1, &end, 10));
        if (end == value || *end != '\0') error = "bad access fault '" + word + "'";
        return true;
    }
    if (word.rfind("latency=", 0) == 0) {
        g_atTheCall.latencyMs = static_cast<std::uint32_t>(std::atoi(word.c_str() + 8));
    } else if (word.rfind("answer-latency=", 0) == 0) {
        g_atTheCall.answerLatencyMs = std::atoi(word.c_str() + 15);
    } else if (word.rfind("released-in-pause=", 0) == 0) {
        g_atTheCall.releaseInPauseMs = static_cast<platform::DWORD>(std::atoi(word.c_str() + 18));
    } else if (word == "station-mutex" || word == "mutex-fails" || word == "mutex-fails-once") {
        g_stationMutex.creationFailures = word == "mutex-fails" ? -1 : word == "mutex-fails-once" ? 1 : 0;
        platform::testing::SetNamedMutexHost(&g_stationMutex);
    } else if (word == "mutex-held" || word == "mutex-abandoned") {
        g_atTheCall.mutexOther =
            word == "mutex-held" ? sim::StationMutex::Other::HoldsLonger : sim::StationMutex::Other::Abandoned;
        platform::testing::SetNamedMutexHost(&g_stationMutex);
    } else {
        return false;
    }
    return true;
}

void ArmTheCall(sim::Notebook& notebook) {
    notebook.ec.ResetAccessCount();
    notebook.ec.accessFault = g_atTheCall.fault;
    notebook.ec.alsoFault = g_atTheCall.alsoFault;
    for (const auto& fault : {g_atTheCall.fault, g_atTheCall.alsoFault}) {
        if (fault.kind == sim::EcModel::AccessFault::Kind::FloatingFrom) notebook.ec.accessCeiling = kFaultAccessCeiling;
    }
    notebook.ec.latencyMs = g_atTheCall.latencyMs;
    notebook.ec.answerLatencyMs = g_atTheCall.answerLatencyMs;
    g_stationMutex.other = g_atTheCall.mutexOther;
    g_releaseInPauseMs = g_atTheCall.releaseInPauseMs;
}

bool ApplyWord(const std::string& word, const std::vector<Setup>& setups, sim::Notebook& notebook,
               std::string& error) {
    for (const Setup& setup : setups) {
        if (word == setup.word) {
            setup.apply(notebook);
            return true;
        }
    }
    if (FaultWord(word, error)) return error.empty();
    char firmware[32] = {};
    if (word == "bound") {
        if (Diag_InitHWIO() != 1) error = "the binding did not come up";
    } else if (word == "released") {
        Diag_FreeHWIO();
    } else if (word == "init") {
        Diag_InitHWIO();
    } else if (word == "filled") {
        Diag_FillDMIData(false);
    } else if (word == "scanned") {
        Diag_FillDMIData(true);
    } else if (word == "checked") {
        if (!Diag_CheckMachine(false)) error = "the machine check failed";
    } else if (word == "fw") {
        if (Diag_GetECFirmwareVer2(firmware, 31) != 1) error = "the firmware text was not read";
    } else if (word.rfind("type=", 0) == 0) {
        smbios::testing::SetMachineType(std::atoi(word.c_str() + 5));
    } else if (word == "no-winring0") {
        platform::testing::OverrideModulePath(hwio::kPortIoLibrary, "/nonexistent/libWinRing0.so");
    } else if (word.rfind("winring0-without=", 0) == 0) {
        g_missingEntryPoint = word.substr(std::strlen("winring0-without="));
        platform::testing::OverrideModulePath(hwio::kPortIoLibrary, nullptr);
        platform::testing::ServeModuleInProcess(hwio::kPortIoLibrary, ServedEntryPoint);
    } else if (word == "partial-winring0") {
        platform::testing::OverrideModulePath(hwio::kPortIoLibrary, kPartialStandinPath);
    } else if (word == "no-kernel32") {
        platform::testing::OverrideModulePath(kKernel32Path, "");
    } else if (word == "no-firmware-memory") {
        smbios::testing::FailFirmwareAllocation(true);
    } else if (!sim::ApplyScenarios(notebook, word)) {
        error = "unknown set-up word '" + word + "'";
    }
    return error.empty();
}

// The library and the notebook as at load, the notebook's services in
// place of the OS's.
sim::Notebook& FreshMachine() {
    acpi::CloseAcpiDevice();
    acpi::ReleaseNbAcpiInterface();
    ResetLibrary();
    platform::testing::SetNamedMutexHost(nullptr);
    g_stationMutex = sim::StationMutex{};
    g_atTheCall = AtTheCall{};
    g_releaseInPauseMs = 0;
    sim::Notebook& notebook = sim::ResetCurrent();
    // The library's deadlines run on the notebook's clock, as its pauses do.
    platform::testing::SetSleepHook(PauseOnTheNotebook, nullptr, NotebookTicks);
    platform::testing::OverrideModulePath(hwio::kPortIoLibrary, kStandinPath);
    platform::testing::OverrideModulePath(kKernel32Path, nullptr);
    platform::testing::SetFirmwareTableHost(&sim::FirmwareHost());
    platform::testing::SetDeviceHost(&notebook.devices);
    return notebook;
}

void Capture() {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
}

std::string Captured() {
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

}  // namespace

bool ParseTrace(const std::string& text, const std::vector<Fragment>& fragments, std::vector<std::string>& items,
                std::string& error) {
    items.clear();
    TraceParser parser(text, fragments, error);
    return parser.Items(items, false);
}

bool RunRow(const Row& row, const std::vector<Setup>& setups, std::vector<std::string>& items, std::string& error) {
    items.clear();
    error.clear();
    std::istringstream callWords(row.call);
    std::string name;
    callWords >> name;
    Args args;
    for (std::string arg; callWords >> arg;) args.push_back(arg);
    const Call* call = nullptr;
    for (const auto& entry : Calls()) {
        if (name == entry.first) call = &entry.second;
    }
    if (call == nullptr) {
        error = "unknown call '" + name + "'";
        return false;
    }

    sim::Notebook& notebook = FreshMachine();
    Capture();
    std::istringstream setupWords(row.setup);
    for (std::string word; error.empty() && setupWords >> word;) ApplyWord(word, setups, notebook, error);
    Captured();
    if (!error.empty()) return false;

    // A real table's size reads $rsmb; a missing or header-only one's does not.
    const std::string rsmb = std::to_string(notebook.firmware.rsmb.size());
    const bool realTable = notebook.firmware.rsmb.size() >= 8;
    notebook.trace.Clear();
    ArmTheCall(notebook);
    Capture();
    notebook.trace.SetOutputMark(StdoutMark);
    const std::string outcome = (*call)(args);
    notebook.trace.SetOutputMark(nullptr);
    const std::string output = Captured();

    std::uint64_t printed = 0;
    for (const sim::Event& event : notebook.trace.Events()) {
        const std::uint64_t mark = std::min<std::uint64_t>(event.outputMark, output.size());
        if (mark > printed) AddLines(output.substr(printed, mark - printed), items);
        printed = std::max(printed, mark);
        std::string item = EventItem(event);
        if (event.kind == sim::Event::Kind::Call && item.rfind("GetSystemFirmwareTable", 0) == 0 && realTable) {
            // The answer's size as $rsmb, where it is the size at the call.
            Substitute(item, " " + rsmb + " bytes", " $rsmb bytes");
            const std::string answer = "-> " + rsmb;
            if (item.size() >= answer.size() && item.compare(item.size() - answer.size(), answer.size(), answer) == 0) {
                item.replace(item.size() - rsmb.size(), rsmb.size(), "$rsmb");
            }
        }
        items.push_back(item);
    }
    AddLines(output.substr(printed), items);
    items.push_back(outcome);

    // A module served from inside the test goes only after the library let
    // go of it.
    ResetLibrary();
    g_releaseInPauseMs = 0;
    platform::testing::SetNamedMutexHost(nullptr);  // after the library closed its handle
    platform::testing::ServeModuleInProcess(hwio::kPortIoLibrary, nullptr);
    platform::testing::OverrideModulePath(kKernel32Path, nullptr);
    smbios::testing::FailFirmwareAllocation(false);
    platform::testing::SetDeviceHost(nullptr);
    return true;
}

std::string Difference(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
    std::size_t first = 0;
    while (first < expected.size() && first < actual.size() && expected[first] == actual[first]) ++first;
    std::ostringstream out;
    out << "first difference at item " << first + 1 << " (expected | actual):\n";
    const std::size_t context = first > 2 ? first - 2 : 0;
    for (std::size_t i = context; i < std::max(expected.size(), actual.size()); ++i) {
        const std::string e = i < expected.size() ? expected[i] : "";
        const std::string a = i < actual.size() ? actual[i] : "";
        out << (e == a ? "   " : ">> ") << e << (e == a ? "" : "  |  " + a) << "\n";
    }
    return out.str();
}

}  // namespace hwtk3::test::traces
