// Learns from the running firmware how to reach its flash handler: the SMI command port,
// the address slot, the platform records in the legacy segments, UEFI or legacy boot, the
// OFBD version and whether an update is permitted; and opens and closes firmware access.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "firmware/OemCall.h"
#include "firmware/Ofbd.h"
#include "firmware/SecureFlash.h"
#include "firmware/SmiFlash.h"
#include "os/FirmwareTables.h"

namespace nox::firmware {

namespace segment {
inline constexpr uint32_t kF = 0xF0000;
inline constexpr uint32_t kE = 0xE0000;
inline constexpr uint32_t kViewLength = 65535;
inline constexpr size_t kLastSearchOffset = 65530;
}  // namespace segment

// The "$ECB" record as found in the E segment.
struct EcbRecord {
  static constexpr size_t kSize = 31;
  size_t offset = 0;  // in the E segment view
  uint8_t flags = 0;
  uint32_t ecBlockAddress = 0;
  uint32_t ecBlockSize = 0;
  uint16_t ecVersionOffset = 0;
  uint32_t ecVersionMask = 0;
  std::array<uint16_t, 4> messageOffsets{};  // for flag bits 4, 5, 6, 7
};

// Offset of the first 4-byte `signature` in `view` at 0..65530 whose record of `recordSize`
// bytes lies wholly inside the view.
std::optional<size_t> FindSignature(std::span<const uint8_t> view, const char (&signature)[5], size_t recordSize);

class FirmwareInfo {
 public:
  using MessageSink = std::function<void(const std::string&)>;

  FirmwareInfo(SmiFlash& smi, Ofbd& ofbd, OemCalls& oem, SecureFlash& secure, os::FirmwareTables& tables,
               MessageSink console = {});

  uint32_t ProbeFirmware();
  // `oemSmi`: the command of the "oemsmi:" option, raised once; `flashInterfaceInUse`
  // false stops before the flash information (the EC-only run).
  uint32_t OpenFirmware(std::optional<uint8_t> oemSmi, bool flashInterfaceInUse = true);
  uint32_t CloseFirmware();
  uint32_t ReadSmiPortFromFadt(uint16_t& port);
  void DetectUefi();

  // True when the firmware permits an update; a refusal text goes to `sink`, or to the
  // console without one. MessageShown() tells whether a text was shown.
  bool CheckUpdatePermission(const std::optional<EcbRecord>& record, const MessageSink& sink);
  bool MessageShown() const { return messageShown_; }

  bool UefiFirmware() const { return uefi_; }
  bool EcbPresent() const { return ecbPresent_; }
  uint16_t EcbFlags() const { return ecbFlags_; }
  void SetEcbFlags(uint16_t flags) { ecbFlags_ = flags; }
  uint8_t UpdatePermission() const { return updatePermission_; }
  const std::optional<EcbRecord>& Ecb() const { return ecb_; }
  uint16_t OfbdVersion() const { return ofbd_.Version(); }
  bool SecureFlashCapable() const { return secure_.Capable(); }
  bool FlashInterfaceInUse() const { return flashInterfaceInUse_; }
  std::span<const uint8_t> FSegment() const { return fView_; }
  std::span<const uint8_t> ESegment() const { return eView_; }

  // Re-reads "ECB1" after asking the firmware to refresh it; on UEFI machines asks the
  // platform status call instead. Used while waiting for the power source.
  void RefreshEcbFlags();

 private:
  void UseAsfRecord();
  std::optional<EcbRecord> ReadEcb() const;
  void ReadEcb1();

  SmiFlash& smi_;
  Ofbd& ofbd_;
  OemCalls& oem_;
  SecureFlash& secure_;
  os::FirmwareTables& tables_;
  MessageSink console_;
  std::span<uint8_t> fView_;
  std::span<uint8_t> eView_;
  bool uefi_ = false;
  bool ecbPresent_ = false;
  uint16_t ecbFlags_ = 0;
  uint8_t updatePermission_ = 255;
  std::optional<EcbRecord> ecb_;
  bool flashInterfaceInUse_ = true;
  bool messageShown_ = false;
};

}  // namespace nox::firmware
