#include "acpi/acpi_channel.h"

#include <cstring>

#include "platform/sync.h"

namespace hwtk3::acpi {
namespace {

constexpr platform::DWORD kDeviceAccess = platform::kGenericRead | platform::kGenericWrite;
constexpr platform::DWORD kDeviceShare = platform::kFileShareRead | platform::kFileShareWrite;
constexpr platform::DWORD kNoFlags = 0;

// Scratch copy of the first returned value (type, length, data); the data
// length is capped well below its size.
constexpr std::size_t kValueBufferSize = 256;
constexpr std::size_t kValueHeaderSize = 4;   // type word and length word
constexpr std::size_t kMinValueCopy = 8;      // header and one 32-bit integer
static_assert(kValueHeaderSize + kMaxDataLength <= kValueBufferSize, "value buffer holds the longest value");
static_assert(kReplyValueOffset + kValueHeaderSize + kMaxDataLength <= kReplySize, "value lies in the reply");

// Guarded by AcpiDeviceLock.
platform::HANDLE g_acpiDeviceHandle = nullptr;

platform::CriticalSection& DeviceLock() {
    static platform::CriticalSection lock;
    return lock;
}

std::uint32_t LittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

AcpiDeviceLock::AcpiDeviceLock() { DeviceLock().Enter(); }
AcpiDeviceLock::~AcpiDeviceLock() { DeviceLock().Leave(); }

platform::HANDLE AcpiDeviceHandle() {
    AcpiDeviceLock lock;
    return g_acpiDeviceHandle;
}

bool OpenAcpiDevice() {
    AcpiDeviceLock lock;
    // At most one handle at any time: one left by an earlier call goes first.
    CloseAcpiDevice();
    const platform::HANDLE handle = platform::CreateFileW(kAcpiDevicePath, kDeviceAccess, kDeviceShare, nullptr,
                                                          platform::kOpenExisting, kNoFlags, nullptr);
    if (handle == platform::kInvalidHandleValue || handle == nullptr) return false;
    g_acpiDeviceHandle = handle;
    return true;
}

void CloseAcpiDevice() {
    AcpiDeviceLock lock;
    if (g_acpiDeviceHandle == nullptr) return;
    platform::CloseHandle(g_acpiDeviceHandle);
    g_acpiDeviceHandle = nullptr;
}

bool CallAcpiMethod(platform::HANDLE handle, std::uint32_t methodName, bool hasArgument, std::uint32_t argument,
                    std::uint32_t& result) {
    if (handle == nullptr) return false;

    AcpiMethodRequest request;
    AcpiMethodReply reply;
    std::memset(&request, 0, sizeof request);
    std::memset(&reply, 0, sizeof reply);

    // The driver reads this block through the address in the request, so
    // it lives here until DeviceIoControl has returned. A call without
    // argument still sends a well-formed block holding 0.
    AcpiMethodArgument block;
    std::memset(&block, 0, sizeof block);
    block.ArgumentType = kArgumentTypeInteger;
    block.ArgumentLength = kArgumentLengthInteger;
    block.ArgumentValue = hasArgument ? argument : 0;

    request.RequestKind = hasArgument ? kRequestWithIntegerArgument : kRequestWithoutArgument;
    request.MethodName = methodName;
    request.ArgumentCount = hasArgument ? kArgumentCountOne : kArgumentCountNone;
    request.ArgumentBlockSize = kArgumentBlockSize;
    request.ArgumentBlock = reinterpret_cast<std::uintptr_t>(&block);

    platform::DWORD bytesReturned = 0;
    if (!platform::DeviceIoControl(handle, kIoctlEvalAcpiMethod, &request, sizeof request, &reply, sizeof reply,
                                   &bytesReturned, nullptr)) {
        return false;
    }

    // The reply is zero-filled beforehand, so a driver that writes less
    // than it claims, or nothing at all, yields zeros rather than stale
    // memory. DataLength is trusted only up to our cap.
    if (reply.DataLength > kMaxDataLength) {
        result = 0;
        return false;
    }
    std::uint8_t value[kValueBufferSize];
    std::memset(value, 0, sizeof value);
    const std::size_t copy =
        reply.DataLength <= kArgumentLengthInteger ? kMinValueCopy : kValueHeaderSize + reply.DataLength;
    std::memcpy(value, reinterpret_cast<const std::uint8_t*>(&reply) + kReplyValueOffset, copy);
    result = LittleEndian32(value + kValueHeaderSize);
    return true;
}

}  // namespace hwtk3::acpi
