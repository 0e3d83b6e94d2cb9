// The firmware's OEM calls (command 13): a 36-byte record at the start of the shared block,
// class and select, four inputs, four outputs that the caller presets. The handler checks
// the inputs the calling convention fixes; a call it does not answer, or one with a wrong
// input, leaves every output as the caller preset it. Also the refresh of the platform
// status record (command 39), the legacy machines' way to the word that call 99/17 reports.
#pragma once

#include <cstdint>
#include <span>

namespace nox::sim {

class Machine;

class OemCalls {
 public:
  explicit OemCalls(Machine& machine) : machine_(machine) {}

  void Serve(uint64_t number, std::span<uint8_t> block, uint32_t blockPhysical);
  void Refresh(uint64_t number);
  // The platform status word after the refreshes made so far.
  uint16_t PlatformFlags() const;

 private:
  Machine& machine_;
};

}  // namespace nox::sim
