// The EC firmware version text, kept process-wide for the fan test, which
// looks in it for the firmware family tag.
#ifndef HWTK3_HWIO_EC_FIRMWARE_H
#define HWTK3_HWIO_EC_FIRMWARE_H

#include <cstddef>

namespace hwtk3::hwio {

// Size of the process-wide text, terminator included.
inline constexpr std::size_t kEcFirmwareVersionSize = 32;

// The text the last Diag_GetECFirmwareVer2 stored: empty until one got past
// its first wait; the bytes received when a read stopped early. The read
// writes it byte by byte under the binding lock; the pointer is for a
// caller that holds that lock, or has the process to itself.
const char* EcFirmwareVersion();

// Whether the text holds `tag` anywhere (case-sensitive), asked under the
// binding lock: a host thread reading the firmware version at the same
// moment never shows the question a half-written text.
bool EcFirmwareVersionContains(const char* tag);

namespace testing {
// Empties the text, as at load.
void ResetFirmwareVersion();
}  // namespace testing

}  // namespace hwtk3::hwio

#endif  // HWTK3_HWIO_EC_FIRMWARE_H
