// ACPI method channel: the request as the driver receives it, the result
// rule for every DataLength, and the handle's life.
#include <cstring>
#include <vector>

#include "acpi/acpi_channel.h"
#include "tests/acpi_support.h"

namespace hwtk3::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::AcpiName;

constexpr std::uint32_t kUntouched = 0xCAFEF00D;

TEST_F(AcpiTest, RequestAsTheDriverSeesIt) {
    struct Case {
        std::uint32_t method;
        bool hasArgument;
        std::uint32_t argument;
        Bytes head;   // the first 16 bytes of the request
        Bytes block;  // the argument block behind its address
    };
    const Case cases[] = {
        {acpi::PackMethodName("PBLG"), false, 0x12345678,  // the argument is ignored without the flag
         {1, 0, 0, 0, 'P', 'B', 'L', 'G', 0, 0, 0, 0, 8, 0, 0, 0},
         {0, 0, 4, 0, 0, 0, 0, 0}},
        {acpi::PackMethodName("PBLS"), true, 0x12345678,
         {2, 0, 0, 0, 'P', 'B', 'L', 'S', 1, 0, 0, 0, 8, 0, 0, 0},
         {0, 0, 4, 0, 0x78, 0x56, 0x34, 0x12}},
    };
    firmware().forcedResults[AcpiName("PBLG")] = 0x11223344;
    firmware().forcedResults[AcpiName("PBLS")] = 0x55667788;
    ASSERT_TRUE(acpi::OpenAcpiDevice());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        driver().calls.clear();
        std::uint32_t result = kUntouched;
        EXPECT_TRUE(acpi::CallAcpiMethod(acpi::AcpiDeviceHandle(), c.method, c.hasArgument, c.argument, result));
        ASSERT_EQ(driver().calls.size(), 1u);
        const sim::AcpiDriverCall& call = driver().calls[0];
        EXPECT_TRUE(call.accepted);
        EXPECT_EQ(call.code, 0x222404u);
        EXPECT_EQ(call.outSize, 768u);
        ASSERT_EQ(call.request.size(), 16 + sizeof(void*));
        EXPECT_EQ(Bytes(call.request.begin(), call.request.begin() + 16), c.head);
        EXPECT_NE(Bytes(call.request.begin() + 16, call.request.end()), Bytes(sizeof(void*), 0));
        EXPECT_EQ(call.argument, c.block);
        EXPECT_EQ(result, c.hasArgument ? 0x55667788u : 0x11223344u);
    }
    acpi::CloseAcpiDevice();
}

TEST_F(AcpiTest, ResultFollowsTheDataLengthRule) {
    struct Case {
        std::uint16_t dataLength;
        std::size_t dataBytes;  // written by the driver, whatever it claims
        bool ok;
        std::uint32_t result;
    };
    const Case cases[] = {
        {0, 0, true, 0},            {1, 4, true, 0x12345678},   {3, 4, true, 0x12345678},
        {4, 4, true, 0x12345678},   {100, 100, true, 0x12345678}, {101, 101, false, 0},
        {700, 700, false, 0},       {0xFFFF, 752, false, 0},
    };
    ASSERT_TRUE(acpi::OpenAcpiDevice());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dataLength);
        Bytes data(c.dataBytes, 0xEE);
        const std::uint8_t value[] = {0x78, 0x56, 0x34, 0x12};
        if (!data.empty()) std::memcpy(data.data(), value, std::min<std::size_t>(4, data.size()));
        driver().faults.forceReply = true;
        driver().faults.replyDataLength = c.dataLength;
        driver().faults.replyData = data;
        std::uint32_t result = kUntouched;
        EXPECT_EQ(acpi::CallAcpiMethod(acpi::AcpiDeviceHandle(), acpi::PackMethodName("CMSG"), false, 0, result),
                  c.ok);
        EXPECT_EQ(result, c.result);
    }
}

TEST_F(AcpiTest, EmptyReplyYieldsZeroAndSuccess) {
    driver().faults.silent = true;
    ASSERT_TRUE(acpi::OpenAcpiDevice());
    std::uint32_t result = kUntouched;
    EXPECT_TRUE(acpi::CallAcpiMethod(acpi::AcpiDeviceHandle(), acpi::PackMethodName("PBLG"), false, 0, result));
    EXPECT_EQ(result, 0u);
}

TEST_F(AcpiTest, FailedCallsLeaveTheResultAlone) {
    struct Case {
        const char* what;
        bool nullHandle;
        bool ioControlFails;
        const char* method;
        std::size_t callsSeen;
    };
    const Case cases[] = {
        {"no handle", true, false, "PBLG", 0},
        {"I/O control fails", false, true, "PBLG", 1},
        {"method unknown to the firmware", false, false, "XXXX", 1},
    };
    ASSERT_TRUE(acpi::OpenAcpiDevice());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        driver().calls.clear();
        driver().faults.ioControlFails = c.ioControlFails;
        std::uint32_t result = kUntouched;
        const platform::HANDLE handle = c.nullHandle ? nullptr : acpi::AcpiDeviceHandle();
        EXPECT_FALSE(acpi::CallAcpiMethod(handle, AcpiName(c.method), false, 0, result));
        EXPECT_EQ(result, kUntouched);
        EXPECT_EQ(driver().calls.size(), c.callsSeen);
    }
}

