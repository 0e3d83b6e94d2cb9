// The embedded controller's own flash, rewritten through the firmware: the EC image goes
// across in pieces of 32 blocks of 128 bytes, each an EC transfer request with its data
// behind the request in a shared block grown to 5120 bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "firmware/Ofbd.h"
#include "firmware/SmiFlash.h"
#include "os/Clock.h"

namespace nox::ecme {

namespace ec {
inline constexpr uint32_t kBlock = 128;
inline constexpr uint32_t kSharedSize = 5120;
inline constexpr uint32_t kRequestSize = 1024;
inline constexpr uint32_t kPieceBlocks = (kSharedSize - kRequestSize) / kBlock;  // 32
inline constexpr int kFailureLimit = 20;
inline constexpr uint32_t kPieceWaitMs = 1000;
inline constexpr uint32_t kEndWaitMs = 2000;
inline constexpr uint32_t kErrInvalidImage = 163;
inline constexpr uint32_t kErrRelease = 37;
inline constexpr uint32_t kErrAllocate = 36;
inline constexpr uint8_t kBegin = 1;
inline constexpr uint8_t kData = 2;
inline constexpr uint8_t kEnd = 4;
}  // namespace ec

struct EcUpdateEnv {
  firmware::SmiFlash& smi;
  firmware::Ofbd& ofbd;
  os::Clock& clock;
  std::function<void(const std::string&)> console;
  // Blocks written so far and in all, after every data request.
  std::function<void(uint16_t, uint16_t)> progress;
};

// Sends `image` (padded with zeros to whole blocks) to the firmware; the error id, 0 when the
// controller took it.
uint32_t UpdateEcFirmware(EcUpdateEnv& env, std::span<const uint8_t> image);

}  // namespace nox::ecme
