#include "platform/sim/RomImage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "core/Bytes.h"
#include "core/Format.h"

namespace nox::sim {
namespace {

using core::Guid;

constexpr uint32_t kVolumeHeaderLength = 72;  // 56 bytes, one block-map entry, terminator
constexpr uint32_t kFileHeaderLength = 24;
// Name GUID and size; nothing follows them in our extended headers.
constexpr uint32_t kExtendedHeaderLength = 20;
constexpr size_t kMaxFileSize = 0xFFFFFF;   // the header's 24-bit size field
constexpr uint8_t kFileTypeRaw = 0x01;
constexpr uint8_t kFileTypePad = 0xF0;
constexpr uint32_t kSectorSize = 0x1000;
// Header construction, header valid and data valid, inverted because the volumes are
// erased to 0xFF.
constexpr uint8_t kFileStateValid = 0xF8;
constexpr uint8_t kFileChecksumUnused = 0xAA;
constexpr uint8_t kFileAttributeChecksum = 0x40;

// splitmix64: small, seedable, and the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  void Fill(std::span<uint8_t> out) {
    for (size_t i = 0; i < out.size(); i += 8) {
      const uint64_t v = Next();
      for (size_t k = 0; k < 8 && i + k < out.size(); ++k) out[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
  }
  Guid NextGuid() {
    std::array<uint8_t, 16> b{};
    Fill(b);
    return *Guid::FromBytes(b);
  }

 private:
  uint64_t state_;
};

struct FfsFile {
  Guid name;
  std::vector<uint8_t> data;
  // ROM holes start on a sector of their own, as firmware builds lay them out, so that an
  // update can erase and write around them in whole sectors.
  bool sectorAligned = false;
  // Firmware checks the data of such a file before it uses it. Files that are changed in
  // place after the build (the SMBIOS area, the embedded capsule header) carry none.
  bool dataChecksum = true;
};

void WriteVolumeHeader(std::span<uint8_t> volume, const Guid& fileSystem, uint16_t extendedHeaderOffset = 0) {
  uint8_t* h = volume.data();
  std::memset(h, 0, kVolumeHeaderLength);
  fileSystem.WriteTo(std::span<uint8_t, 16>(h + 16, 16));
  core::StoreLe64(h + 32, volume.size());
  std::memcpy(h + 40, "_FVH", 4);
  core::StoreLe32(h + 44, 0x0004FEFF);  // attributes, erase polarity 1 among them
  core::StoreLe16(h + 48, kVolumeHeaderLength);
  core::StoreLe16(h + 52, extendedHeaderOffset);
  h[55] = 2;                            // revision
  core::StoreLe32(h + 56, static_cast<uint32_t>(volume.size() / 4096));
  core::StoreLe32(h + 60, 4096);
  const uint16_t sum = core::Sum16(volume.first(kVolumeHeaderLength));
  core::StoreLe16(h + 50, static_cast<uint16_t>(0x10000 - sum));
}

// `dataSum`: the 8-bit sum of the file's data when the file carries a data checksum.
void WriteFileHeader(uint8_t* h, const Guid& name, uint8_t type, size_t size, std::optional<uint8_t> dataSum = {}) {
  name.WriteTo(std::span<uint8_t, 16>(h, 16));
  h[16] = 0;
  h[17] = 0;
  h[18] = type;
  h[19] = dataSum ? kFileAttributeChecksum : 0;
  h[20] = static_cast<uint8_t>(size);
  h[21] = static_cast<uint8_t>(size >> 8);
  h[22] = static_cast<uint8_t>(size >> 16);
  h[23] = 0;
  h[16] = static_cast<uint8_t>(0x100 - core::Sum8({h, kFileHeaderLength}));
  h[17] = dataSum ? static_cast<uint8_t>(0x100 - *dataSum) : kFileChecksumUnused;
  h[23] = kFileStateValid;
}

std::vector<uint8_t> RandomBytes(Random& rng, size_t n) {
  std::vector<uint8_t> v(n);
  rng.Fill(v);
  return v;
}

// Filler repeats a fresh 16-byte word every KiB: images made with other seeds differ in
// every piece, yet megabytes of it compress as quickly as a real image's padding (the
// packager tries every module). Each byte keeps its top bit set, so that it can never form
// one of the ASCII markers ("_FVH", "$BV#", "BSA_", ...) that readers of the image look for.
std::vector<uint8_t> FillerBytes(Random& rng, size_t n) {
  std::vector<uint8_t> v(n);
  std::array<uint8_t, 16> word{};
  for (size_t i = 0; i < n; ++i) {
    if (i % 1024 == 0) rng.Fill(word);
    v[i] = word[i % word.size()] | 0x80;
  }
  return v;
}

void PlaceFile(std::span<uint8_t> volume, uint32_t base, size_t& at, const FfsFile& f, RomResult& result) {
  const size_t size = kFileHeaderLength + f.data.size();
  uint8_t* h = volume.data() + at;
  WriteFileHeader(h, f.name, kFileTypeRaw, size, f.dataChecksum ? std::optional(core::Sum8(f.data)) : std::nullopt);
  std::memcpy(h + kFileHeaderLength, f.data.data(), f.data.size());
  result.files.push_back({static_cast<uint32_t>(base + at), static_cast<uint32_t>(size), f.name});
  at += (size + 7) & ~size_t{7};
}

// Lays out a volume over `volume` (already 0xFF), at `base` in the image. False when the
// files do not fit. Gaps and the space after the last file are taken by raw files of
// seed-dependent filler rather than pad files and free space, so that images made with
// different seeds differ throughout: an update that skipped a stretch cannot go unseen.
// A named volume carries its name in an extended header, which build tools wrap in a pad
// file at the head of the file list so that a walk of the files steps over it.
bool BuildVolume(std::span<uint8_t> volume, uint32_t base, const Guid& fileSystem,
                 const std::vector<FfsFile>& files, Random& rng, RomResult& result,
                 const std::optional<Guid>& name = {}) {
  constexpr size_t kNamePad = kFileHeaderLength + kExtendedHeaderLength;
  if (volume.size() < kVolumeHeaderLength + (name ? kNamePad : 0)) return false;
  result.volumes.push_back({base, static_cast<uint32_t>(volume.size()), fileSystem, name});
  size_t at = kVolumeHeaderLength;
  if (name) {
    WriteVolumeHeader(volume, fileSystem, kVolumeHeaderLength + kFileHeaderLength);
    WriteFileHeader(volume.data() + at, Guid{}, kFileTypePad, kNamePad);
    name->WriteTo(std::span<uint8_t, 16>(volume.data() + at + kFileHeaderLength, 16));
    core::StoreLe32(volume.data() + at + kFileHeaderLength + 16, kExtendedHeaderLength);
    at += (kNamePad + 7) & ~size_t{7};
  } else {
    WriteVolumeHeader(volume, fileSystem);
  }
  for (const FfsFile& f : files) {
    if (f.sectorAligned && (base + at) % kSectorSize != 0) {
      // A gap too short for a file header takes a whole sector more.
      size_t gap = kSectorSize - (base + at) % kSectorSize;
      if (gap < kFileHeaderLength) gap += kSectorSize;
      if (at + gap > volume.size()) return false;
      PlaceFile(volume, base, at, {rng.NextGuid(), FillerBytes(rng, gap - kFileHeaderLength)}, result);
    }
    const size_t size = kFileHeaderLength + f.data.size();
    if (size > kMaxFileSize || at + size > volume.size()) return false;
    PlaceFile(volume, base, at, f, result);
  }
  // Less than a header's room stays erased.
  while (at < volume.size() && volume.size() - at > kFileHeaderLength) {
    const size_t size = std::min(volume.size() - at, kMaxFileSize & ~size_t{7});
    PlaceFile(volume, base, at, {rng.NextGuid(), FillerBytes(rng, size - kFileHeaderLength)}, result);
  }
  return true;
}

void AppendTag(std::vector<uint8_t>& out, const char* tag) {
  out.insert(out.end(), tag, tag + std::strlen(tag));
}
void PadTo(std::vector<uint8_t>& out, size_t multiple) {
  while (out.size() % multiple != 0) out.push_back(0);
}
void AppendLe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void AppendVersionBlock(std::vector<uint8_t>& out, const std::string& version) {
  AppendTag(out, "$BV#");
  out.insert(out.end(), {0x01, 0x00, 0x00});
  out.insert(out.end(), version.begin(), version.begin() + 3);
  PadTo(out, 16);
}

void AppendKorBlock(std::vector<uint8_t>& out, uint16_t extendedId, uint8_t systemId,
                    const std::vector<std::string>& names) {
  AppendTag(out, "$KOR");
  AppendLe16(out, extendedId);
  out.insert(out.end(), {0x00, 0x00, 0x00});
  out.push_back(systemId);
  out.insert(out.end(), {0x00, 0x00});
  for (const std::string& n : names) {
    out.insert(out.end(), n.begin(), n.end());
    out.push_back(0);
  }
  out.push_back(0);  // the empty name that ends the list
  // Readers copy 20 bytes per name; keep the last one's copy inside the block.
  out.insert(out.end(), 20, 0);
  PadTo(out, 16);
}

struct Run {
  uint32_t start;
  uint32_t size;
  uint8_t type;
};

// Consecutive blocks of one type (for NCBs: the same type value) form one volume.
std::vector<Run> RunsOf(const std::vector<BlockEntry>& blocks) {
  std::vector<Run> runs;
  for (const BlockEntry& b : blocks) {
    if (!runs.empty() && runs.back().type == b.type &&
        runs.back().start + runs.back().size == b.start) {
      runs.back().size += b.size;
    } else {
      runs.push_back({b.start, b.size, b.type});
    }
  }
  return runs;
}

std::vector<uint8_t> SmbiosArea(Random& rng) {
  std::vector<uint8_t> entries;
  for (uint8_t type : {1, 2, 3}) {
    const uint8_t n = static_cast<uint8_t>(8 + 4 * type);
    entries.insert(entries.end(), {type, 0x00, n, 0x00});
    auto body = RandomBytes(rng, n);
    entries.insert(entries.end(), body.begin(), body.end());
  }
  std::vector<uint8_t> area;
  AppendTag(area, "BSA_");
  const uint32_t length = static_cast<uint32_t>(entries.size());
  for (int i = 0; i < 4; ++i) area.push_back(static_cast<uint8_t>(length >> (8 * i)));
  area.insert(area.end(), entries.begin(), entries.end());
  return area;
}

// The firmware's own marker in a full-chip image: where it is found, the firmware's part is.
std::vector<uint8_t> FidBlock(const std::string& version) {
  std::vector<uint8_t> out;
  AppendTag(out, "$FID");
  out.insert(out.end(), version.begin(), version.end());
  PadTo(out, 16);
  return out;
}

// The chip's regions in front of the firmware's part, as a machine with a flash descriptor
// keeps them: the descriptor signature where readers of whole-chip images look for it, the
// rest a filler that is neither erased flash nor zeros, so that a copy of the firmware that
// took bytes from here, or left them out, shows it.
void FillForeignRegions(std::span<uint8_t> below) {
  std::fill(below.begin(), below.end(), uint8_t{0x5A});
  static constexpr uint8_t kDescriptorSignature[] = {0x5A, 0xA5, 0xF0, 0x0F};
  if (below.size() >= 16 + sizeof kDescriptorSignature) {
    std::memcpy(below.data() + 16, kDescriptorSignature, sizeof kDescriptorSignature);
  }
}

}  // namespace

const Guid& Ffs2Guid() {
  static const Guid g = core::GuidLiteral("8C8CE578-8A3D-4F1C-9935-896185C32DD3");
  return g;
}
const Guid& NvDataGuid() {
  static const Guid g = core::GuidLiteral("FFF12B8D-7696-4C8B-A985-2747075B4F50");
  return g;
}
const Guid& FidFileGuid() {
  static const Guid g = core::GuidLiteral("7E1B4F2A-93C5-4D8E-A06B-2C9F51D3E8A4");
  return g;
}
const Guid& IdentityFileGuid() {
  static const Guid g = core::GuidLiteral("30ACC954-36FF-4C09-B2F5-DFDDAB7002A5");
  return g;
}
Guid MachineVolumeName(uint8_t systemId, uint16_t extendedId) {
  Guid g = core::GuidLiteral("859A989A-65CD-4023-90F2-BE0E70000000");
  g.data4[5] = systemId;
  g.data4[6] = static_cast<uint8_t>(extendedId >> 8);
  g.data4[7] = static_cast<uint8_t>(extendedId);
  return g;
}

Guid RomHoleName(unsigned index) {
  Guid g = core::GuidLiteral("05CA01FC-0FC1-11DC-9011-00173153EBA8");
  g.data1 += index;
  return g;
}

std::vector<RomHole> FindRomHoles(std::span<const uint8_t> image) {
  std::array<std::array<uint8_t, 16>, kMaxRomHoles> names{};
  for (unsigned i = 0; i < kMaxRomHoles; ++i) RomHoleName(i).WriteTo(names[i]);
  std::vector<RomHole> holes;
  for (size_t at = 0; at + kFileHeaderLength <= image.size(); at += kSectorSize) {
    const uint8_t* h = image.data() + at;
    const bool named = std::any_of(names.begin(), names.end(),
                                   [&](const auto& n) { return std::memcmp(h, n.data(), n.size()) == 0; });
    const uint32_t size = h[20] | (h[21] << 8) | (uint32_t{h[22]} << 16);
    if (named && size >= kFileHeaderLength && size <= image.size() - at) {
      holes.push_back({static_cast<uint32_t>(at), size});
    }
  }
  return holes;
}

uint16_t VolumeHeaderSum(std::span<const uint8_t> header) {
  return core::Sum16(header.first(std::min<size_t>(64, header.size())));
}

std::optional<ImageIdentity> ReadImageIdentity(std::span<const uint8_t> image) {
  std::array<uint8_t, 16> name{};
  IdentityFileGuid().WriteTo(name);
  // Files start on 8-byte boundaries of volumes that start on sectors.
  for (size_t at = 0; at + kFileHeaderLength <= image.size(); at += 8) {
    const uint8_t* h = image.data() + at;
    if (std::memcmp(h, name.data(), name.size()) != 0) continue;
    const size_t size = h[20] | (h[21] << 8) | (size_t{h[22]} << 16);
    if (size < kFileHeaderLength || size > image.size() - at) continue;
    const std::span<const uint8_t> body = image.subspan(at + kFileHeaderLength, size - kFileHeaderLength);
    const auto find = [&](const char* tag, size_t need) -> const uint8_t* {
      for (size_t i = 0; i + need <= body.size(); ++i) {
        if (std::memcmp(body.data() + i, tag, 4) == 0) return body.data() + i;
      }
      return nullptr;
    };
    const uint8_t* bv = find("$BV#", 10);
    const uint8_t* kor = find("$KOR", 12);
    const uint8_t* di = find("$DI$", 6);
    if (bv == nullptr || kor == nullptr) return std::nullopt;
    ImageIdentity id;
    id.version.assign(reinterpret_cast<const char*>(bv + 7), 3);
    id.extendedId = core::LoadLe16(kor + 4);
    id.systemId = kor[9];
    const uint8_t* end = body.data() + body.size();
    for (const uint8_t* n = kor + 12; n < end && *n != 0;) {
      const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(n, 0, static_cast<size_t>(end - n)));
      if (zero == nullptr) return std::nullopt;
      id.names.emplace_back(reinterpret_cast<const char*>(n), static_cast<size_t>(zero - n));
      n = zero + 1;
    }
    for (const uint8_t* e = di ? di + 4 : end; e + 2 <= end && core::LoadLe16(e) != 0; e += 2) {
      id.extensionIds.push_back(core::LoadLe16(e));
    }
    return id;
  }
  return std::nullopt;
}