TEST_F(AcpiTest, AtMostOneHandleAndCloseIsIdempotent) {
    EXPECT_EQ(acpi::AcpiDeviceHandle(), nullptr);
    ASSERT_TRUE(acpi::OpenAcpiDevice());
    const platform::HANDLE first = acpi::AcpiDeviceHandle();
    ASSERT_TRUE(acpi::OpenAcpiDevice());
    EXPECT_NE(acpi::AcpiDeviceHandle(), first);
    EXPECT_TRUE(driver().Owns(acpi::AcpiDeviceHandle()));
    EXPECT_EQ(driver().OpenHandles(), 1);
    EXPECT_EQ(driver().maxOpenHandles, 1);
    EXPECT_EQ(driver().closes, 1);

    acpi::CloseAcpiDevice();
    acpi::CloseAcpiDevice();
    EXPECT_EQ(acpi::AcpiDeviceHandle(), nullptr);
    EXPECT_EQ(driver().OpenHandles(), 0);
    EXPECT_EQ(driver().closes, 2);
}

TEST_F(AcpiTest, FailedOpenHoldsNoHandleAndClosesNothing) {
    driver().faults.absent = true;
    EXPECT_FALSE(acpi::OpenAcpiDevice());
    EXPECT_EQ(acpi::AcpiDeviceHandle(), nullptr);
    acpi::CloseAcpiDevice();
    EXPECT_EQ(driver().failedOpens, 1);
    EXPECT_EQ(driver().closes, 0);
}

TEST(AcpiDeviceWithoutHost, AbsentOnThisMachine) {
    EXPECT_FALSE(acpi::OpenAcpiDevice());
    EXPECT_EQ(acpi::AcpiDeviceHandle(), nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
}

// The equipment: a driver that accepted malformed requests would let a
// layout slip in the library pass unnoticed.
TEST_F(AcpiTest, DriverRejectsMalformedRequests) {
    struct Request {
        std::uint32_t kind, method, count, blockSize;
        std::uintptr_t block;
    };
    struct Block {
        std::uint16_t type, length;
        std::uint32_t value;
    };
    struct Case {
        const char* what;
        Request request;
        Block block;
        std::uint32_t code;
        std::uint32_t inSize;
        bool accepted;
    };
    const std::uint32_t name = AcpiName("PBLG");
    const std::uint32_t size = sizeof(Request);
    const Case cases[] = {
        {"well formed, no argument", {1, name, 0, 8, 1}, {0, 4, 0}, 0x222404, size, true},
        {"well formed, argument", {2, name, 1, 8, 1}, {0, 4, 9}, 0x222404, size, true},
        {"unknown kind", {3, name, 1, 8, 1}, {0, 4, 0}, 0x222404, size, false},
        {"kind 1 with a count", {1, name, 1, 8, 1}, {0, 4, 0}, 0x222404, size, false},
        {"kind 2 without a count", {2, name, 0, 8, 1}, {0, 4, 0}, 0x222404, size, false},
        {"block size 4", {1, name, 0, 4, 1}, {0, 4, 0}, 0x222404, size, false},
        {"no block", {1, name, 0, 8, 0}, {0, 4, 0}, 0x222404, size, false},
        {"block type", {1, name, 0, 8, 1}, {1, 4, 0}, 0x222404, size, false},
        {"block length", {1, name, 0, 8, 1}, {0, 8, 0}, 0x222404, size, false},
        {"value without argument", {1, name, 0, 8, 1}, {0, 4, 5}, 0x222404, size, false},
        {"control code", {1, name, 0, 8, 1}, {0, 4, 0}, 0x222400, size, false},
        {"short request", {1, name, 0, 8, 1}, {0, 4, 0}, 0x222404, 16, false},
    };
    platform::DWORD error = 0;
    const platform::HANDLE handle = driver().Open(platform::kGenericRead | platform::kGenericWrite, error);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Block block = c.block;
        Request request = c.request;
        if (request.block != 0) request.block = reinterpret_cast<std::uintptr_t>(&block);
        std::uint8_t reply[768] = {};
        platform::DWORD returned = 0;
        EXPECT_EQ(driver().IoControl(handle, c.code, &request, c.inSize, reply, sizeof reply, &returned, error) != 0,
                  c.accepted);
        EXPECT_EQ(driver().calls.back().accepted, c.accepted);
    }
}

}  // namespace
}  // namespace hwtk3::test
