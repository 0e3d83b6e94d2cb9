// The embedded controller's own flash and the firmware's side of the OFBD 'T' transfer that
// rewrites it: a begin request opens a transfer, data requests append their bytes in order,
// and the end request programs what was received into the EC flash, the rest of it erased.
// The flash is ec.bin in the machine directory, written as soon as an end request rewrote it;
// an open transfer lives in firmware memory and is gone after a power loss or a boot.
//
// Answers (the record's u16 status): 1 done; 2 the data's checksum does not match (the data
// is not kept); 4 a begin while a transfer is open; 32 data without a begin; 64 data that
// would not fit the EC flash; 128 an end without a begin; or the status of an injected fault.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace nox::sim {

class Machine;

namespace ec_status {
inline constexpr uint16_t kDone = 1;
inline constexpr uint16_t kChecksum = 2;
inline constexpr uint16_t kTransferOpen = 4;
inline constexpr uint16_t kNoTransfer = 32;
inline constexpr uint16_t kTooLarge = 64;
inline constexpr uint16_t kEndWithoutBegin = 128;
}  // namespace ec_status

// The complement of the wrapping sum of the data's whole little-endian u32 words.
uint32_t EcChecksum(std::span<const uint8_t> data);

class EcFlash {
 public:
  explicit EcFlash(Machine& machine) : machine_(machine) {}

  // Serves a well-formed 'T' block of a machine with an EC flash; returns the answer flags.
  // `checksumOk` tells whether a data request's checksum matched its data.
  uint16_t Serve(std::span<uint8_t> block, bool checksumOk, nlohmann::json& detail);

  std::span<const uint8_t> Contents() const { return contents_; }
  // The power went or the machine booted: an open transfer is gone.
  void Forget();

  // ec.bin of a machine with an EC flash; a missing file gives the machine's own EC firmware.
  bool Load(const std::filesystem::path& dir, std::string& error);
  bool Save(const std::filesystem::path& dir, std::string& error);

 private:
  Machine& machine_;
  std::vector<uint8_t> contents_;
  bool open_ = false;
  std::vector<uint8_t> received_;
  std::array<uint32_t, 3> counted_{};  // begin, data and end requests of this run
  bool dirty_ = false;
};

}  // namespace nox::sim