RomOptions RunningRomOptions(const Profile& p) {
  RomOptions o;
  o.version = p.identity.version;
  o.systemId = p.identity.systemId;
  o.extendedId = p.identity.extendedId;
  o.extensionIds = p.identity.extensionIds;
  o.names = p.identity.names;
  o.ecVersion = p.ec.version;
  return o;
}

std::optional<std::string> NextVersion(const std::string& v) {
  if (v.size() != 3 || v[1] < '0' || v[1] > '9' || v[2] < '0' || v[2] > '9') return std::nullopt;
  const int n = (v[1] - '0') * 10 + (v[2] - '0') + 1;
  if (n > 99) return std::nullopt;
  std::string next = v;
  next[1] = static_cast<char>('0' + n / 10);
  next[2] = static_cast<char>('0' + n % 10);
  return next;
}

std::vector<uint8_t> IdentityBlocks(const RomOptions& o, uint32_t imageSize) {
  std::vector<uint8_t> out;
  AppendTag(out, "KORV");
  PadTo(out, 16);
  AppendVersionBlock(out, o.version);
  AppendTag(out, "$DI$");
  for (uint16_t id : o.extensionIds) AppendLe16(out, id);
  AppendLe16(out, 0);
  PadTo(out, 16);
  AppendKorBlock(out, o.extendedId, o.systemId, o.names);
  AppendTag(out, "$SIZ");
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(imageSize >> (8 * i)));
  PadTo(out, 16);
  return out;
}

