#include "firmware/FirmwareInfo.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/Bytes.h"
#include "core/CText.h"

namespace nox::firmware {

namespace {

constexpr uint32_t kErrMapping = 38;
constexpr uint32_t kErrBuffer = 36;
constexpr size_t kAsfSize = 14;
constexpr size_t kEcb1Size = 6;
constexpr size_t kFadtSmiCommand = 48;

void PrintToConsole(const std::string& text) { std::fputs(text.c_str(), stdout); }

}  // namespace

std::optional<size_t> FindSignature(std::span<const uint8_t> view, const char (&signature)[5], size_t recordSize) {
  if (view.size() < 4) return std::nullopt;
  const size_t last = std::min(segment::kLastSearchOffset, view.size() - 4);
  for (size_t offset = 0; offset <= last; ++offset) {
    if (std::memcmp(&view[offset], signature, 4) != 0) continue;
    // A record cut off by the end of the view is not one: its fields are not there to read.
    if (!core::InRange(view.size(), offset, recordSize)) return std::nullopt;
    return offset;
  }
  return std::nullopt;
}

FirmwareInfo::FirmwareInfo(SmiFlash& smi, Ofbd& ofbd, OemCalls& oem, SecureFlash& secure,
                           os::FirmwareTables& tables, MessageSink console)
    : smi_(smi), ofbd_(ofbd), oem_(oem), secure_(secure), tables_(tables), console_(console ? std::move(console) : PrintToConsole) {}

void FirmwareInfo::UseAsfRecord() {
  smi_.SetAddressSlot({});
  const auto at = FindSignature(fView_, "$ASF", kAsfSize);
  if (!at) {
    smi_.SetSmiPort(smi::kDefaultPort);
    return;
  }
  const size_t slot = *at + fView_[*at + 4];
  if (core::InRange(fView_.size(), slot, 4)) smi_.SetAddressSlot(fView_.subspan(slot, 4));
  smi_.SetSmiPort(core::LoadLe16(&fView_[*at + 12]));
}

std::optional<EcbRecord> FirmwareInfo::ReadEcb() const {
  const auto at = FindSignature(eView_, "$ECB", EcbRecord::kSize);
  if (!at) return std::nullopt;
  const uint8_t* p = &eView_[*at];
  EcbRecord r;
  r.offset = *at;
  r.flags = p[4];
  r.ecBlockAddress = core::LoadLe32(p + 5);
  r.ecBlockSize = core::LoadLe32(p + 9);
  r.ecVersionOffset = core::LoadLe16(p + 17);
  r.ecVersionMask = core::LoadLe32(p + 19);
  for (size_t i = 0; i < 4; ++i) r.messageOffsets[i] = core::LoadLe16(p + 23 + 2 * i);
  return r;
}

void FirmwareInfo::ReadEcb1() {
  if (const auto at = FindSignature(eView_, "ECB1", kEcb1Size)) ecbFlags_ = core::LoadLe16(&eView_[*at + 4]);
}

uint32_t FirmwareInfo::ReadSmiPortFromFadt(uint16_t& port) {
  if (!tables_.HasTableService()) return 0;
  const uint32_t size = tables_.ReadTable(os::kProviderAcpi, os::kTableFacp, {});
  std::vector<uint8_t> buffer(size_t{size} + 4096, 0);
  const uint32_t read = tables_.ReadTable(os::kProviderAcpi, os::kTableFacp, buffer);
  if (read > buffer.size()) return kErrMapping;
  port = core::LoadLe16(&buffer[kFadtSmiCommand]);
  return 0;
}

void FirmwareInfo::DetectUefi() {
  if (!tables_.EnableSystemEnvironmentPrivilege()) return;
  const uint32_t error = tables_.ProbeFirmwareVariable();
  constexpr uint32_t kErrorInvalidFunction = 1;
  uefi_ = error != 0 && error != kErrorInvalidFunction;
}

uint32_t FirmwareInfo::ProbeFirmware() {
  fView_ = smi_.Driver().MapPhysical(segment::kF, segment::kViewLength);
  if (fView_.empty()) return kErrMapping;
  uint16_t port = smi_.SmiPort();
  const uint32_t fadt = ReadSmiPortFromFadt(port);
  smi_.SetSmiPort(port);
  if (fadt != 0 || port == 0) {
    UseAsfRecord();
  } else {
    smi_.SetAddressSlot({});
  }
  if (!smi_.AllocateSharedBlock(smi::kBlockSize)) return kErrBuffer;
  DetectUefi();
  if (uefi_) {
    if (const auto status = oem_.ReadPlatformStatus()) {
      updatePermission_ = status->updatePermission;
      ecbFlags_ = status->ecbFlags;
      ecbPresent_ = true;
    }
    return 0;
  }
  eView_ = smi_.Driver().MapPhysical(segment::kE, segment::kViewLength);
  if (eView_.empty()) return kErrMapping;
  ecb_ = ReadEcb();
  if (!ecb_) return 0;
  ecbPresent_ = true;
  smi_.RawSmi(smi::kRefreshEcb);
  ReadEcb1();
  return 0;
}

uint32_t FirmwareInfo::OpenFirmware(std::optional<uint8_t> oemSmi, bool flashInterfaceInUse) {
  flashInterfaceInUse_ = flashInterfaceInUse;
  fView_ = smi_.Driver().MapPhysical(segment::kF, segment::kViewLength);
  if (fView_.empty()) return kErrMapping;
  UseAsfRecord();
  eView_ = smi_.Driver().MapPhysical(segment::kE, segment::kViewLength);
  if (eView_.empty()) return kErrMapping;
  if (auto record = ReadEcb()) {
    ecb_ = record;
    ecbPresent_ = true;
  }
  smi_.ZeroBlock();
  ofbd_.SetVersion(ofbd_.QueryVersion());
  if (!flashInterfaceInUse_) return 0;
  smi_.ZeroBlock();
  if (oemSmi) smi_.RawSmi(*oemSmi);
  // Decided anew with every opening: the firmware may have been updated since.
  secure_.QuerySecureFlash();
  std::span<uint8_t> block = smi_.Block();
  if (block.size() >= 8) core::StoreLe64(block.data(), smi_.BlockPhysical());
  smi_.LoadFlashInfo();  // a missing table shows later, in the size check
  return 0;
}

uint32_t FirmwareInfo::CloseFirmware() {
  smi_.Driver().UnmapPhysical(fView_);
  smi_.Driver().UnmapPhysical(eView_);
  fView_ = {};
  eView_ = {};
  if (flashInterfaceInUse_) smi_.CloseFlashInterface();
  smi_.ReleaseSmiBuffer();
  smi_.ForgetFlashInfo();
  return 0;
}

void FirmwareInfo::RefreshEcbFlags() {
  if (uefi_) {
    if (const auto status = oem_.ReadPlatformStatus()) ecbFlags_ = status->ecbFlags;
    return;
  }
  if (!ecb_) return;
  smi_.RawSmi(smi::kRefreshEcb);
  ReadEcb1();
}

bool FirmwareInfo::CheckUpdatePermission(const std::optional<EcbRecord>& record, const MessageSink& sink) {
  if (!record && updatePermission_ == 255) return true;
  if (updatePermission_ < 255 && uefi_) {
    messageShown_ = false;
    if (updatePermission_ & 0x70) return false;
    return (updatePermission_ & 0x80) == 0;
  }
  if (!record) return true;
  for (size_t bit = 0; bit < 4; ++bit) {
    if (!(record->flags & (0x10 << bit))) continue;
    const uint16_t offset = record->messageOffsets[bit];
    // The text must lie inside the E segment view and end there; anything else is a
    // refusal without a message.
    if (offset != 0 && offset < eView_.size()) {
      const std::string_view text = core::BoundedCString(eView_, offset);
      if (!text.empty() && offset + text.size() < eView_.size()) {
        if (sink) {
          sink(std::string(text));
        } else {
          console_(std::string(text) + "\n");
        }
        messageShown_ = true;
      }
    }
    return false;
  }
  return true;
}

}  // namespace nox::firmware
