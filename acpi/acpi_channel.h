// Method channel to the ACPI control driver: one named control method of
// the machine's firmware per call, evaluated by device I/O control on
// "\\.\ZORDACPI", with no argument or one 32-bit integer argument and a
// 32-bit integer result.
#ifndef HWTK3_ACPI_ACPI_CHANNEL_H
#define HWTK3_ACPI_ACPI_CHANNEL_H

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace hwtk3::acpi {

// Four ACPI name characters packed so that, stored little-endian, the bytes
// read in order: the first character is the least significant byte.
constexpr std::uint32_t PackMethodName(const char (&name)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[3])) << 24;
}
static_assert(PackMethodName("PBLG") == 0x474C4250u, "first character must be the low byte");

// The driver's device path.
inline constexpr wchar_t kAcpiDevicePath[] = L"\\\\.\\ZORDACPI";

// CTL_CODE(FILE_DEVICE_UNKNOWN, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr platform::DWORD kFileDeviceUnknown = 0x22;
constexpr platform::DWORD kEvalMethodFunction = 0x901;
constexpr platform::DWORD kMethodBuffered = 0;
constexpr platform::DWORD kFileAnyAccess = 0;
constexpr platform::DWORD kIoctlEvalAcpiMethod =
    kFileDeviceUnknown << 16 | kFileAnyAccess << 14 | kEvalMethodFunction << 2 | kMethodBuffered;
static_assert(kIoctlEvalAcpiMethod == 0x222404u, "control code of the method evaluation");

// RequestKind values and the matching ArgumentCount.
constexpr std::uint32_t kRequestWithoutArgument = 1;
constexpr std::uint32_t kRequestWithIntegerArgument = 2;
constexpr std::uint32_t kArgumentCountNone = 0;
constexpr std::uint32_t kArgumentCountOne = 1;

// ArgumentType of an integer, and its ArgumentLength.
constexpr std::uint16_t kArgumentTypeInteger = 0;
constexpr std::uint16_t kArgumentLengthInteger = 4;

// The argument block the driver reads through the request's address. It
// must stay valid until the I/O control returns.
struct AcpiMethodArgument {
    std::uint16_t ArgumentType;
    std::uint16_t ArgumentLength;
    std::uint32_t ArgumentValue;
};
static_assert(sizeof(AcpiMethodArgument) == 8, "argument block is 8 bytes");
static_assert(offsetof(AcpiMethodArgument, ArgumentType) == 0, "argument layout");
static_assert(offsetof(AcpiMethodArgument, ArgumentLength) == 2, "argument layout");
static_assert(offsetof(AcpiMethodArgument, ArgumentValue) == 4, "argument layout");

constexpr std::uint32_t kArgumentBlockSize = sizeof(AcpiMethodArgument);

// Input record of the I/O control. All fields little-endian; the targets
// (x86 and x86-64) are little-endian, so the record is filled natively.
//
// A 32-bit build sends 20 bytes: the address of the argument block is the
// 32-bit field at offset 16. A 64-bit build cannot fit an address there;
// it keeps the first 16 bytes as they are and widens ArgumentBlock to a
// 64-bit address at offset 16, naturally aligned, which makes the record
// 24 bytes. A driver recognises the layout by the input size it receives.
struct AcpiMethodRequest {
    std::uint32_t RequestKind;
    std::uint32_t MethodName;
    std::uint32_t ArgumentCount;
    std::uint32_t ArgumentBlockSize;
    std::uintptr_t ArgumentBlock;  // address of an AcpiMethodArgument in the caller
};
static_assert(offsetof(AcpiMethodRequest, RequestKind) == 0, "request layout");
static_assert(offsetof(AcpiMethodRequest, MethodName) == 4, "request layout");
static_assert(offsetof(AcpiMethodRequest, ArgumentCount) == 8, "request layout");
static_assert(offsetof(AcpiMethodRequest, ArgumentBlockSize) == 12, "request layout");
static_assert(offsetof(AcpiMethodRequest, ArgumentBlock) == 16, "request layout");
static_assert(sizeof(std::uintptr_t) != 4 || sizeof(AcpiMethodRequest) == 20, "32-bit request is 20 bytes");
static_assert(sizeof(std::uintptr_t) != 8 || sizeof(AcpiMethodRequest) == 24, "64-bit request is 24 bytes");

// Output buffer of the I/O control. Only the first returned value is read.
constexpr std::size_t kReplySize = 768;
constexpr std::size_t kReplyHeaderSize = 12;
constexpr std::size_t kReplyValueOffset = 12;  // type word, length word, data
struct AcpiMethodReply {
    std::uint8_t Header[kReplyHeaderSize];
    std::uint16_t ValueType;
    std::uint16_t DataLength;
    std::uint8_t Data[kReplySize - 16];
};
static_assert(sizeof(AcpiMethodReply) == kReplySize, "reply buffer is 768 bytes");
static_assert(offsetof(AcpiMethodReply, ValueType) == 12, "reply layout");
static_assert(offsetof(AcpiMethodReply, DataLength) == 14, "reply layout");
static_assert(offsetof(AcpiMethodReply, Data) == 16, "reply layout");

// Longest first value we accept; a longer one is treated as a broken reply.
constexpr std::uint16_t kMaxDataLength = 100;

// Guards the device handle below. A control export holds it from opening
// the device to closing it, its delay included (the handle is in use until
// it is closed), so one host thread never closes the handle another is
// calling through, and at most one handle exists at any moment. Recursive;
// the functions below take it too. Among the library's locks it stands
// alone: nothing else of ours is taken under it, and it is never taken
// under another (see hwio::BindingLock for the order of the others).
class AcpiDeviceLock {
public:
    AcpiDeviceLock();
    ~AcpiDeviceLock();
    AcpiDeviceLock(const AcpiDeviceLock&) = delete;
    AcpiDeviceLock& operator=(const AcpiDeviceLock&) = delete;
};

// The handle of the open control device, or nullptr when none is open.
platform::HANDLE AcpiDeviceHandle();

// Opens the device afresh (closing a handle still held first); true when a
// handle is held afterwards.
bool OpenAcpiDevice();
// Closes the held handle, if any.
void CloseAcpiDevice();

// Evaluates `methodName` on `handle`. True when a result was obtained; then
// `result` holds it. An over-long reply sets `result` to 0 and fails; any
// other failure leaves `result` as it was. Uses fixed buffers on the stack
// only.
bool CallAcpiMethod(platform::HANDLE handle, std::uint32_t methodName, bool hasArgument, std::uint32_t argument,
                    std::uint32_t& result);

}  // namespace hwtk3::acpi

#endif  // HWTK3_ACPI_ACPI_CHANNEL_H
