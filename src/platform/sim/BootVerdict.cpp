#include "platform/sim/BootVerdict.h"

#include <algorithm>
#include <cstring>

#include "core/Bytes.h"
#include "platform/sim/RomImage.h"

namespace nox::sim {
namespace {

constexpr uint8_t kBootBlockType = 0;
constexpr uint8_t kMainBiosType = 1;
constexpr uint32_t kVolumeSignatureAt = 40;
constexpr uint32_t kVolumeChecksummed = 64;
constexpr uint32_t kFileHeader = 24;
constexpr uint8_t kFileChecksumAttribute = 0x40;

bool AllErased(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

// The files of a file-system volume, walked as the firmware's own loader would: each header
// checksum (the file checksum and state bytes do not count), the data checksum of a file
// that carries one, and erased space from the first free header to the volume's end.
bool FilesSound(std::span<const uint8_t> volume, uint32_t headerLength, std::span<const uint8_t>& identity) {
  uint64_t at = headerLength;
  while (at < volume.size()) {
    if (volume.size() - at < kFileHeader) return AllErased(volume.subspan(at));
    const auto header = volume.subspan(at, kFileHeader);
    if (AllErased(header)) return AllErased(volume.subspan(at));
    if (static_cast<uint8_t>(core::Sum8(header) - header[17] - header[23]) != 0) return false;
    const uint32_t size = core::LoadLe32(header.data() + 20) & 0xFFFFFF;
    if (size < kFileHeader || size > volume.size() - at) return false;
    const auto file = volume.subspan(at, size);
    if ((header[19] & kFileChecksumAttribute) != 0 &&
        static_cast<uint8_t>(core::Sum8(file.subspan(kFileHeader)) + header[17]) != 0) {
      return false;
    }
    if (identity.empty() && *core::Guid::FromBytes(header) == IdentityFileGuid()) identity = file;
    at += (uint64_t{size} + 7) & ~uint64_t{7};
  }
  return true;
}

// One run of neighbouring blocks: erased bytes, or volumes that lie inside the run, one
// after another.
bool RunSound(std::span<const uint8_t> run, std::span<const uint8_t>& identity) {
  uint64_t at = 0;
  while (at < run.size()) {
    if (run[at] == 0xFF) {
      ++at;
      continue;
    }
    const auto header = run.subspan(at, std::min<uint64_t>(kVolumeChecksummed, run.size() - at));
    if (header.size() < kVolumeChecksummed || std::memcmp(header.data() + kVolumeSignatureAt, "_FVH", 4) != 0 ||
        core::Sum16(header) != 0) {
      return false;
    }
    const uint64_t length = core::LoadLe64(header.data() + 32);
    const uint16_t headerLength = core::LoadLe16(header.data() + 48);
    if (length < kVolumeChecksummed || length > run.size() - at || headerLength < kVolumeChecksummed ||
        headerLength > length) {
      return false;
    }
    const auto volume = run.subspan(at, length);
    // Only the two firmware file systems hold files; a variable store keeps its own format.
    static const core::Guid kFfs1 = core::GuidLiteral("7A9354D9-0468-444A-81CE-0BF617D890DF");
    const core::Guid fileSystem = *core::Guid::FromBytes(volume.subspan(16, 16));
    if ((fileSystem == Ffs2Guid() || fileSystem == kFfs1) && !FilesSound(volume, headerLength, identity)) return false;
    at += length;
  }
  return true;
}

std::vector<size_t> BlocksOfType(const Profile& p, uint8_t type) {
  std::vector<size_t> out;
  for (size_t i = 0; i < p.flash.blocks.size(); ++i) {
    if (p.flash.blocks[i].type == type) out.push_back(i);
  }
  return out;
}

}  // namespace

const char* HealthName(RegionHealth health) {
  switch (health) {
    case RegionHealth::kAsBooted: return "as booted";
    case RegionHealth::kWhole: return "whole";
    case RegionHealth::kDamaged: break;
  }
  return "damaged";
}

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOld: return "old";
    case Verdict::kNew: return "new";
    case Verdict::kRecovery: return "recovery";
    case Verdict::kNoStart: break;
  }
  return "no start";
}

const char* VerdictSentence(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOld: return "old firmware boots";
    case Verdict::kNew: return "new firmware boots";
    case Verdict::kRecovery: return "boot-block recovery starts";
    case Verdict::kNoStart: break;
  }
  return "the machine does not start";
}

