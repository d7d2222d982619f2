// The EC firmware version text, kept process-wide for the fan test, which
// looks in it for the firmware family tag.
#ifndef HWTK3_HWIO_EC_FIRMWARE_H
#define HWTK3_HWIO_EC_FIRMWARE_H

#include <cstddef>

namespace hwtk3::hwio {

// Size of the process-wide text, terminator included.
inline constexpr std::size_t kEcFirmwareVersionSize = 32;

// The text the last Diag_GetECFirmwareVer2 stored: empty until one got past
// its first wait; the bytes received when a read stopped early.
const char* EcFirmwareVersion();

namespace testing {
// Empties the text, as at load.
void ResetFirmwareVersion();
}  // namespace testing

}  // namespace hwtk3::hwio

#endif  // HWTK3_HWIO_EC_FIRMWARE_H
