// The capsule header this machine's firmware takes with a secure-flash image, and the images
// that carry one:
//
//   0   GUID 4A3CA68B-7723-48FB-803D-578CC1FEC44D
//   16  u32 size of the image proper (the whole flash part)
//   20  u32 flags, bit 0: the digest is present ("signed")
//   24  u32 N, the number of unsigned ranges
//   28  u16 H, the header length: 64 + 8N rounded up to 16; the image proper follows it
//   30  u16 digest kind, 1 = SHA-256 (0 in an unsigned header)
//   32  32 bytes SHA-256 digest
//   64  N records (u32 start, u32 length): ranges of the image proper the digest leaves out,
//       because an updater may change them before the upload (ROM holes, the "BSA_" SMBIOS
//       area, and the file that carries an embedded header).
//
// The digest covers the header with bytes 32..63 zeroed, then every byte of the image proper
// outside the unsigned ranges, in address order. A header may also travel inside the image,
// as the data of an FFS file named with the marker GUID in the main BIOS volume.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/Guid.h"
#include "platform/sim/Profile.h"
#include "platform/sim/RomImage.h"

namespace nox::sim {

const core::Guid& CapsuleGuid();
const core::Guid& CapsuleMarkerGuid();

// How far behind the marker an updater looks for the capsule GUID.
inline constexpr size_t kCapsuleSearchWindow = 10240;
inline constexpr size_t kCapsuleFixedLength = 64;
// More ranges than this make no sense for one image and would let a header claim megabytes.
inline constexpr uint32_t kMaxUnsignedRanges = 1024;

// Verdicts of a session request, left in byte 29 of the flash policy.
namespace capsule {
inline constexpr uint8_t kAccepted = 0;
inline constexpr uint8_t kIncomplete = 2;       // bytes of header or image never uploaded
inline constexpr uint8_t kHeaderInvalid = 3;    // no capsule GUID, or its fields contradict
inline constexpr uint8_t kDamaged = 4;          // the digest does not match
inline constexpr uint8_t kUnsignedRefused = 5;  // no digest, and the machine requires one
inline constexpr uint8_t kDoesNotFit = 6;       // image size is not the flash part's, or the policy's
inline constexpr uint8_t kNoRecoveryFile = 7;   // the recovery file is not there
inline constexpr uint8_t kNoRegion = 8;         // the policy names no region
}  // namespace capsule

struct UnsignedRange {
  uint32_t start = 0;
  uint32_t length = 0;
};

uint16_t CapsuleHeaderLength(size_t ranges);

// A header for `image` (the image proper) leaving `ranges` out of the digest; without
// `sign` the digest, its kind and the signed flag stay zero.
std::vector<uint8_t> BuildCapsuleHeader(std::span<const uint8_t> image, const std::vector<UnsignedRange>& ranges,
                                         bool sign);

struct CapsuleVerdict {
  uint8_t status = capsule::kAccepted;
  std::string reason;  // empty when accepted
};

// Checks `header` (exactly its H bytes or more) against `image` (the image proper) for a
// flash part of `flashSize` bytes.
CapsuleVerdict CheckCapsule(std::span<const uint8_t> header, std::span<const uint8_t> image, uint32_t flashSize,
                            bool requireSigned);

// Where the header and the image proper are in a file: a header in front of the image, or
// one behind the marker inside it (the image proper is then the whole file).
struct CapsuleParts {
  std::span<const uint8_t> header;
  std::span<const uint8_t> image;
};
std::optional<CapsuleParts> LocateCapsule(std::span<const uint8_t> file);

// The ranges an updater may change in an image made for `profile`: its ROM holes and the
// "BSA_" area of the boot block, in address order.
std::vector<UnsignedRange> MutableRanges(const Profile& profile, std::span<const uint8_t> image);

enum class CapsuleForm {
  Leading,     // header + image
  Inside,      // the header in the marker file inside the image
  MarkerOnly,  // the marker file with no header behind it
};
struct CapsuleOptions {
  CapsuleForm form = CapsuleForm::Leading;
  bool sign = true;
  bool damage = false;  // one byte of a signed range changed after the digest was taken
};
// An image for `profile` made as BuildRomImage makes it, then given its capsule header;
// `image` of the result is the file's contents.
RomResult BuildCapsuleImage(const Profile& profile, RomOptions options, const CapsuleOptions& capsule);

}  // namespace nox::sim
