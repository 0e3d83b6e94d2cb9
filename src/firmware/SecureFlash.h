// Firmware that programs the flash part itself: the utility hands it the whole image in
// pieces, tells it which regions to take in a 34-byte flash policy, and asks it to start a
// session (now, or at the next boot for a capsule or recovery update). Every request is a
// 'p' OFBD block built in the shared block, its data behind the block's end marker.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/Guid.h"
#include "core/Progress.h"
#include "firmware/Ofbd.h"
#include "firmware/SmiFlash.h"

namespace nox::firmware {

namespace secure {
// How the firmware is to take the image; a policy asked for several keeps the lowest.
inline constexpr uint8_t kRecovery = 1;
inline constexpr uint8_t kCapsule = 2;
inline constexpr uint8_t kRuntime = 4;
inline constexpr uint8_t kNoType = 255;

// Region bits of the policy.
inline constexpr unsigned kBootBlockBit = 0;
inline constexpr unsigned kMainBiosBit = 1;
inline constexpr unsigned kNvramBit = 2;
inline constexpr unsigned kEcBit = 3;

inline constexpr size_t kPolicySize = 34;
inline constexpr size_t kAnswerSize = 259;
inline constexpr size_t kNameSize = 16;
inline constexpr uint32_t kPieceSize = 32768;
// Where a capsule GUID may follow the marker GUID inside an image.
inline constexpr size_t kMarkerWindow = 10240;
// A capsule header's length field, and the least a header can be: its GUID and that field.
inline constexpr size_t kHeaderLengthOffset = 28;
inline constexpr size_t kMinHeaderLength = kHeaderLengthOffset + 2;
// The status a session request reports when there is no shared block to send it in.
inline constexpr uint8_t kNoSharedBlock = 0xFF;

const core::Guid& CapsuleGuid();
const core::Guid& MarkerGuid();
}  // namespace secure

// The flash policy as it goes to the firmware.
struct FlashPolicy {
  uint8_t type = secure::kNoType;
  uint32_t regions = 0;
  std::array<uint8_t, secure::kNameSize> name{};
  uint32_t imageSize = 0;
  // Lowers the type to `type` when that is lower, adds the region, takes the name when one
  // is given and the image size.
  void Request(uint8_t type, unsigned regionBit, std::optional<std::span<const uint8_t>> name, uint32_t size);
  std::array<uint8_t, secure::kPolicySize> Bytes() const;
};

// A capsule header found in an image: where it starts and its length (the image proper
// starts that many bytes after it). Headers too short to hold their own length field, or
// that run past the image, do not count.
struct CapsuleHeaderAt {
  size_t offset = 0;
  uint16_t length = 0;
};
// The header at the very start of `image`.
std::optional<CapsuleHeaderAt> LeadingCapsuleHeader(std::span<const uint8_t> image);
// A header behind the marker GUID: a capsule GUID within kMarkerWindow bytes after a marker.
std::optional<CapsuleHeaderAt> EmbeddedCapsuleHeader(std::span<const uint8_t> image);

class SecureFlash {
 public:
  SecureFlash(SmiFlash& smi, const Ofbd& ofbd) : smi_(smi), ofbd_(ofbd) {}

  // Asks whether the firmware programs the flash itself; when it does, keeps its answer and
  // starts a new policy.
  bool QuerySecureFlash();
  bool Capable() const { return capable_; }
  void SetCapable(bool capable) { capable_ = capable; }
  const std::array<uint8_t, secure::kAnswerSize>& FirmwareAnswer() const { return answer_; }

  void RequestSecureRegion(uint8_t type, unsigned regionBit, std::optional<std::span<const uint8_t>> name,
                           uint32_t imageSize);
  const FlashPolicy& Policy() const { return policy_; }

  // Sends `image` into the firmware's memory from `base` on, once per run. The progress
  // callback hears (image size, piece offset, 1) after each piece and (0, 0, 0) at the end.
  bool LoadImageToFirmware(std::span<const uint8_t> image, uint32_t base, const core::ProgressCallback& progress);
  bool ImageLoaded() const { return imageLoaded_; }
  // A header found inside the image went ahead of it, so the firmware has it at `base`.
  bool CapsuleHeaderSent() const { return headerSent_; }

  // 0 when the firmware started the session (or had started it before), else its status.
  uint8_t StartSecureFlashSession();
  bool SessionStarted() const { return sessionStarted_; }

 private:
  // Zero-fills the shared block and builds a 'p' block for `subFunction` in it; the span of
  // `dataLength` bytes behind the block, empty when the shared block cannot hold it.
  std::span<uint8_t> BeginRequest(uint8_t subFunction, size_t dataLength);
  bool Handled();
  bool SendPiece(uint32_t offset, std::span<const uint8_t> piece);

  SmiFlash& smi_;
  const Ofbd& ofbd_;
  bool capable_ = false;
  std::array<uint8_t, secure::kAnswerSize> answer_{};
  FlashPolicy policy_;
  bool imageLoaded_ = false;
  bool headerSent_ = false;
  bool sessionStarted_ = false;
};

}  // namespace nox::firmware
