// The firmware's SMI handler: takes the command byte written to its port and hands the
// shared block to the exchange that command belongs to. Each exchange checks its request as
// strictly as a real handler would, journals misuse, and answers only well-formed requests.
#pragma once

#include <cstdint>
#include <span>

#include "platform/sim/FlashCommands.h"
#include "platform/sim/OemCalls.h"
#include "platform/sim/OfbdExchange.h"

namespace nox::sim {

class Machine;

namespace smi {
inline constexpr uint8_t kOemCall = 13;
inline constexpr uint8_t kEnable = 32;
inline constexpr uint8_t kRead = 33;
inline constexpr uint8_t kErase = 34;
inline constexpr uint8_t kWrite = 35;
inline constexpr uint8_t kDisable = 36;
inline constexpr uint8_t kFlashInfo = 37;
inline constexpr uint8_t kOfbd = 38;
inline constexpr uint8_t kRefreshEcb = 39;
}  // namespace smi

// The journal's name of a command.
const char* SmiOpName(uint8_t command);

class SmiHandler {
 public:
  explicit SmiHandler(Machine& machine) : machine_(machine), flash_(machine), ofbd_(machine), oem_(machine) {}

  // Serves one SMI. `block` is the shared block found at the physical address announced
  // with the port write, `blockPhysical` that address.
  void Run(uint8_t command, std::span<uint8_t> block, uint32_t blockPhysical);
  // An SMI that found no shared block: counted and journaled, nothing answered.
  void RunWithoutBlock(uint8_t command, const char* misuse);

  bool FlashEnabled() const { return flash_.Enabled(); }
  // The platform status word after the refreshes made so far.
  uint16_t PlatformFlags() const { return oem_.PlatformFlags(); }

 private:
  Machine& machine_;
  FlashCommands flash_;
  OfbdExchange ofbd_;
  OemCalls oem_;
};

}  // namespace nox::sim
