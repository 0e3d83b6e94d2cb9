// Where the image keeps its platform identity file, which the version policy reads.
#pragma once

#include <cstdint>
#include <optional>

#include "core/Bytes.h"
#include "core/Guid.h"

namespace nox::image {

struct PlatformIdentityFile {
  static const core::Guid kName;

  uint32_t imageOffset = 0;   // of the file header
  uint32_t size = 0;          // 24-bit file size; 0 while none was found
  uint32_t volumeOffset = 0;  // of the header of the volume that holds the file

  bool Found() const { return size != 0; }
  void Clear() { *this = {}; }

  // Looks for the file in the volumes of [start, start + length) unless one was already
  // found: the first one of the image is the one that counts.
  void ScanRange(core::ByteSpan image, uint64_t start, uint64_t length);
};

// The name of the volume that holds the identity file, from that volume's extended header:
// the GUID shown for an opened ROM file. None when the file was not found or the volume has
// no sound extended header.
std::optional<core::Guid> IdentityVolumeName(core::ByteSpan image, const PlatformIdentityFile& file);

}  // namespace nox::image
