#include "firmware/SecureFlash.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "core/Bytes.h"

namespace nox::firmware {

using namespace secure;

namespace {

constexpr uint8_t kSubLoadPiece = 2;
constexpr uint8_t kSubQuery = 4;
constexpr uint8_t kSubStartSession = 8;

// The 'p' block: header, one operation header, the 2-byte record and the end marker.
constexpr size_t kBlockSize = ofbd::kRecordOffset + 2 + 4;

// The capability query's pending byte, which the firmware clears when it offers secure flash.
constexpr size_t kAnswerPending = 258;
// The session request's status byte inside the policy.
constexpr size_t kPolicyStatus = 29;

// A piece request: its own physical address, offset in firmware memory, length, status,
// then the piece itself.
constexpr size_t kPieceAddress = 0;
constexpr size_t kPieceOffset = 8;
constexpr size_t kPieceLength = 12;
constexpr size_t kPieceStatus = 16;
constexpr size_t kPieceData = 17;

bool GuidAt(std::span<const uint8_t> bytes, size_t offset, const core::Guid& guid) {
  if (!core::InRange(bytes.size(), offset, core::Guid::kSize)) return false;
  const auto wanted = guid.ToBytes();
  return std::memcmp(bytes.data() + offset, wanted.data(), wanted.size()) == 0;
}

std::optional<CapsuleHeaderAt> HeaderAt(std::span<const uint8_t> image, size_t offset) {
  const auto length = core::ReadLe16(image, offset + kHeaderLengthOffset);
  if (!length || *length < kMinHeaderLength || !core::InRange(image.size(), offset, *length)) return std::nullopt;
  return CapsuleHeaderAt{offset, *length};
}

}  // namespace

const core::Guid& secure::CapsuleGuid() {
  static const core::Guid guid = core::GuidLiteral("4A3CA68B-7723-48FB-803D-578CC1FEC44D");
  return guid;
}

const core::Guid& secure::MarkerGuid() {
  static const core::Guid guid = core::GuidLiteral("414D94AD-998D-47D2-BFCD-4E882241DE32");
  return guid;
}

std::array<uint8_t, kPolicySize> FlashPolicy::Bytes() const {
  std::array<uint8_t, kPolicySize> bytes{};
  bytes[0] = type;
  core::StoreLe32(&bytes[1], regions);
  std::copy(name.begin(), name.end(), bytes.begin() + 5);
  core::StoreLe32(&bytes[21], imageSize);
  return bytes;
}

std::optional<CapsuleHeaderAt> LeadingCapsuleHeader(std::span<const uint8_t> image) {
  if (!GuidAt(image, 0, CapsuleGuid())) return std::nullopt;
  return HeaderAt(image, 0);
}

std::optional<CapsuleHeaderAt> EmbeddedCapsuleHeader(std::span<const uint8_t> image) {
  const auto marker = MarkerGuid().ToBytes();
  const auto capsule = CapsuleGuid().ToBytes();
  const std::boyer_moore_horspool_searcher findMarker(marker.begin(), marker.end());
  const std::boyer_moore_horspool_searcher findCapsule(capsule.begin(), capsule.end());
  // Windows behind neighbouring markers overlap; each byte is searched once, so an image
  // full of markers costs no more than one pass.
  size_t searched = 0;
  for (auto at = image.begin(); (at = std::search(at, image.end(), findMarker)) != image.end(); ++at) {
    const size_t from = static_cast<size_t>(at - image.begin()) + core::Guid::kSize;
    const size_t to = std::min(image.size(), from + kMarkerWindow + core::Guid::kSize - 1);
    const size_t start = std::max(from, searched > core::Guid::kSize ? searched - core::Guid::kSize + 1 : 0);
    for (size_t next = start; next < to;) {
      const auto found = std::search(image.begin() + next, image.begin() + to, findCapsule);
      if (found == image.begin() + to) break;
      next = static_cast<size_t>(found - image.begin());
      if (auto header = HeaderAt(image, next)) return header;
      ++next;
    }
    searched = std::max(searched, to);
  }
  return std::nullopt;
}

std::span<uint8_t> SecureFlash::BeginRequest(uint8_t subFunction, size_t dataLength) {
  std::span<uint8_t> block = smi_.Block();
  if (!core::InRange(block.size(), kBlockSize, dataLength)) return {};
  smi_.ZeroBlock();
  OfbdBegin(block, ofbd::kClassSecureFlash, ofbd_.Version());
  OfbdAddOperation(block, 'p', 1);
  block[ofbd::kRecordOffset] = subFunction;
  OfbdCloseOperation(block, 'p', 1);
  return block.subspan(kBlockSize, dataLength);
}

bool SecureFlash::Handled() { return OfbdAnswer{smi_.Block()}.Handled(); }

bool SecureFlash::QuerySecureFlash() {
  capable_ = false;
  std::span<uint8_t> data = BeginRequest(kSubQuery, kAnswerSize);
  if (data.empty()) return false;
  data[kAnswerPending] = 1;
  smi_.RaiseSmi(smi::kOfbd);
  // A firmware that does not know the block leaves the pending byte as it found it; one
  // that does but offers nothing leaves it set.
  if (!Handled() || data[kAnswerPending] != 0) return false;
  std::copy(data.begin(), data.end(), answer_.begin());
  policy_ = FlashPolicy{};
  capable_ = true;
  return true;
}

void FlashPolicy::Request(uint8_t requested, unsigned regionBit, std::optional<std::span<const uint8_t>> fileName,
                          uint32_t size) {
  type = std::min(type, requested);
  regions |= uint32_t{1} << regionBit;
  if (fileName) {
    name.fill(0);
    std::copy_n(fileName->begin(), std::min(fileName->size(), name.size()), name.begin());
  }
  imageSize = size;
}

void SecureFlash::RequestSecureRegion(uint8_t type, unsigned regionBit, std::optional<std::span<const uint8_t>> name,
                                      uint32_t imageSize) {
  policy_.Request(type, regionBit, name, imageSize);
}

bool SecureFlash::SendPiece(uint32_t offset, std::span<const uint8_t> piece) {
  std::span<uint8_t> data = BeginRequest(kSubLoadPiece, kPieceData + piece.size());
  if (data.empty()) return false;
  core::StoreLe64(&data[kPieceAddress], uint64_t{smi_.BlockPhysical()} + kBlockSize + kPieceData);
  core::StoreLe32(&data[kPieceOffset], offset);
  core::StoreLe32(&data[kPieceLength], static_cast<uint32_t>(piece.size()));
  data[kPieceStatus] = 1;
  std::copy(piece.begin(), piece.end(), data.begin() + kPieceData);
  smi_.RaiseSmi(smi::kOfbd);
  return Handled() && data[kPieceStatus] == 0;
}

bool SecureFlash::LoadImageToFirmware(std::span<const uint8_t> image, uint32_t base,
                                      const core::ProgressCallback& progress) {
  if (imageLoaded_) return true;
  uint32_t headerLength = 0;
  // Only an image that does not begin with the capsule GUID is searched for one inside.
  if (!GuidAt(image, 0, CapsuleGuid())) {
    if (const auto header = EmbeddedCapsuleHeader(image)) {
      if (!SendPiece(base, image.subspan(header->offset, header->length))) return false;
      headerSent_ = true;
      headerLength = header->length;
    }
  }
  const uint32_t size = static_cast<uint32_t>(image.size());
  for (uint32_t at = 0; at < size; at += kPieceSize) {
    const uint32_t length = std::min(kPieceSize, size - at);
    if (!SendPiece(base + at + headerLength, image.subspan(at, length))) return false;
    if (progress) progress(size, base + at, 1);
  }
  if (progress) progress(0, 0, 0);
  imageLoaded_ = true;
  return true;
}

uint8_t SecureFlash::StartSecureFlashSession() {
  if (sessionStarted_) return 0;
  std::span<uint8_t> data = BeginRequest(kSubStartSession, kPolicySize);
  if (data.empty()) return kNoSharedBlock;
  const auto policy = policy_.Bytes();
  std::copy(policy.begin(), policy.end(), data.begin());
  data[kPolicyStatus] = 1;
  smi_.RaiseSmi(smi::kOfbd);
  const uint8_t status = data[kPolicyStatus];
  if (status == 0) sessionStarted_ = true;
  return status;
}

}  // namespace nox::firmware
