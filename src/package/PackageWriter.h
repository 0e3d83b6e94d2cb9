// Building packages: modules with their headers and checksums, the package header, and
// the package appended to an executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "package/Lh5Encoder.h"

namespace nox::package {

inline constexpr uint8_t kModuleStep = 0x10;

struct ModuleSource {
  std::string tag;              // "@" and three characters
  std::vector<uint8_t> content;
  bool driver = false;          // marks the I/O driver modules in the header
  bool allowCompression = true; // false: always stored
};

// One module: header with checksum word, data header, stored or -lh5- data, zero padding to
// the module step. The data is stored when compression does not make it smaller. None for
// a tag that is not four characters or content over kMaxExpandedSize.
std::optional<std::vector<uint8_t>> BuildModule(const ModuleSource& source, const EncodeProgress& progress = {});

// Package header followed by the modules, in the order given; none when the total does
// not fit the 32-bit length field.
std::optional<std::vector<uint8_t>> BuildPackage(const std::vector<std::vector<uint8_t>>& modules);

// The executable with the package behind it.
std::vector<uint8_t> AppendPackage(core::ByteSpan executable, core::ByteSpan package);

// Sets the 16-bit word at `checksumOffset` so that the little-endian words of `bytes` add
// up to 0 modulo 65536.
void SealChecksum(core::MutableByteSpan bytes, size_t checksumOffset);

}  // namespace nox::package
