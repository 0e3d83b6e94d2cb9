// Feeds arbitrary bytes to the volume scanner as a ROM image and as a copy of the flash,
// and to the flash layout with a block table taken from the first bytes of the input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/FirmwareVolumes.h"
#include "image/FlashLayout.h"

using namespace nox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const core::ByteSpan bytes(data, size);

  // Every file handed out must lie inside the buffer and be at least a header long.
  image::FirmwareVolumes::Scan(bytes, 0, size, [&](const image::FirmwareFile& file) {
    if (!core::InRange(size, file.offset, file.size) || file.size < image::FirmwareFile::kHeaderSize) std::abort();
    return image::WalkControl::kContinue;
  });

  // A block table of up to 8 entries from the first 72 bytes: start and size from the
  // input, scaled to the image so that ranges both inside and past it occur.
  std::vector<firmware::FlashBlockEntry> blocks;
  const size_t tableBytes = std::min<size_t>(size / 9 * 9, 72);
  for (size_t at = 0; at + 9 <= tableBytes; at += 9) {
    firmware::FlashBlockEntry entry;
    entry.start = core::LoadLe32(data + at);
    entry.size = core::LoadLe32(data + at + 4);
    entry.type = data[at + 8];
    if ((entry.type & 0x70) != 0) entry.type &= 0x83;  // keep the known types frequent
    if (size > 0 && (entry.start & 0x80000000u) == 0) entry.start %= static_cast<uint32_t>(size);
    blocks.push_back(entry);
  }
  image::FlashLayout layout;
  layout.SetBlockTable(blocks, size > 4 ? data[4] : 0, 0xFFFFFFFF);
  if (layout.AnalyseImage(bytes) == 0) {
    const auto& holes = layout.Holes();
    for (const auto& hole : holes.Records()) {
      if (!core::InRange(size, hole.imageOffset, hole.size)) std::abort();
    }
    size_t cursor = 0;
    layout.Holes().MatchFlashRange(bytes, 0, size, cursor, holes.Count());
    image::RegionSelection selection;
    selection.ncbMask = size > 5 ? data[5] : 0;
    selection.programMainBios = size > 6 && (data[6] & 1);
    for (size_t i = 0; i <= blocks.size(); ++i) {
      for (uint8_t kind = 0; kind < 5; ++kind) layout.BlockInRegion(i, static_cast<image::RegionKind>(kind), selection);
    }
  }
  std::vector<uint8_t> scratch(4096);
  layout.CheckEcNewer(bytes, std::nullopt, scratch, [&](uint32_t address, std::span<uint8_t> to) {
    if (to.size() > scratch.size()) std::abort();
    if (!core::InRange(size, address, to.size())) return false;
    std::copy_n(data + address, to.size(), to.begin());
    return true;
  });
  return 0;
}