uint64_t BlockDigest(std::span<const uint8_t> block) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (const uint8_t b : block) h = (h ^ b) * 0x100000001B3ull;
  return h;
}

std::vector<size_t> BootBlockBlocks(const Profile& p) {
  std::vector<size_t> blocks = BlocksOfType(p, kBootBlockType);
  if (!blocks.empty() || p.flash.blocks.empty()) return blocks;
  const auto& table = p.flash.blocks;
  const size_t last = static_cast<size_t>(
      std::max_element(table.begin(), table.end(), [](const BlockEntry& a, const BlockEntry& b) { return a.start < b.start; }) -
      table.begin());
  // The run that ends there: neighbours of the same type below it.
  blocks.push_back(last);
  for (bool grown = true; grown;) {
    grown = false;
    for (size_t i = 0; i < table.size(); ++i) {
      const BlockEntry& low = table[blocks.back()];
      if (table[i].type == low.type && table[i].start + table[i].size == low.start) {
        blocks.push_back(i);
        grown = true;
      }
    }
  }
  return blocks;
}

std::vector<size_t> MainBiosBlocks(const Profile& p) { return BlocksOfType(p, kMainBiosType); }

bool RegionWhole(const Profile& p, std::span<const uint8_t> part, std::span<const size_t> blocks, bool needIdentity) {
  std::vector<BlockEntry> sorted;
  for (const size_t i : blocks) sorted.push_back(p.flash.blocks[i]);
  std::sort(sorted.begin(), sorted.end(), [](const BlockEntry& a, const BlockEntry& b) { return a.start < b.start; });
  std::span<const uint8_t> identity;
  for (size_t i = 0; i < sorted.size();) {
    const uint64_t start = sorted[i].start;
    uint64_t end = start;
    for (; i < sorted.size() && sorted[i].start == end; ++i) end += sorted[i].size;
    if (!core::InRange(part.size(), start, end - start) || !RunSound(part.subspan(start, end - start), identity)) {
      return false;
    }
  }
  return !needIdentity || (!identity.empty() && ReadImageIdentity(identity).has_value());
}

namespace {

RegionHealth Health(const Profile& p, std::span<const uint8_t> part, std::span<const size_t> blocks,
                    const BootDigests& noted, bool needIdentity) {
  const bool asBooted = !blocks.empty() && std::all_of(blocks.begin(), blocks.end(), [&](size_t i) {
    const BlockEntry& b = p.flash.blocks[i];
    return i < noted.size() && noted[i] && core::InRange(part.size(), b.start, b.size) &&
           *noted[i] == BlockDigest(part.subspan(b.start, b.size));
  });
  if (asBooted) return RegionHealth::kAsBooted;
  return RegionWhole(p, part, blocks, needIdentity) ? RegionHealth::kWhole : RegionHealth::kDamaged;
}

}  // namespace

BootOutlook JudgePart(const Profile& p, std::span<const uint8_t> part, const BootDigests& noted) {
  BootOutlook o;
  o.bootBlock = Health(p, part, BootBlockBlocks(p), noted, false);
  o.mainBios = Health(p, part, MainBiosBlocks(p), noted, true);
  if (o.bootBlock == RegionHealth::kDamaged) {
    o.verdict = Verdict::kNoStart;
  } else if (o.mainBios == RegionHealth::kDamaged) {
    o.verdict = Verdict::kRecovery;
  } else if (o.bootBlock == RegionHealth::kAsBooted && o.mainBios == RegionHealth::kAsBooted) {
    o.verdict = Verdict::kOld;
  } else {
    o.verdict = Verdict::kNew;
  }
  return o;
}

BootDigests NoteAtPowerOn(const Profile& p, std::span<const uint8_t> part, BootDigests noted) {
  noted.resize(p.flash.blocks.size());
  const auto note = [&](const std::vector<size_t>& blocks, bool needIdentity) {
    if (!RegionWhole(p, part, blocks, needIdentity)) return;
    for (const size_t i : blocks) {
      const BlockEntry& b = p.flash.blocks[i];
      if (core::InRange(part.size(), b.start, b.size)) noted[i] = BlockDigest(part.subspan(b.start, b.size));
    }
  };
  note(BootBlockBlocks(p), false);
  note(MainBiosBlocks(p), true);
  return noted;
}

}  // namespace nox::sim
