// Start-up on firmware that programs the flash itself: the flash policy, the image handed
// over, and then either a session that the flash run writes into, or a capsule or recovery
// update that the firmware applies at the next boot, which ends the run here.
#pragma once

#include <cstdint>

#include "app/Session.h"

namespace nox::app {

namespace secure_text {
inline constexpr const char* kLoadFailed = "Error: Failed to load image into memory.\n";
inline constexpr const char* kSessionRefused = "Error: Unable to start a Secure Flash session. (0x%X)\n";
inline constexpr const char* kSessionRefusedAtBoot = "Error: Unable to start a Secure Flash session. !! (0x%X)\n";
inline constexpr const char* kNoCapsuleHeader = "Compare Capsule Header GUID failed.\n";
inline constexpr const char* kRecoveryFileFailed = "Error: Output the [%s] file to the DISK failed.\n";
inline constexpr const char* kWrongType = "Error: Chose the wrong FlashOpType !! (0x%X)\n";
inline constexpr const char* kAskReboot = " System is going to reboot, are you ready? (Y/N)...\n";
inline constexpr const char* kAskShutdown = " System is going to shut down, are you ready? (Y/N)...\n";
inline constexpr const char* kNcbPrepareFailed = "Error: Prepare Ncbs For Writing occur error, try to FLASH again";
}  // namespace secure_text

// Requests the regions, hands the prepared image over and starts the session; returns only
// when the flash run is to follow.
void PrepareSecureFlash(Session& s);

// The capsule or recovery update; the error with which the run ends.
uint32_t RunCapsuleOrRecovery(Session& s, bool unattended);

// After the session started: 0 when the image in use begins behind its capsule header (or
// the firmware got a header found inside it); else 3, after saying so.
uint32_t StripCapsuleHeader(Session& s);

// The recovery file's name as the firmware looks for it, 16 bytes.
std::array<uint8_t, 16> RecoveryName(const std::string& headerFileName);

}  // namespace nox::app
