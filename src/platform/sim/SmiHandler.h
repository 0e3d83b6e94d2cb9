// The firmware's SMI handler: reads the request the utility left in the shared block,
// checks it as strictly as a real handler would, serves it against the flash part, and
// answers in the same block. Requests that break the rules are journaled as misuse and
// get no success answer.
#pragma once

#include <cstdint>
#include <span>

#include <nlohmann/json_fwd.hpp>

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

// Shared-block layout of the flash commands.
inline constexpr size_t kDataAddressOffset = 0;
inline constexpr size_t kFlashAddressOffset = 8;
inline constexpr size_t kLengthOffset = 12;
inline constexpr size_t kStatusOffset = 16;
inline constexpr size_t kDataOffset = 17;
inline constexpr size_t kSignatureOffset = 1041;
inline constexpr size_t kPieceSize = 1024;
inline constexpr uint8_t kStatusPending = 255;
inline constexpr uint8_t kStatusFailed = 1;
}  // namespace smi

class SmiHandler {
 public:
  explicit SmiHandler(Machine& machine) : machine_(machine) {}

  // Serves one SMI. `block` is the shared block found at the physical address announced
  // with the port write, `blockPhysical` that address.
  void Run(uint8_t command, std::span<uint8_t> block, uint32_t blockPhysical);
  // An SMI that found no shared block: counted and journaled, nothing answered.
  void RunWithoutBlock(uint8_t command, const char* misuse);

  bool FlashEnabled() const { return enabled_; }
  // The platform status word after `refreshCount` refreshes.
  uint16_t PlatformFlags() const;

 private:
  void FlashRequest(uint8_t command, std::span<uint8_t> block, uint32_t blockPhysical);
  void Enable(std::span<uint8_t> block);
  void FlashInfo(std::span<uint8_t> block, uint32_t blockPhysical);
  void Ofbd(std::span<uint8_t> block);
  uint16_t CommandLineConfiguration(std::span<uint8_t> block, uint16_t total, uint16_t flags, nlohmann::json& detail);
  uint16_t SetupPreserve(std::span<uint8_t> block, uint16_t total, uint16_t flags, nlohmann::json& detail);
  // The 'R' operation; returns the answer flags.
  uint16_t OfbdPassword(std::span<uint8_t> block, uint16_t flags, nlohmann::json& detail);
  void OemCall(std::span<uint8_t> block, uint32_t blockPhysical);
  void Refresh();
  uint64_t NextNumber();

  Machine& machine_;
  bool enabled_ = false;
};

}  // namespace nox::sim
