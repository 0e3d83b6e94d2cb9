#include "firmware/Ofbd.h"

#include <algorithm>
#include <cstring>

#include "core/Bytes.h"
#include "core/CText.h"

namespace nox::firmware {

using namespace ofbd;

size_t ofbd::RecordSize(uint8_t type) {
  switch (type) {
    case 'P': return 20;
    case 'Q': return 8;
    case 'R': return 4;
    case 'S': return 14;
    case 'T': return 11;
    case 'U': return 18;
    case 'V': return 2;
    case 'W': return 12;
    case 'X': return 4;
    case 'p': return 2;
    default: return 0;
  }
}

uint16_t OfbdTotalSize(std::span<const uint8_t> block) {
  return core::ReadLe16(block, kTotalSizeOffset).value_or(0);
}

bool OfbdBegin(std::span<uint8_t> block, uint32_t operationClass, uint16_t version) {
  if (block.size() < kHeaderSize) return false;
  std::memcpy(block.data(), "OFBD", 4);
  core::StoreLe16(&block[kVersionOffset], version);
  core::StoreLe16(&block[kTotalSizeOffset], kHeaderSize);
  core::StoreLe32(&block[kClassOffset], operationClass);
  core::StoreLe16(&block[kFlagsOffset], 0);
  core::StoreLe16(&block[kFirstOperationOffset], kHeaderSize);
  core::StoreLe16(&block[16], 2);
  return true;
}

bool OfbdAddOperation(std::span<uint8_t> block, uint8_t type, uint8_t count) {
  const size_t size = OfbdTotalSize(block);
  if (!core::InRange(block.size(), size, kOperationHeaderSize)) return false;
  block[size] = type;
  block[size + 1] = count;
  core::StoreLe16(&block[size + 2], static_cast<uint16_t>(RecordSize(type)));
  core::StoreLe16(&block[kTotalSizeOffset], static_cast<uint16_t>(size + kOperationHeaderSize));
  return true;
}

bool OfbdCloseOperation(std::span<uint8_t> block, uint8_t type, uint8_t count) {
  const size_t end = OfbdTotalSize(block) + size_t{count} * RecordSize(type);
  if (!core::InRange(block.size(), end, 4)) return false;
  core::StoreLe32(&block[end], kEndMarker);
  core::StoreLe16(&block[kTotalSizeOffset], static_cast<uint16_t>(end + 4));
  return true;
}

uint16_t OfbdAnswer::Flags() const { return core::ReadLe16(block, kFlagsOffset).value_or(0); }
uint16_t OfbdAnswer::TotalSize() const { return OfbdTotalSize(block); }

std::span<const uint8_t> OfbdAnswer::Record(size_t length) const {
  return core::SubSpan(block, kRecordOffset, length).value_or(std::span<const uint8_t>{});
}

std::optional<std::string> OfbdAnswer::Text() const {
  if (!(Flags() & kFlagText)) return std::nullopt;
  const size_t at = TotalSize();
  if (at >= block.size()) return std::nullopt;
  const std::string_view text = core::BoundedCString(block, at);
  if (text.empty() || at + text.size() >= block.size()) return std::nullopt;  // empty or unterminated
  return std::string(text);
}

bool Ofbd::OfbdSend(std::span<const uint8_t> block) {
  std::span<uint8_t> shared = smi_.Block();
  if (shared.size() < block.size()) return false;
  std::copy(block.begin(), block.end(), shared.begin());
  smi_.WriteCommandPort(smi::kOfbd);
  return true;
}

std::array<uint8_t, kBufferSize> Ofbd::Build(uint32_t operationClass, uint8_t type) const {
  std::array<uint8_t, kBufferSize> block{};
  OfbdBegin(block, operationClass, version_);
  OfbdAddOperation(block, type, 1);
  OfbdCloseOperation(block, type, 1);
  return block;
}

uint16_t Ofbd::QueryVersion() {
  const auto block = Build(kClassVersion, 0);
  if (!OfbdSend(block)) return 0;
  const OfbdAnswer answer = Answer();
  return answer.Handled() ? core::ReadLe16(answer.block, kVersionOffset).value_or(0) : 0;
}

uint32_t Ofbd::MeRegionQuery(uint8_t selector) {
  auto block = Build(kClassMeRegion, 'U');
  block[kRecordOffset + 1] = selector;
  const uint32_t unsupported = selector >= 3 ? 161 : 162;
  if (!OfbdSend(block)) return unsupported;
  const OfbdAnswer answer = Answer();
  const auto record = answer.Record(18);
  if (!answer.Handled() || record.size() != 18 || record[0] != 1) return unsupported;
  if (selector == 0 || selector == 3) {
    std::array<uint8_t, 18> kept{};
    std::copy(record.begin(), record.end(), kept.begin());
    meAnswer_ = kept;
  }
  return 0;
}

Ofbd::PasswordAnswer Ofbd::ReadPasswordAnswer() {
  PasswordAnswer result;
  const OfbdAnswer answer = Answer();
  const auto record = answer.Record(4);
  const uint16_t recordAt = core::ReadLe16(answer.block, kFirstOperationOffset).value_or(0);
  if (!answer.Handled() || recordAt == 0 || record.size() != 4) return result;
  result.valid = true;
  result.state = record[3];
  result.text = answer.Text();
  return result;
}

Ofbd::PasswordAnswer Ofbd::QueryPassword() {
  auto block = Build(kClassPassword, 'R');
  block[kRecordOffset + 2] = 1;
  if (!OfbdSend(block)) return {};
  return ReadPasswordAnswer();
}

Ofbd::PasswordAnswer Ofbd::SubmitPassword(std::string_view password) {
  auto block = Build(kClassPassword, 'R');
  // The password replaces the end marker, directly behind the record; the total size no
  // longer counts the marker and does not count the password either.
  const size_t at = OfbdTotalSize(block) - 4;
  const size_t length = std::min(password.size(), block.size() - at);
  core::StoreLe16(&block[kRecordOffset], static_cast<uint16_t>(length));
  block[kRecordOffset + 2] = 2;
  std::fill(block.begin() + static_cast<std::ptrdiff_t>(at), block.begin() + static_cast<std::ptrdiff_t>(at + 4), 0);
  std::memcpy(&block[at], password.data(), length);
  core::StoreLe16(&block[kTotalSizeOffset], static_cast<uint16_t>(at));
  const bool sent = OfbdSend(block);
  // The password must not outlive the exchange in this copy of the block.
  volatile uint8_t* p = block.data();
  for (size_t i = 0; i < block.size(); ++i) p[i] = 0;
  if (!sent) return {};
  return ReadPasswordAnswer();
}

uint32_t Ofbd::EcTransfer(uint8_t subFunction, std::span<const uint8_t> data, std::optional<uint32_t> headerWord) {
  constexpr uint32_t kNotPermitted = 173;
  auto block = Build(kClassEcTransfer, 'T');
  std::span<uint8_t> shared = smi_.Block();
  const size_t total = OfbdTotalSize(block);
  block[kRecordOffset] = subFunction;
  uint32_t sum = 0;
  for (size_t i = 0; i + 4 <= data.size(); i += 4) sum += core::LoadLe32(&data[i]);
  core::StoreLe32(&block[kRecordOffset + 3], data.empty() ? 0 : ~sum);
  core::StoreLe32(&block[kRecordOffset + 7], static_cast<uint32_t>(data.size()));
  if (!data.empty()) {
    constexpr size_t kDataAt = 1024;
    if (!core::InRange(shared.size(), kDataAt, data.size())) return kNotPermitted;
    std::copy(data.begin(), data.end(), shared.begin() + kDataAt);
    core::StoreLe64(&block[total - 4], uint64_t{smi_.BlockPhysical()} + kDataAt);
  }
  if (subFunction == 1 && headerWord) core::StoreLe32(&block[total], *headerWord);
  if (!OfbdSend(block)) return kNotPermitted;
  const OfbdAnswer answer = Answer();
  const auto record = answer.Record(11);
  if (!answer.Handled() || record.size() != 11) return kNotPermitted;
  switch (core::LoadLe16(&record[1])) {
    case 1: return 0;
    case 2: return 164;
    case 4: return 165;
    case 8: return 166;
    case 16: return 167;
    case 32: return 168;
    case 64: return 169;
    case 128: return 170;
    case 256: return 171;
    default: return kNotPermitted;
  }
}

std::optional<Ofbd::DefaultsAnswer> Ofbd::CommandLineConfiguration(uint32_t offMask, uint32_t selectedMask) {
  auto block = Build(kClassCommandLine, 'Q');
  core::StoreLe32(&block[kRecordOffset], offMask);
  core::StoreLe32(&block[kRecordOffset + 4], selectedMask);
  if (!OfbdSend(block)) return std::nullopt;
  const OfbdAnswer answer = Answer();
  const auto record = answer.Record(8);
  if (!answer.Handled() || record.size() != 8) return std::nullopt;
  return DefaultsAnswer{core::LoadLe32(&record[0]), core::LoadLe32(&record[4])};
}

uint32_t Ofbd::SetupPreserve(uint8_t subFunction) {
  constexpr uint32_t kUnsupported = 156;
  if (version_ == 0) return kUnsupported;
  auto block = Build(kClassSetupPreserve, 'V');
  block[kRecordOffset] = subFunction;
  block[kRecordOffset + 1] = 0;
  if (!OfbdSend(block)) return kUnsupported;
  const OfbdAnswer answer = Answer();
  const auto record = answer.Record(2);
  if (!answer.Handled() || record.size() != 2) return kUnsupported;
  switch (record[1]) {
    case 1: return 0;
    case 4: return 157;
    case 8: return 158;
    default: return kUnsupported;
  }
}

}  // namespace nox::firmware
