// Firmware images that fit (or deliberately do not fit) a simulated machine: firmware volumes
// with valid header checksums holding FFS files, the platform identity file with its marker
// blocks, ROM holes in the main BIOS and boot block, the "BSA_" SMBIOS area and the EC
// version word. A new machine's flash holds such an image of its running version. An image
// covers the block table's part of the chip and, below flash.base, the chip's other regions,
// as the part does. On a machine with an ME region the firmware's image carries a "$FID"
// marker file, by which a full-chip image is told from the descriptor and ME region in front.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/Guid.h"
#include "platform/sim/Profile.h"

namespace nox::sim {

inline constexpr unsigned kMaxRomHoles = 16;

struct RomOptions {
  std::string version;
  uint8_t systemId = 0;
  uint16_t extendedId = 0;
  std::vector<uint16_t> extensionIds;
  std::vector<std::string> names;
  uint32_t ecVersion = 0;
  unsigned holes = 2;
  uint64_t seed = 1;
  // The data of a file named `fileName` in the main BIOS volume that holds the identity file,
  // behind it (an embedded capsule header).
  std::optional<core::Guid> fileName;
  std::vector<uint8_t> fileData;
  // The "$FID" marker file of a machine with an ME region; false leaves it out.
  bool fidMarker = true;
};

// The identity and EC version of the machine's running firmware.
RomOptions RunningRomOptions(const Profile& profile);
// "A06" -> "A07"; empty when the number cannot go up ("A99").
std::optional<std::string> NextVersion(const std::string& version);

// What the generator put where, so that tests can hold other readers to it.
struct RomVolume {
  uint32_t offset = 0;
  uint32_t length = 0;
  core::Guid fileSystem;
  std::optional<core::Guid> name;  // from the extended header, which only some volumes have
};
struct RomFile {
  uint32_t offset = 0;   // of the file header
  uint32_t size = 0;     // header included
  core::Guid name;
};

struct RomResult {
  std::vector<uint8_t> image;
  std::vector<RomVolume> volumes;
  std::vector<RomFile> files;
  std::string error;   // empty on success
};
RomResult BuildRomImage(const Profile& profile, const RomOptions& options);

// The chip in front of the firmware's part on a machine with an ME region (me.span bytes):
// 16 bytes 0xFF, the flash-descriptor signature 0x5A 0xA5 0xF0 0x0F at 16, and filler from
// `seed` in the rest of the descriptor, the ME region and up to the span. The filler never
// forms a descriptor signature or an ASCII marker, so a bare ME region has neither.
std::vector<uint8_t> MeFront(const Profile& profile, uint64_t seed);
// The whole chip: MeFront with the options' seed, then BuildRomImage's image, whose volumes
// and files are listed at their chip offsets. Without an ME region it is BuildRomImage's.
RomResult BuildChipImage(const Profile& profile, const RomOptions& options);
// The embedded controller's firmware: `size` bytes of filler from `seed`.
std::vector<uint8_t> EcFirmwareImage(uint32_t size, uint64_t seed);

// The identity the identity file of an image made here carries; none when the image holds
// no such file or its blocks cannot be read.
struct ImageIdentity {
  std::string version;
  uint8_t systemId = 0;
  uint16_t extendedId = 0;
  std::vector<uint16_t> extensionIds;
  std::vector<std::string> names;
};
std::optional<ImageIdentity> ReadImageIdentity(std::span<const uint8_t> image);

// The marker blocks of the identity file: "KORV", "$BV#", "$DI$", "$KOR", "$SIZ".
std::vector<uint8_t> IdentityBlocks(const RomOptions& options, uint32_t imageSize);
// "$BV#" and "$KOR" blocks as the running firmware keeps them (F segment, OEM call 99/15).
std::vector<uint8_t> RunningIdentityBlocks(const IdentityProfile& identity);

const core::Guid& Ffs2Guid();
const core::Guid& NvDataGuid();
const core::Guid& IdentityFileGuid();
const core::Guid& FidFileGuid();
core::Guid RomHoleName(unsigned index);   // index 0..15
// The name of the volume that holds the identity file: the same for every image of one
// machine (system ID and extended ID), another for another machine.
core::Guid MachineVolumeName(uint8_t systemId, uint16_t extendedId);

// The ROM hole files of an image, header included, in address order: files named
// RomHoleName(i) that start on a 4 KiB sector and end within the image.
struct RomHole {
  uint32_t start = 0;
  uint32_t size = 0;
};
std::vector<RomHole> FindRomHoles(std::span<const uint8_t> image);

// A firmware volume header's 16-bit word sum over its first 64 bytes: 0 for a valid one.
uint16_t VolumeHeaderSum(std::span<const uint8_t> header);

}  // namespace nox::sim
