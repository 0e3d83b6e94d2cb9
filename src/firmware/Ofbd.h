// Typed data blocks exchanged with the firmware through SMI command 38. A block is a header
// ("OFBD", version, size, class, flags), one operation header, its record and an end marker.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "firmware/SmiFlash.h"

namespace nox::firmware {

namespace ofbd {
inline constexpr size_t kHeaderSize = 18;
inline constexpr size_t kOperationHeaderSize = 4;
inline constexpr size_t kRecordOffset = kHeaderSize + kOperationHeaderSize;  // 22
inline constexpr uint32_t kEndMarker = 0xFFFF55AA;
inline constexpr size_t kBufferSize = 1024;

inline constexpr size_t kVersionOffset = 4;
inline constexpr size_t kTotalSizeOffset = 6;
inline constexpr size_t kClassOffset = 8;
inline constexpr size_t kFlagsOffset = 12;
inline constexpr size_t kFirstOperationOffset = 14;
inline constexpr uint16_t kFlagHandled = 0x0001;
inline constexpr uint16_t kFlagText = 0x0010;

inline constexpr uint32_t kClassVersion = 0;
inline constexpr uint32_t kClassMeRegion = 0x04000000;
inline constexpr uint32_t kClassEcTransfer = 0x08000000;
inline constexpr uint32_t kClassSetupPreserve = 0x02000000;
inline constexpr uint32_t kClassPassword = 0x20000000;
inline constexpr uint32_t kClassCommandLine = 0x40000000;
inline constexpr uint32_t kClassSecureFlash = 0x40;

// Record size of one operation type ('P' .. 'X', 'p'); 0 for any other type.
size_t RecordSize(uint8_t type);
}  // namespace ofbd

// --- building a block in a buffer -----------------------------------------------------------
// Each returns false (and writes nothing) when the buffer is too small for the step.
bool OfbdBegin(std::span<uint8_t> block, uint32_t operationClass, uint16_t version);
bool OfbdAddOperation(std::span<uint8_t> block, uint8_t type, uint8_t count);
bool OfbdCloseOperation(std::span<uint8_t> block, uint8_t type, uint8_t count);
uint16_t OfbdTotalSize(std::span<const uint8_t> block);

// The firmware's view of an answer in the shared block.
struct OfbdAnswer {
  std::span<const uint8_t> block;
  uint16_t Flags() const;
  bool Handled() const { return (Flags() & ofbd::kFlagHandled) != 0; }
  uint16_t TotalSize() const;
  std::span<const uint8_t> Record(size_t length) const;  // empty when it does not fit
  // The zero-terminated text behind the block when flag bit 4 says there is one; none when
  // it is absent, empty, or runs to the end of the block unterminated.
  std::optional<std::string> Text() const;
};

// Exchanges with the firmware. `version` is the OFBD version the firmware reported.
class Ofbd {
 public:
  explicit Ofbd(SmiFlash& smi) : smi_(smi) {}

  uint16_t Version() const { return version_; }
  void SetVersion(uint16_t version) { version_ = version; }

  // Copies `block` to the start of the shared block and raises 38 on the port directly.
  // Returns false when the shared block cannot take it.
  bool OfbdSend(std::span<const uint8_t> block);
  OfbdAnswer Answer() { return OfbdAnswer{smi_.Block()}; }

  // The firmware's OFBD version, 0 when it does not answer.
  uint16_t QueryVersion();

  // Management-engine region query with `selector`: 0, or 161/162 when unsupported. The
  // answer record of selectors 0 and 3 is kept.
  uint32_t MeRegionQuery(uint8_t selector);
  const std::optional<std::array<uint8_t, 18>>& KeptMeAnswer() const { return meAnswer_; }

  // Firmware password: the query, and the submission of `password`.
  struct PasswordAnswer {
    bool valid = false;   // the firmware handled the block
    uint8_t state = 0;    // record byte 3
    std::optional<std::string> text;
  };
  PasswordAnswer QueryPassword();
  PasswordAnswer SubmitPassword(std::string_view password);

  // EC firmware transfer: sub-function, data; `headerWord` is the EC image header's extra
  // word that sub-function 1 carries, if any. Returns 0 or the EC error id.
  uint32_t EcTransfer(uint8_t subFunction, std::span<const uint8_t> data, std::optional<uint32_t> headerWord);

  // Command-line configuration: sends (switchOff mask, selected mask); the answer's
  // (switchOff, switchOn) when the firmware handled it.
  struct DefaultsAnswer {
    uint32_t switchOff = 0;
    uint32_t switchOn = 0;
  };
  std::optional<DefaultsAnswer> CommandLineConfiguration(uint32_t offMask, uint32_t selectedMask);

  // Setup-preserve request: 1 query, 2 store, 4 restore. 0 or 156/157/158.
  uint32_t SetupPreserve(uint8_t subFunction);

 private:
  // Builds a one-operation block in a zero-filled 1024-byte buffer.
  std::array<uint8_t, ofbd::kBufferSize> Build(uint32_t operationClass, uint8_t type) const;
  PasswordAnswer ReadPasswordAnswer();

  SmiFlash& smi_;
  uint16_t version_ = 0;
  std::optional<std::array<uint8_t, 18>> meAnswer_;
};

}  // namespace nox::firmware
