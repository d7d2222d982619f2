// Diag_GetECFirmwareVer2: command 0xA1 on 0x62/0x66 and the NUL-terminated
// text the EC answers with, one byte per OBF.
#include "hwio/ec_firmware.h"

#include <cstring>

#include "hwio/ec.h"
#include "hwio/port_io.h"
#include "include/hwtk3.h"
#include "platform/platform.h"

namespace hwtk3::hwio {
namespace {

constexpr const char kMsgIbfTimeout[] = "WaitIBFTimeout timeout!!\n";
constexpr const char kMsgObfTimeout[] = "WaitOBFTimeout Error!! EC FW:=%s=\n";
constexpr const char kMsgVersion[] = "EC FW:=%s=\n";

// Polls granted to each counted wait of the exchange.
constexpr int kFirmwareWaitPolls = 500;

// Guarded by the binding lock.
char g_ecFirmwareVersion[kEcFirmwareVersionSize] = {};

}  // namespace

const char* EcFirmwareVersion() { return g_ecFirmwareVersion; }

bool EcFirmwareVersionContains(const char* tag) {
    BindingLock lock;
    return std::strstr(g_ecFirmwareVersion, tag) != nullptr;
}

namespace testing {
void ResetFirmwareVersion() {
    BindingLock lock;
    std::memset(g_ecFirmwareVersion, 0, sizeof g_ecFirmwareVersion);
}
}  // namespace testing

}  // namespace hwtk3::hwio

using namespace hwtk3;

// `length` bounds both the bytes taken from the EC and the bytes written to
// the caller's buffer. The EC sends no length, so we also stop when our own
// text is full: its 32 bytes hold at most 31 characters and the NUL, which
// may be the 32nd byte the EC sends. A 32nd byte that is not NUL means a
// longer answer, reported as incomplete rather than written past the text.
int Diag_GetECFirmwareVer2(char* buffer, int length) {
    if (!hwio::HwioReady()) return 0;
    ec::Session session;  // the whole read, one session
    if (!session.Bound()) return 0;
    if (ec::WaitIBFTimeout(hwio::kFirmwareWaitPolls) == -1) {
        platform::PutText(hwio::kMsgIbfTimeout);
        return 0;
    }
    hwio::WritePort(ec::EcPort62.command, ec::kCmdFirmwareVersion);

    char* text = hwio::g_ecFirmwareVersion;
    constexpr int kCapacity = static_cast<int>(hwio::kEcFirmwareVersionSize);
    const int limit = length < 0 ? 0 : length < kCapacity ? length : kCapacity;
    int i = 0;
    for (; i < limit; ++i) {
        if (ec::WaitOBFTimeout(hwio::kFirmwareWaitPolls) == -1) {
            text[i] = '\0';
            platform::Printf(hwio::kMsgObfTimeout, text);
            return 0;
        }
        const char byte = static_cast<char>(hwio::ReadPort(ec::EcPort62.data));
        if (i == kCapacity - 1 && byte != '\0') break;  // no room for a 32nd character
        text[i] = byte;
        if (byte == '\0') {
            platform::Printf(hwio::kMsgVersion, text);
            // A caller without a buffer still primes the text for the fan
            // test, but nothing was copied, so it is not a success.
            if (buffer == nullptr) return 0;
            std::strncpy(buffer, text, static_cast<std::size_t>(length));
            return 1;
        }
    }
    text[i] = '\0';
    platform::Printf(hwio::kMsgVersion, text);
    return 0;
}
