// The firmware's flash handler, reached through software SMIs: requests are placed in a
// block of physical memory shared with the firmware, and a command byte written to the SMI
// command port runs the handler, which answers in the same block.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/Progress.h"
#include "firmware/FlashInfo.h"
#include "firmware/IoDriver.h"
#include "os/Clock.h"

namespace nox::firmware {

namespace smi {
inline constexpr uint8_t kEnable = 32;
inline constexpr uint8_t kRead = 33;
inline constexpr uint8_t kErase = 34;
inline constexpr uint8_t kWrite = 35;
inline constexpr uint8_t kDisable = 36;
inline constexpr uint8_t kFlashInfo = 37;
inline constexpr uint8_t kOfbd = 38;
inline constexpr uint8_t kRefreshEcb = 39;
inline constexpr uint8_t kOemCall = 13;

inline constexpr uint16_t kDefaultPort = 0xB2;
inline constexpr uint32_t kBlockSize = 65536;
inline constexpr uint32_t kEcBlockSize = 5120;
inline constexpr uint32_t kPieceSize = 1024;
inline constexpr int kRetryAllowance = 5;
inline constexpr uint32_t kDisablePauseMs = 1000;

// Request layout of the flash commands.
inline constexpr size_t kDataAddressOffset = 0;
inline constexpr size_t kFlashAddressOffset = 8;
inline constexpr size_t kLengthOffset = 12;
inline constexpr size_t kStatusOffset = 16;
inline constexpr size_t kDataOffset = 17;
inline constexpr size_t kSignatureOffset = 1041;
inline constexpr uint8_t kStatusUnprocessed = 255;
inline constexpr uint8_t kStatusFailed = 1;
}  // namespace smi

class SmiFlash {
 public:
  SmiFlash(IoDriver& driver, os::Clock& clock) : driver_(driver), clock_(clock) {}

  // --- the shared block --------------------------------------------------------------------
  // Allocates and zero-fills a block of `size` bytes; false when the driver has none.
  bool AllocateSharedBlock(uint32_t size = smi::kBlockSize);
  bool HasSharedBlock() const { return !block_.empty(); }
  std::span<uint8_t> Block() { return block_; }
  uint32_t BlockPhysical() const { return physical_; }
  void ZeroBlock();
  uint32_t ReleaseSmiBuffer();

  // --- where the commands go ---------------------------------------------------------------
  void SetSmiPort(uint16_t port) { port_ = port; }
  uint16_t SmiPort() const { return port_; }
  // A 4-byte location inside the firmware segment that receives the block's physical address
  // before each raised command; an empty span for none.
  void SetAddressSlot(std::span<uint8_t> slot) { slot_ = slot; }
  bool HasAddressSlot() const { return !slot_.empty(); }

  // Writes the address slot, then the command byte to the SMI port.
  void RaiseSmi(uint8_t command);
  // The command byte alone, without the address slot (enable and OFBD exchanges).
  void WriteCommandPort(uint8_t command);
  void RawSmi(uint8_t command) { RaiseSmi(command); }

  // --- flash commands ------------------------------------------------------------------------
  uint32_t EnableFlash();
  uint32_t DisableFlash();
  bool FlashEnabled() const { return enabled_; }
  uint32_t GetFlashInfo();
  uint32_t LoadFlashInfo();
  uint32_t CloseFlashInterface();
  bool InterfaceOpen() const { return interfaceOpen_; }
  const std::optional<FlashInfo>& Info() const { return info_; }
  void ForgetFlashInfo() { info_.reset(); }
  uint32_t TotalFlashSize() const { return sizeOverride_ ? *sizeOverride_ : info_ ? info_->TotalSize() : 0; }
  // While the ME region is programmed the flash reaches further than the block table.
  void SetTotalFlashSizeOverride(std::optional<uint32_t> size) { sizeOverride_ = size; }
  std::optional<uint32_t> TotalFlashSizeOverride() const { return sizeOverride_; }

  bool ReadFlash(uint32_t address, uint32_t length, std::span<uint8_t> destination,
                 const core::ProgressCallback& progress = {});
  bool EraseFlash(uint32_t address, uint32_t length, const core::ProgressCallback& progress = {});
  bool WriteFlash(uint32_t address, uint32_t length, std::span<const uint8_t> source,
                  const core::ProgressCallback& progress = {});
  bool VerifyFlash(uint32_t address, uint32_t length, std::span<const uint8_t> expected,
                   const core::ProgressCallback& progress = {});

  IoDriver& Driver() { return driver_; }

 private:
  enum class Outcome { kDone, kFailed };
  // Raises `command` until the status byte is no longer 255 or the call's allowance is
  // used up; `fill` prepares each attempt.
  template <typename Fill>
  Outcome Attempt(uint8_t command, int& allowance, Fill&& fill);
  void WriteDataAddress();
  void WriteSignature();
  void WritePieceHeader(uint32_t address, uint32_t length);
  uint8_t Status() const { return block_[smi::kStatusOffset]; }

  IoDriver& driver_;
  os::Clock& clock_;
  std::span<uint8_t> block_;
  uint32_t physical_ = 0;
  uint16_t port_ = smi::kDefaultPort;
  std::span<uint8_t> slot_;
  bool enabled_ = false;
  bool interfaceOpen_ = false;
  std::optional<FlashInfo> info_;
  std::optional<uint32_t> sizeOverride_;
};

}  // namespace nox::firmware
