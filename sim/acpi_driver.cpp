#include "sim/acpi_driver.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace hwtk3::sim {
namespace {

// Win32 error codes the driver fails with.
constexpr platform::DWORD kErrorAccessDenied = 5;
constexpr platform::DWORD kErrorInvalidHandle = 6;
constexpr platform::DWORD kErrorGenFailure = 31;
constexpr platform::DWORD kErrorInvalidParameter = 87;
constexpr platform::DWORD kErrorNotFound = 1168;

// The driver's interface, spelled out in bytes on purpose rather than
// taken from the library's structures, so a layout slip there shows here.
constexpr platform::DWORD kIoctlEvalMethod = 0x222404;
constexpr platform::DWORD kRequestSize32 = 20;  // 32-bit caller: 32-bit block address
constexpr platform::DWORD kRequestSize64 = 24;  // 64-bit caller: 64-bit block address
constexpr std::uint32_t kKindNoArgument = 1;
constexpr std::uint32_t kKindInteger = 2;
constexpr std::uint32_t kBlockSize = 8;
constexpr std::uint16_t kTypeInteger = 0;
constexpr std::uint16_t kIntegerLength = 4;
constexpr platform::DWORD kValueOffset = 12;   // type word, then DataLength, then data
constexpr platform::DWORD kDataOffset = 16;
constexpr std::uint32_t kReplySignature = AcpiName("AcRp");

const platform::DWORD kAccessReadWrite = platform::kGenericRead | platform::kGenericWrite;
const std::uintptr_t kHandleBase = 0x4AC00000;

std::uint32_t Read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void Write32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Write16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// A power switch the firmware only offers when its capability bit is set.
bool Power(const AcpiFirmware& fw, std::uint32_t capability, bool& state, bool set, std::uint32_t argument,
           std::uint32_t& value) {
    if ((fw.capabilities & capability) == 0) {
        value = 0;
        return true;
    }
    if (set) {
        state = argument != 0;
        value = 1;
    } else {
        value = state ? 1 : 0;
    }
    return true;
}

}  // namespace

bool AcpiFirmware::Evaluate(std::uint32_t method, bool hasArgument, std::uint32_t argument, std::uint32_t& value) {
    const auto forced = forcedResults.find(method);
    if (forced != forcedResults.end()) {
        value = forced->second;
        return true;
    }
    const std::uint32_t arg = hasArgument ? argument : 0;
    switch (method) {
        case AcpiName("PBLG"): value = brightness; return true;
        case AcpiName("PBLS"):
            value = arg <= kMaxBrightness ? 1 : 0;
            if (value != 0) brightness = arg;
            return true;
        case AcpiName("CFVG"): value = (cpuMode & 0xFF) << 8 | (cpuModeCount & 0xFF); return true;
        case AcpiName("CFVS"):
            value = arg < cpuModeCount ? 1 : 0;
            if (value != 0) cpuMode = arg;
            return true;
        case AcpiName("WLDG"): return Power(*this, kCapWlan, wlanPower, false, arg, value);
        case AcpiName("WLDS"): return Power(*this, kCapWlan, wlanPower, true, arg, value);
        case AcpiName("BTHG"): return Power(*this, kCapBluetooth, bluetoothPower, false, arg, value);
        case AcpiName("BTHS"): return Power(*this, kCapBluetooth, bluetoothPower, true, arg, value);
        case AcpiName("CAMG"): return Power(*this, kCapCamera, cameraPower, false, arg, value);
        case AcpiName("CAMS"): return Power(*this, kCapCamera, cameraPower, true, arg, value);
        case AcpiName("CMSG"): value = capabilities; return true;
        case AcpiName("HWRS"): value = hardware; return true;
        case AcpiName("BLED"):
            bluetoothPower = arg != 0;
            value = 1;
            return true;
        default: return false;
    }
}

platform::HANDLE AcpiDriver::Open(platform::DWORD desiredAccess, platform::DWORD& error) {
    if (faults.absent) {
        ++failedOpens;
        error = platform::kErrorFileNotFound;
        return platform::kInvalidHandleValue;
    }
    if ((desiredAccess & kAccessReadWrite) != kAccessReadWrite) {
        ++failedOpens;
        error = kErrorAccessDenied;
        return platform::kInvalidHandleValue;
    }
    platform::HANDLE handle = reinterpret_cast<platform::HANDLE>(kHandleBase + 4 * ++nextHandle_);
    open_.insert(handle);
    ++opens;
    maxOpenHandles = std::max(maxOpenHandles, OpenHandles());
    return handle;
}

platform::BOOL AcpiDriver::Close(platform::HANDLE device) {
    if (open_.erase(device) == 0) return 0;
    ++closes;
    closeTimesMs.push_back(clock_.NowMs());
    return 1;
}

