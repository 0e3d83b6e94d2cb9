// Where the image keeps its platform identity file, which the version policy reads.
#pragma once

#include <cstdint>

#include "core/Bytes.h"
#include "core/Guid.h"

namespace nox::image {

struct PlatformIdentityFile {
  static const core::Guid kName;

  uint32_t imageOffset = 0;  // of the file header
  uint32_t size = 0;         // 24-bit file size; 0 while none was found

  bool Found() const { return size != 0; }
  void Clear() { *this = {}; }

  // Looks for the file in the volumes of [start, start + length) unless one was already
  // found: the first one of the image is the one that counts.
  void ScanRange(core::ByteSpan image, uint64_t start, uint64_t length);
};

}  // namespace nox::image