std::vector<uint8_t> RunningIdentityBlocks(const IdentityProfile& id) {
  std::vector<uint8_t> out;
  AppendVersionBlock(out, id.version);
  AppendKorBlock(out, id.extendedId, id.systemId, id.names);
  return out;
}

RomResult BuildRomImage(const Profile& p, const RomOptions& o) {
  RomResult result;
  if (o.version.size() != 3) {
    result.error = "the version must have three characters";
    return result;
  }
  if (o.holes > kMaxRomHoles) {
    result.error = core::Format("at most %u ROM holes", kMaxRomHoles);
    return result;
  }
  if (o.names.empty()) {
    result.error = "the image needs at least one model name";
    return result;
  }
  std::vector<uint8_t> image(p.flash.size, 0xFF);
  FillForeignRegions(std::span<uint8_t>(image).first(std::min(p.flash.base, p.flash.size)));
  Random rng(o.seed);
  const std::vector<Run> runs = RunsOf(p.flash.blocks);
  const bool hasMain = std::any_of(runs.begin(), runs.end(), [](const Run& r) { return r.type == 1; });
  const bool hasBoot = std::any_of(runs.begin(), runs.end(), [](const Run& r) { return r.type == 0; });
  unsigned mainHoles = hasBoot ? (o.holes + 1) / 2 : o.holes;
  unsigned bootHoles = o.holes - mainHoles;
  if (!hasMain) std::swap(mainHoles, bootHoles);
  if ((mainHoles && !hasMain) || (bootHoles && !hasBoot)) {
    result.error = "ROM holes need a main BIOS or boot block";
    return result;
  }
  unsigned nextHole = 0;
  bool identityPlaced = false;
  bool smbiosPlaced = false;
  const EcLayout ec = EcLayoutOf(p);

  for (const Run& run : runs) {
    std::span<uint8_t> area(image.data() + run.start, run.size);
    std::vector<FfsFile> files;
    auto addHoles = [&](unsigned count) {
      for (unsigned i = 0; i < count; ++i) files.push_back({RomHoleName(nextHole++), RandomBytes(rng, kSectorSize - kFileHeaderLength), true});
    };
    bool ok = true;
    switch (run.type) {
      case 1: {  // main BIOS
        const bool holdsIdentity = !identityPlaced;
        if (holdsIdentity) {
          files.push_back({IdentityFileGuid(), IdentityBlocks(o, p.flash.size)});
          identityPlaced = true;
          if (o.fileName) files.push_back({*o.fileName, o.fileData, false, false});
          if (p.me.present && o.fidMarker) files.push_back({FidFileGuid(), FidBlock(o.version)});
        }
        addHoles(std::exchange(mainHoles, 0));
        files.push_back({rng.NextGuid(), RandomBytes(rng, std::min<uint32_t>(run.size / 4, 0x8000))});
        files.push_back({rng.NextGuid(), RandomBytes(rng, std::min<uint32_t>(run.size / 8, 0x4000))});
        ok = BuildVolume(area, run.start, Ffs2Guid(), files, rng, result,
                         holdsIdentity ? std::optional(MachineVolumeName(o.systemId, o.extendedId)) : std::nullopt);
        break;
      }
      case 0:  // boot block
        if (!smbiosPlaced) {
          files.push_back({rng.NextGuid(), SmbiosArea(rng), false, false});
          smbiosPlaced = true;
        }
        addHoles(std::exchange(bootHoles, 0));
        files.push_back({rng.NextGuid(), RandomBytes(rng, std::min<uint32_t>(run.size / 8, 0x2000))});
        ok = BuildVolume(area, run.start, Ffs2Guid(), files, rng, result);
        break;
      case 2:  // NVRAM: a volume, but not a file system
        WriteVolumeHeader(area, NvDataGuid());
        result.volumes.push_back({run.start, run.size, NvDataGuid(), std::nullopt});
        break;
      case 3:  // EC firmware: raw, with its version word
        rng.Fill(area);
        break;
      default:
        if (run.type >= 0x80) {
          files.push_back({rng.NextGuid(), RandomBytes(rng, std::min<uint32_t>(run.size / 4, 0x2000))});
          ok = BuildVolume(area, run.start, Ffs2Guid(), files, rng, result);
        }
        break;
    }
    if (!ok) {
      return RomResult{{}, {}, {}, core::Format("the files do not fit the block run at 0x%X", run.start)};
    }
  }
  if (ec.present && core::InRange(image.size(), uint64_t{ec.start} + ec.versionOffset, 4)) {
    core::StoreLe32(image.data() + ec.start + ec.versionOffset, o.ecVersion);
  }
  result.image = std::move(image);
  return result;
}

