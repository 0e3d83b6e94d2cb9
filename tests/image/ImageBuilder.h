// Builds small ROM images for the tests: firmware volumes with correct header checksums
// and firmware files, laid out the way firmware build tools lay them out.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/Bytes.h"
#include "core/Format.h"
#include "core/Guid.h"

namespace nox::image::testing {

inline const core::Guid kFfs2 = core::GuidLiteral("8C8CE578-8A3D-4F1C-9935-896185C32DD3");
inline const core::Guid kIdentity = core::GuidLiteral("30ACC954-36FF-4C09-B2F5-DFDDAB7002A5");

inline core::Guid Named(uint32_t first, const char* rest) {
  return core::GuidLiteral(core::Format("%08X-%s", first, rest));
}
// The n-th ROM hole name (0..15), and names that are no hole: the first group counts up.
inline core::Guid HoleName(uint32_t n) { return Named(0x05CA01FC + n, "0FC1-11DC-9011-00173153EBA8"); }
inline core::Guid PlainName(uint32_t n) { return Named(0x1B45CC0A + n, "156A-428A-AF62-49864DA0E6E6"); }

struct FileDef {
  core::Guid name;
  uint32_t size;  // whole file, header included
};

struct ImageBuilder {
  explicit ImageBuilder(size_t size) : bytes(size, 0xFF) {}

  // Writes a volume header at `offset` and the files after it; returns the file offsets.
  std::vector<uint64_t> AddVolume(size_t offset, const std::vector<FileDef>& files = {}, uint32_t length = 0x10000,
                                  const core::Guid& fileSystem = kFfs2) {
    constexpr uint16_t kHeaderLength = 72;  // one block-map entry and the terminating one
    uint8_t* h = &bytes.at(offset + kHeaderLength - 1) - (kHeaderLength - 1);
    std::fill(h, h + kHeaderLength, 0);
    fileSystem.WriteTo(std::span<uint8_t, 16>(h + 16, 16));
    core::StoreLe64(h + 32, length);
    // Signature, attributes, header length, checksum (below), no extended header, revision 2.
    std::copy_n("_FVH\xFF\xFE\x04\0\x48\0\0\0\0\0\0\x02", 16, h + 40);
    core::StoreLe32(h + 56, length / 0x1000);
    core::StoreLe32(h + 60, 0x1000);
    core::StoreLe16(h + 50, static_cast<uint16_t>(0x10000 - core::Sum16(core::ByteSpan(h, kHeaderLength))));
    std::vector<uint64_t> offsets;
    for (uint64_t at = offset + kHeaderLength; const auto& file : files) {
      uint8_t* f = &bytes.at(at + 23) - 23;
      file.name.WriteTo(std::span<uint8_t, 16>(f, 16));
      std::copy_n("\xAA\x55\x01\0\0\0\0\xF8", 8, f + 16);
      SetFileSize(at, file.size);
      // A body that is neither erased nor zero, so a walk that reads body bytes as headers
      // goes wrong visibly.
      for (uint64_t i = 24; i < file.size && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<uint8_t>(i * 7 + 3);
      offsets.push_back(at);
      at += (uint64_t{file.size} + 7) & ~uint64_t{7};
    }
    return offsets;
  }

  // Points the header of the volume at `offset` to an extended header at `at` in the volume
  // and writes its name and size there, as far as the bytes reach; 0 is no extended header.
  void SetExtendedHeader(size_t offset, uint16_t at, const core::Guid& name, uint32_t size = 20) {
    uint8_t* h = &bytes.at(offset + 71) - 71;
    core::StoreLe16(h + 52, at);
    core::StoreLe16(h + 50, 0);
    core::StoreLe16(h + 50, static_cast<uint16_t>(0x10000 - core::Sum16(core::ByteSpan(h, 72))));
    if (at == 0) return;
    std::array<uint8_t, 20> extended{};
    name.WriteTo(std::span<uint8_t, 16>(extended.data(), 16));
    core::StoreLe32(extended.data() + 16, size);
    for (size_t i = 0; i < extended.size() && offset + at + i < bytes.size(); ++i) bytes[offset + at + i] = extended[i];
  }

  // Rewrites the size field of the file header at `offset`, even to a nonsensical size, and
  // the header checksum that covers it.
  void SetFileSize(uint64_t offset, uint32_t size) {
    for (int i = 0; i < 3; ++i) bytes.at(offset + 20 + i) = static_cast<uint8_t>(size >> (8 * i));
    uint8_t* f = &bytes.at(offset + 23) - 23;
    f[16] = 0;
    f[16] = static_cast<uint8_t>(f[17] + f[23] - core::Sum8(core::ByteSpan(f, 24)));
  }

  std::vector<uint8_t> bytes;
};

// Reads of a flash part held in memory; they fail when asked for bytes the part does not hold.
inline auto ReadsOf(const std::vector<uint8_t>& flash) {
  return [&flash](uint32_t address, std::span<uint8_t> to) {
    if (!core::InRange(flash.size(), address, to.size())) return false;
    std::copy_n(flash.begin() + address, to.size(), to.begin());
    return true;
  };
}

}  // namespace nox::image::testing