bool AcpiDriver::Parse(AcpiDriverCall& call, const void* in, platform::DWORD inSize, platform::DWORD& error) {
    error = kErrorInvalidParameter;
    if (in == nullptr || (inSize != kRequestSize32 && inSize != kRequestSize64)) return false;
    if (inSize != sizeof(void*) + 16) return false;  // the caller's own pointer width
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    call.request.assign(bytes, bytes + inSize);

    const std::uint32_t kind = Read32(bytes);
    call.method = Read32(bytes + 4);
    const std::uint32_t count = Read32(bytes + 8);
    const std::uint32_t blockSize = Read32(bytes + 12);
    std::uint64_t address = Read32(bytes + 16);
    if (inSize == kRequestSize64) address |= static_cast<std::uint64_t>(Read32(bytes + 20)) << 32;

    if (kind == kKindNoArgument) {
        if (count != 0) return false;
    } else if (kind == kKindInteger) {
        if (count != 1) return false;
    } else {
        return false;
    }
    if (blockSize != kBlockSize || address == 0) return false;

    // Same process: the block is read where the caller says it is.
    const auto* block = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(address));
    call.argument.assign(block, block + kBlockSize);
    if (Read16(block) != kTypeInteger || Read16(block + 2) != kIntegerLength) return false;
    call.hasArgument = kind == kKindInteger;
    call.argumentValue = Read32(block + 4);
    if (!call.hasArgument && call.argumentValue != 0) return false;
    return true;
}

void AcpiDriver::WriteReply(std::uint32_t value, std::uint8_t* out, platform::DWORD outSize,
                            platform::DWORD* bytesReturned) {
    std::uint8_t data[4];
    Write32(data, value);
    const std::uint8_t* payload = data;
    std::size_t payloadSize = sizeof data;
    std::uint16_t dataLength = sizeof data;
    if (faults.forceReply) {
        payload = faults.replyData.data();
        payloadSize = faults.replyData.size();
        dataLength = faults.replyDataLength;
    }
    payloadSize = std::min<std::size_t>(payloadSize, outSize - kDataOffset);
    Write32(out, kReplySignature);
    Write32(out + 4, static_cast<std::uint32_t>(kDataOffset + payloadSize));
    Write32(out + 8, 1);  // one value returned
    Write16(out + kValueOffset, kTypeInteger);
    Write16(out + kValueOffset + 2, dataLength);
    if (payloadSize != 0) std::memcpy(out + kDataOffset, payload, payloadSize);
    if (bytesReturned != nullptr) *bytesReturned = static_cast<platform::DWORD>(kDataOffset + payloadSize);
}

platform::BOOL AcpiDriver::IoControl(platform::HANDLE device, platform::DWORD code, const void* in,
                                     platform::DWORD inSize, void* out, platform::DWORD outSize,
                                     platform::DWORD* bytesReturned, platform::DWORD& error) {
    if (!Owns(device)) {
        error = kErrorInvalidHandle;
        return 0;
    }
    calls.push_back(AcpiDriverCall{});
    AcpiDriverCall& call = calls.back();
    call.code = code;
    call.outSize = outSize;
    call.atMs = clock_.NowMs();
    if (bytesReturned != nullptr) *bytesReturned = 0;
    if (faults.ioControlFails) {
        error = kErrorGenFailure;
        return 0;
    }
    if (code != kIoctlEvalMethod) {
        error = platform::kErrorInvalidFunction;
        return 0;
    }
    if (!Parse(call, in, inSize, error)) return 0;
    if (out == nullptr || outSize < kDataOffset + kIntegerLength) {
        error = platform::kErrorInsufficientBuffer;
        return 0;
    }
    std::uint32_t value = 0;
    if (!firmware_.Evaluate(call.method, call.hasArgument, call.argumentValue, value)) {
        error = kErrorNotFound;
        return 0;
    }
    call.accepted = true;
    if (!faults.silent) WriteReply(value, static_cast<std::uint8_t*>(out), outSize, bytesReturned);
    return 1;
}

void AcpiInterfaceObjects::Construct(const void* self) {
    if (constructorThrows) throw std::runtime_error("ACPI interface unavailable");
    ++constructed;
    live.insert(self);
}

void AcpiInterfaceObjects::Destroy(const void* self) {
    if (live.erase(self) == 0) ++strayCalls;
    ++destroyed;
    if (destructorThrows) throw std::runtime_error("ACPI interface release failed");
}

int AcpiInterfaceObjects::Invoke(AcpiFirmware& firmware, const void* self, std::uint32_t method, bool hasArgument,
                                 std::uint32_t argument, unsigned long* value) {
    if (live.count(self) == 0) ++strayCalls;
    invocations.push_back(Invocation{method, hasArgument, argument});
    if (invokeThrows) throw std::runtime_error("ACPI method call failed");
    if (invokeFails || value == nullptr) return 0;
    std::uint32_t result = 0;
    if (!firmware.Evaluate(method, hasArgument, argument, result)) return 0;
    *value = hasArgument ? commandEcho : result;
    return 1;
}

}  // namespace hwtk3::sim