std::vector<uint8_t> MeFront(const Profile& p, uint64_t seed) {
  static constexpr uint8_t kDescriptorSignature[] = {0x5A, 0xA5, 0xF0, 0x0F};
  if (!p.me.present) return {};
  // A stream of its own, so that the front is not the firmware image's filler over again.
  Random rng(seed ^ 0x4D45464C4C455221ull);
  std::vector<uint8_t> front = FillerBytes(rng, p.me.span);
  std::fill_n(front.begin(), 16, uint8_t{0xFF});
  std::memcpy(front.data() + 16, kDescriptorSignature, sizeof kDescriptorSignature);
  return front;
}

RomResult BuildChipImage(const Profile& p, const RomOptions& o) {
  RomResult firmware = BuildRomImage(p, o);
  if (!firmware.error.empty() || !p.me.present) return firmware;
  std::vector<uint8_t> chip = MeFront(p, o.seed);
  const uint32_t base = static_cast<uint32_t>(chip.size());
  chip.insert(chip.end(), firmware.image.begin(), firmware.image.end());
  firmware.image = std::move(chip);
  for (RomVolume& v : firmware.volumes) v.offset += base;
  for (RomFile& f : firmware.files) f.offset += base;
  return firmware;
}

std::vector<uint8_t> EcFirmwareImage(uint32_t size, uint64_t seed) {
  Random rng(seed ^ 0x4543464C41534821ull);
  return RandomBytes(rng, size);
}

}  // namespace nox::sim
