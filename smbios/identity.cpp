// Identity queries and the machine check.
#include "smbios/identity.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <utility>

#include "include/hwtk3.h"
#include "platform/platform.h"
#include "smbios/dmi_decode.h"

namespace hwtk3::smbios {
namespace {

constexpr const char kMsgFinished[] = "finished to get dmi data\n";
constexpr const char kMsgModelName[] = "Model name: %s\n";
constexpr const char kMsgManufacturer[] = "Manufacturer: %s\n";
constexpr const char kMsgBoardSn[] = "Board SN: %s\n";
constexpr const char kMsgMachineType[] = "machine type: %d\n";

// Only a machine of this manufacturer is accepted; a board serial number
// naming the Zelka board selects platform 0.
constexpr const char kAcceptedManufacturer[] = "Quorvex";
constexpr const char kZelkaBoard[] = "Zelka";
constexpr std::int32_t kMachineZelka = 0;
constexpr std::int32_t kMachineOther = 1;

constexpr std::size_t kCheckBufferSize = 256;

// Written under DmiLock by the machine check, read by anyone without a lock.
std::atomic<std::int32_t> g_machineType{kMachineZelka};
// Guarded by DmiLock.
char g_modelName[kModelNameSize] = {};

// strncpy semantics: at most `size` bytes, NUL-padded, unterminated when
// the text fills the buffer. A negative or zero size writes nothing.
void CopyBounded(const std::string& text, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return;
    const auto capacity = static_cast<std::size_t>(size);
    const std::size_t length = std::min(std::strlen(text.c_str()), capacity);
    std::memcpy(buffer, text.c_str(), length);
    std::memset(buffer + length, 0, capacity - length);
}

// A buffer filled by a bounded copy, read as a terminated text even when
// the copy filled it to the last byte.
std::string Terminated(const char* buffer, std::size_t size) {
    std::size_t length = 0;
    while (length < size && buffer[length] != 0) ++length;
    return std::string(buffer, length);
}

}  // namespace

std::int32_t MachineType() { return g_machineType.load(); }

std::array<char, kModelNameSize> ModelName() {
    DmiLock lock;
    std::array<char, kModelNameSize> copy;
    std::memcpy(copy.data(), g_modelName, kModelNameSize);
    return copy;
}

namespace testing {
void SetMachineType(std::int32_t type) { g_machineType = type; }
void ResetIdentity() {
    DmiLock lock;
    g_machineType = kMachineZelka;
    std::memset(g_modelName, 0, sizeof g_modelName);
}
}  // namespace testing

}  // namespace hwtk3::smbios

using namespace hwtk3::smbios;

int Diag_GetMachineType(void) { return MachineType(); }

// Each query copies under the record's lock, so it sees the record before
// or after a fill on another thread, never half-way.

void Diag_GetManufacturer(char* buffer, int size) {
    DmiLock lock;
    CopyBounded(Dmi().SystemManufacturer, buffer, size);
}

void Diag_GetProductName(char* buffer, int size) {
    DmiLock lock;
    CopyBounded(Dmi().SystemProductName, buffer, size);
}

void Diag_GetBoardSN(char* buffer, int size) {
    DmiLock lock;
    CopyBounded(Dmi().BoardSerialNumber, buffer, size);
}

void Diag_Get90Code(std::string& sku) {
    std::string copy;
    {
        DmiLock lock;
        copy = Dmi().SystemSku;
    }
    // The host's string may allocate; that happens with nothing held.
    sku = std::move(copy);
}

// The whole check holds the record's lock: the fill, the three reads and
// the machine type it sets are one step for the other host threads.
bool Diag_CheckMachine(bool scanPhysicalMemory) {
    DmiLock lock;
    if (Diag_FillDMIData(scanPhysicalMemory) != 0) return false;
    hwtk3::platform::PutText(kMsgFinished);
    char manufacturer[kCheckBufferSize] = {};
    char boardSerial[kCheckBufferSize] = {};
    Diag_GetManufacturer(manufacturer, static_cast<int>(kCheckBufferSize));
    Diag_GetBoardSN(boardSerial, static_cast<int>(kCheckBufferSize));
    Diag_GetProductName(g_modelName, static_cast<int>(kModelNameSize));
    const std::string model = Terminated(g_modelName, kModelNameSize);
    const std::string maker = Terminated(manufacturer, kCheckBufferSize);
    const std::string serial = Terminated(boardSerial, kCheckBufferSize);
    hwtk3::platform::Printf(kMsgModelName, model.c_str());
    hwtk3::platform::Printf(kMsgManufacturer, maker.c_str());
    hwtk3::platform::Printf(kMsgBoardSn, serial.c_str());
    if (maker.find(kAcceptedManufacturer) == std::string::npos) return false;
    const std::int32_t type = serial.find(kZelkaBoard) != std::string::npos ? kMachineZelka : kMachineOther;
    g_machineType = type;
    hwtk3::platform::Printf(kMsgMachineType, type);
    return true;
}
