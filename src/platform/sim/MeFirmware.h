// The firmware's side of the ME region requests (OFBD 'U'). Selectors 0 and 3 tell where the
// ME region lies and how far an entire update reaches; 1 (ignition) and 4 (entire) unlock a
// range of the chip, the ME region or everything in front of the firmware's part, for the
// flash requests that follow, which from then on carry chip addresses; 2 and 5 lock it again.
// The unlocked range is machine state (state.json) and is lost at a boot or a power loss.
//
// The answer record's byte 0 is 1 when the request was carried out and 2 when it was refused:
// a begin while a range is unlocked, an end without its begin or of the other variant, or a
// selector listed in me.failSelectors. Selectors of a variant the firmware does not serve are
// left unanswered (flags without bit 0).
#pragma once

#include <cstdint>
#include <span>

#include <nlohmann/json_fwd.hpp>

namespace nox::sim {

class Machine;

class MeFirmware {
 public:
  static constexpr uint8_t kDone = 1;
  static constexpr uint8_t kRefused = 2;

  explicit MeFirmware(Machine& machine) : machine_(machine) {}

  // Serves a well-formed 'U' block; returns the answer flags.
  uint16_t Serve(std::span<uint8_t> block, nlohmann::json& detail);

 private:
  Machine& machine_;
};

}  // namespace nox::sim
