#include "sim/device_host.h"

#include <cstdio>
#include <cstring>

#include "platform/battery_class.h"
#include "sim/notebook.h"

namespace hwtk3::sim {
namespace {

namespace bc = platform::battery;

// Where the ACPI control driver's reply puts the first value's length and
// data, as the driver writes it.
constexpr std::size_t kReplyDataLengthOffset = 14;
constexpr std::size_t kReplyDataOffset = 16;

std::string MethodName(std::uint32_t method) {
    std::string name;
    for (int i = 0; i < 4; ++i) name += static_cast<char>(method >> (8 * i));
    return name;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// The method and argument a request names, read as the driver reads it
// (also when the driver failed it before looking).
void RequestedMethod(const void* in, platform::DWORD inSize, std::uint32_t& method, bool& hasArgument,
                     std::uint32_t& argument) {
    constexpr std::uint32_t kKindInteger = 2;
    method = 0;
    hasArgument = false;
    argument = 0;
    if (in == nullptr || inSize != sizeof(void*) + 16) return;
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    std::uint32_t kind = 0;
    std::memcpy(&kind, bytes, sizeof kind);
    std::memcpy(&method, bytes + 4, sizeof method);
    const std::uint8_t* block = nullptr;
    std::memcpy(&block, bytes + 16, sizeof block);
    hasArgument = kind == kKindInteger && block != nullptr;
    if (hasArgument) std::memcpy(&argument, block + 4, sizeof argument);
}

// "ZORDACPI PBLS(0xff) -> 0x1": the method, its argument, and the first
// value of the reply as the driver left it.
std::string AcpiCallNote(const void* in, platform::DWORD inSize, platform::BOOL ok, const void* out,
                         platform::DWORD outSize) {
    std::uint32_t method = 0, argument = 0;
    bool hasArgument = false;
    RequestedMethod(in, inSize, method, hasArgument, argument);
    std::string note = "ZORDACPI " + (method != 0 ? MethodName(method) : std::string("?"));
    if (hasArgument) note += "(" + Hex(argument) + ")";
    if (!ok) return note + " fails";
    const auto* reply = static_cast<const std::uint8_t*>(out);
    if (reply == nullptr || outSize < kReplyDataOffset + 4) return note + " -> no room for a reply";
    const auto length = static_cast<std::uint16_t>(reply[kReplyDataLengthOffset] | reply[kReplyDataLengthOffset + 1] << 8);
    std::uint32_t value = 0;
    std::memcpy(&value, reply + kReplyDataOffset, sizeof value);
    if (length == 0 && value == 0) return note + " -> nothing written";
    if (length != 4) return note + " -> DataLength " + std::to_string(length);
    return note + " -> " + Hex(value);
}

std::string BatteryName(int index) { return "battery " + std::to_string(index + 1); }

std::string BatteryQueryNote(int index, platform::DWORD code, const void* in, platform::DWORD inSize) {
    std::string note = BatteryName(index) + " query ";
    std::uint32_t tag = 0;
    if (in != nullptr && inSize >= sizeof tag) std::memcpy(&tag, in, sizeof tag);
    switch (code) {
        case bc::kIoctlQueryTag: return note + "tag";
        case bc::kIoctlQueryInformation: return note + "information, tag " + std::to_string(tag);
        case bc::kIoctlQueryStatus: return note + "status, tag " + std::to_string(tag);
        default: return note + Hex(code);
    }
}

}  // namespace

// Each device model is asked in turn whether it serves the path (on open)
// or owns the handle (afterwards): the batteries, then the ACPI control
// driver, which answers every other path as absent. Every call goes into
// the notebook's trace.
platform::HANDLE NotebookDeviceHost::Open(const std::string& path, platform::DWORD desiredAccess,
                                          platform::DWORD& error) {
    Notebook::Access access(notebook_);
    platform::HANDLE handle = platform::kInvalidHandleValue;
    std::string name = path;
    if (notebook_.batteries.Serves(path)) {
        handle = notebook_.batteries.Open(path, error);
        for (std::size_t i = 0; i < notebook_.batteries.devices.size(); ++i) {
            if (notebook_.batteries.devices[i].path == path) name = BatteryName(static_cast<int>(i));
        }
    } else {
        handle = acpi_.Open(path, desiredAccess, error);
    }
    notebook_.trace.Note("open " + name + (handle == platform::kInvalidHandleValue ? " fails" : ""),
                         notebook_.clock.NowMs());
    return handle;
}

platform::BOOL NotebookDeviceHost::IoControl(platform::HANDLE device, platform::DWORD code, const void* in,
                                             platform::DWORD inSize, void* out, platform::DWORD outSize,
                                             platform::DWORD* bytesReturned, platform::DWORD& error) {
    Notebook::Access access(notebook_);
    const int battery = notebook_.batteries.DeviceIndex(device);
    if (notebook_.batteries.Owns(device)) {
        const platform::BOOL ok =
            notebook_.batteries.IoControl(device, code, in, inSize, out, outSize, bytesReturned, error);
        std::string note = BatteryQueryNote(battery, code, in, inSize);
        if (!ok) {
            note += " fails";
        } else if (code == bc::kIoctlQueryTag && out != nullptr && outSize >= sizeof(std::uint32_t)) {
            std::uint32_t tag = 0;
            std::memcpy(&tag, out, sizeof tag);
            note += " -> " + std::to_string(tag);
        }
        notebook_.trace.Note(note, notebook_.clock.NowMs());
        return ok;
    }
    if (notebook_.acpi.driver.Owns(device)) {
        const platform::BOOL ok = acpi_.IoControl(device, code, in, inSize, out, outSize, bytesReturned, error);
        notebook_.trace.Note(AcpiCallNote(in, inSize, ok, out, outSize), notebook_.clock.NowMs());
        return ok;
    }
    ++strayHandleUses;
    notebook_.trace.Note("I/O control on a handle nobody gave out", notebook_.clock.NowMs());
    error = platform::kErrorInvalidHandle;
    return 0;
}

platform::BOOL NotebookDeviceHost::Close(platform::HANDLE device) {
    Notebook::Access access(notebook_);
    const int battery = notebook_.batteries.DeviceIndex(device);
    if (notebook_.batteries.Owns(device)) {
        notebook_.trace.Note("close " + BatteryName(battery), notebook_.clock.NowMs());
        return notebook_.batteries.Close(device);
    }
    if (notebook_.acpi.driver.Owns(device)) {
        notebook_.trace.Note("close \\\\.\\ZORDACPI", notebook_.clock.NowMs());
        return acpi_.Close(device);
    }
    ++strayHandleUses;
    notebook_.trace.Note("close of a handle nobody gave out", notebook_.clock.NowMs());
    return 0;
}

std::vector<std::string> NotebookDeviceHost::BatteryInterfaces() {
    Notebook::Access access(notebook_);
    return notebook_.batteries.Interfaces();
}

platform::DWORD NotebookDeviceHost::SetupApiFault(SetupApiStep step, platform::DWORD index) {
    Notebook::Access access(notebook_);
    static const char* const kSteps[] = {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces",
                                         "SetupDiGetDeviceInterfaceDetailA size query",
                                         "SetupDiGetDeviceInterfaceDetailA size query",
                                         "SetupDiGetDeviceInterfaceDetailA", "LocalAlloc"};
    const platform::DWORD fault = notebook_.batteries.SetupApiFault(step, index);
    if (fault != 0) {
        const bool perDevice = step != SetupApiStep::ClassDevs && step != SetupApiStep::LocalAlloc;
        std::string note = kSteps[static_cast<int>(step)];
        if (perDevice) note += " (" + BatteryName(static_cast<int>(index)) + ")";
        note += step == SetupApiStep::DetailSizeShort ? " answers 1 byte" : " fails";
        notebook_.trace.Note(note, notebook_.clock.NowMs());
    }
    return fault;
}

}  // namespace hwtk3::sim
