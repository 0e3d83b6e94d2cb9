// The "BSA_" area of the boot blocks from arbitrary bytes: a block table of up to four
// entries and up to four requested types come first, the rest is the flash part, which is
// also the image the saved area is laid over.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzFirmware.h"
#include "image/SmbiosArea.h"

using namespace nox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t counts = in.Byte();
  std::vector<firmware::FlashBlockEntry> blocks(counts & 3);
  for (auto& block : blocks) {
    block.start = in.Le16();
    block.size = in.Le16() + 1u;
    block.type = in.Byte() & 1;  // boot blocks and others
  }
  std::vector<std::string> types((counts >> 2) & 3);
  for (auto& type : types) {
    const auto text = in.Take(in.Byte() % 5);
    type.assign(text.begin(), text.end());
  }
  const auto flashBytes = in.Rest();
  std::vector<uint8_t> flash(flashBytes.begin(), flashBytes.end());

  image::FlashLayout layout;
  layout.SetBlockTable(blocks);
  image::SmbiosArea area;
  const auto reader = [&](uint32_t address, std::span<uint8_t> to) {
    if (!core::InRange(flash.size(), address, to.size())) return false;
    std::copy_n(flash.begin() + address, to.size(), to.begin());
    return true;
  };
  if (area.Save(layout, reader, types, [](int) {}) != image::SmbiosArea::SaveResult::kSaved) return 0;
  const auto saved = area.Bytes();
  if (saved.size() < image::SmbiosArea::kHeadSize || std::memcmp(saved.data(), "BSA_", 4) != 0) std::abort();
  if (saved.size() != image::SmbiosArea::kHeadSize + core::LoadLe32(saved.data() + 4)) std::abort();
  std::vector<uint8_t> image = flash;
  if (counts & 0x10) image.resize(image.size() / 2);
  area.Restore(layout, image);
  return 0;
}
