// The firmware's flash commands: enable and disable flash writes, read, erase and write
// the flash part through the "$NOX" request at the start of the shared block, and the
// flash information with the block table.
#pragma once

#include <cstdint>
#include <span>

namespace nox::sim {

class Machine;
struct SmiRecord;

class FlashCommands {
 public:
  explicit FlashCommands(Machine& machine) : machine_(machine) {}

  // Commands 32 to 37; `number` is the SMI's number for the journal.
  void Serve(uint8_t command, uint64_t number, std::span<uint8_t> block, uint32_t blockPhysical);
  bool Enabled() const { return enabled_; }

 private:
  void Enable(SmiRecord& r, std::span<uint8_t> block);
  void Request(SmiRecord& r, std::span<uint8_t> block, uint32_t blockPhysical);
  void Information(SmiRecord& r, std::span<uint8_t> block, uint32_t blockPhysical);

  Machine& machine_;
  bool enabled_ = false;
};

}  // namespace nox::sim
