// The OFBD exchange (command 38): a typed block at the start of the shared block, made of
// an 18-byte header, one operation header, its record and an end marker. Every block is
// checked against that layout and against its operation's record first, whether this
// firmware answers the operation or not; a block that breaks the layout is journaled and
// left untouched. A well-formed block gets the answer flags word: bit 0 when the firmware
// served the operation, without it ("unsupported") when it does not know it.
#pragma once

#include <cstdint>
#include <span>

#include <nlohmann/json_fwd.hpp>

#include "platform/sim/MeFirmware.h"

namespace nox::sim {

class Machine;

class OfbdExchange {
 public:
  explicit OfbdExchange(Machine& machine) : machine_(machine), me_(machine) {}

  void Serve(uint64_t number, std::span<uint8_t> block, uint32_t blockPhysical);

 private:
  // The first rule the block breaks, or null.
  const char* Check(std::span<const uint8_t> block, uint32_t blockPhysical, nlohmann::json& detail) const;
  // Serves a well-formed block; returns the answer flags.
  uint16_t Answer(std::span<uint8_t> block, nlohmann::json& detail);
  uint16_t CommandLineConfiguration(std::span<uint8_t> block, nlohmann::json& detail);
  uint16_t SetupPreserve(std::span<uint8_t> block, nlohmann::json& detail);
  uint16_t Password(std::span<uint8_t> block, nlohmann::json& detail);

  Machine& machine_;
  MeFirmware me_;
  // Once the firmware has told its OFBD version, every block must carry it.
  bool versionReported_ = false;
};

}  // namespace nox::sim
