#include "firmware/SmiFlash.h"

#include <algorithm>
#include <cstring>

#include "config/ErrorTable.h"
#include "core/Bytes.h"

namespace nox::firmware {

using namespace smi;

namespace {
constexpr uint32_t kErrWriteProtected = 64;
constexpr uint32_t kErrNoPowerCord = 72;
constexpr uint32_t kErrPlatformCondition = 73;
constexpr uint32_t kErrFlashInfo = 70;
constexpr uint8_t kSignature[4] = {'$', 'N', 'O', 'X'};
}  // namespace

bool SmiFlash::AllocateSharedBlock(uint32_t size) {
  const auto block = driver_.AllocSharedBlock(size);
  if (!block) return false;
  block_ = block->memory;
  physical_ = block->physical;
  ZeroBlock();
  return true;
}

void SmiFlash::ZeroBlock() { std::fill(block_.begin(), block_.end(), 0); }

uint32_t SmiFlash::ReleaseSmiBuffer() {
  if (!block_.empty()) driver_.ReleaseSharedBlock(physical_, static_cast<uint32_t>(block_.size()));
  block_ = {};
  physical_ = 0;
  return 0;
}

void SmiFlash::RaiseSmi(uint8_t command) {
  if (slot_.size() >= 4) core::StoreLe32(slot_.data(), physical_);
  driver_.WritePort(port_, 1, command);
}

void SmiFlash::WriteCommandPort(uint8_t command) { driver_.WritePort(port_, 1, command); }

uint32_t SmiFlash::EnableFlash() {
  if (!enabled_) {
    WriteCommandPort(kEnable);
    enabled_ = true;
  }
  return 0;
}

uint32_t SmiFlash::DisableFlash() {
  if (enabled_) {
    RaiseSmi(kDisable);
    enabled_ = false;
    clock_.SleepMs(kDisablePauseMs);
  }
  return 0;
}

void SmiFlash::WriteDataAddress() { core::StoreLe64(&block_[kDataAddressOffset], uint64_t{physical_} + kDataOffset); }

void SmiFlash::WriteSignature() { std::memcpy(&block_[kSignatureOffset], kSignature, sizeof kSignature); }

void SmiFlash::WritePieceHeader(uint32_t address, uint32_t length) {
  block_[kStatusOffset] = kStatusUnprocessed;
  core::StoreLe32(&block_[kFlashAddressOffset], address);
  core::StoreLe32(&block_[kLengthOffset], length);
}

uint32_t SmiFlash::GetFlashInfo() {
  if (block_.size() < kSignatureOffset + sizeof kSignature) return kErrFlashInfo;
  block_[kStatusOffset] = 0;
  EnableFlash();
  if (!interfaceOpen_) {
    switch (Status()) {
      case 1: return kErrWriteProtected;
      case 2: return kErrNoPowerCord;
      case 3: return kErrPlatformCondition;
      default: break;
    }
  }
  interfaceOpen_ = true;
  WriteDataAddress();
  WriteSignature();
  RaiseSmi(kFlashInfo);
  if (block_[4] == 1 && block_[5] != 12) return kErrFlashInfo;
  return 0;
}

uint32_t SmiFlash::LoadFlashInfo() {
  if (const uint32_t code = GetFlashInfo()) return code;
  // A block count that would take the table past the shared block is a broken reply, not
  // something to read beyond the block for.
  auto info = FlashInfo::FromReply(block_);
  if (!info) return kErrFlashInfo;
  info_ = std::move(info);
  return 0;
}

uint32_t SmiFlash::CloseFlashInterface() {
  if (interfaceOpen_) DisableFlash();
  interfaceOpen_ = false;
  return 0;
}

template <typename Fill>
SmiFlash::Outcome SmiFlash::Attempt(uint8_t command, int& allowance, Fill&& fill) {
  while (true) {
    fill();
    RaiseSmi(command);
    if (Status() != kStatusUnprocessed) return Status() == kStatusFailed ? Outcome::kFailed : Outcome::kDone;
    if (allowance == 0) return Outcome::kFailed;
    --allowance;
  }
}

bool SmiFlash::ReadFlash(uint32_t address, uint32_t length, std::span<uint8_t> destination,
                         const core::ProgressCallback& progress) {
  const uint32_t pieces = length / kPieceSize;
  if (pieces == 0) return true;
  if (block_.size() < kSignatureOffset + 4 || destination.size() < size_t{pieces} * kPieceSize) return false;
  int allowance = kRetryAllowance;
  WriteDataAddress();
  for (uint32_t i = 0; i < pieces; ++i) {
    const uint32_t pieceAddress = address + i * kPieceSize;
    const Outcome outcome = Attempt(kRead, allowance, [&] {
      WritePieceHeader(pieceAddress, kPieceSize);
      WriteSignature();
      if (progress) progress(pieceAddress, TotalFlashSize(), length);
    });
    if (outcome == Outcome::kFailed) return false;
    std::memcpy(&destination[size_t{i} * kPieceSize], &block_[kDataOffset], kPieceSize);
  }
  return true;
}

bool SmiFlash::WriteFlash(uint32_t address, uint32_t length, std::span<const uint8_t> source,
                          const core::ProgressCallback& progress) {
  const uint32_t pieces = length / kPieceSize;
  if (pieces == 0) return true;
  if (block_.size() < kSignatureOffset + 4 || source.size() < size_t{pieces} * kPieceSize) return false;
  int allowance = kRetryAllowance;
  WriteDataAddress();
  for (uint32_t i = 0; i < pieces; ++i) {
    const uint32_t pieceAddress = address + i * kPieceSize;
    const Outcome outcome = Attempt(kWrite, allowance, [&] {
      WritePieceHeader(pieceAddress, kPieceSize);
      std::memcpy(&block_[kDataOffset], &source[size_t{i} * kPieceSize], kPieceSize);
      WriteSignature();
      if (progress) progress(pieceAddress, TotalFlashSize(), length);
    });
    if (outcome == Outcome::kFailed) return false;
  }
  return true;
}

bool SmiFlash::VerifyFlash(uint32_t address, uint32_t length, std::span<const uint8_t> expected,
                           const core::ProgressCallback& progress) {
  const uint32_t pieces = length / kPieceSize;
  if (pieces == 0) return true;
  if (block_.size() < kSignatureOffset + 4 || expected.size() < size_t{pieces} * kPieceSize) return false;
  int allowance = kRetryAllowance;
  WriteDataAddress();
  for (uint32_t i = 0; i < pieces; ++i) {
    const uint32_t pieceAddress = address + i * kPieceSize;
    // Signed like any read: a block just allocated holds no signature from earlier requests.
    const Outcome outcome = Attempt(kRead, allowance, [&] {
      WritePieceHeader(pieceAddress, kPieceSize);
      WriteSignature();
    });
    if (outcome == Outcome::kFailed) return false;
    if (progress) progress(pieceAddress, TotalFlashSize(), length);
    if (std::memcmp(&block_[kDataOffset], &expected[size_t{i} * kPieceSize], kPieceSize) != 0) return false;
  }
  return true;
}

bool SmiFlash::EraseFlash(uint32_t address, uint32_t length, const core::ProgressCallback& progress) {
  if (block_.size() < kSignatureOffset + 4) return false;
  int allowance = kRetryAllowance;
  const Outcome outcome = Attempt(kErase, allowance, [&] {
    block_[kStatusOffset] = kStatusUnprocessed;
    WriteDataAddress();
    core::StoreLe32(&block_[kFlashAddressOffset], address);
    core::StoreLe32(&block_[kLengthOffset], length);
    WriteSignature();
    if (progress) progress(address, TotalFlashSize(), length);
  });
  return outcome == Outcome::kDone;
}

}  // namespace nox::firmware
