#include "platform/sim/Capsule.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/Bytes.h"
#include "core/Format.h"
#include "platform/sim/Sha256.h"

namespace nox::sim {
namespace {

using core::LoadLe16;
using core::LoadLe32;

constexpr uint32_t kSigned = 0x1;
constexpr uint16_t kSha256 = 1;
constexpr size_t kDigestAt = 32;
constexpr size_t kDigestLength = 32;
constexpr size_t kFfsHeaderLength = 24;

bool GuidAt(std::span<const uint8_t> bytes, size_t at, const core::Guid& guid) {
  if (!core::InRange(bytes.size(), at, 16)) return false;
  const auto want = guid.ToBytes();
  return std::memcmp(bytes.data() + at, want.data(), want.size()) == 0;
}

// The ranges sorted and merged, each cut to the image.
std::vector<UnsignedRange> Merged(std::vector<UnsignedRange> ranges) {
  std::sort(ranges.begin(), ranges.end(), [](const UnsignedRange& a, const UnsignedRange& b) { return a.start < b.start; });
  std::vector<UnsignedRange> out;
  for (const UnsignedRange& r : ranges) {
    if (!out.empty() && r.start <= out.back().start + out.back().length) {
      const uint64_t end = std::max<uint64_t>(uint64_t{out.back().start} + out.back().length, uint64_t{r.start} + r.length);
      out.back().length = static_cast<uint32_t>(end - out.back().start);
    } else if (r.length != 0) {
      out.push_back(r);
    }
  }
  return out;
}

Sha256::Digest Digest(std::span<const uint8_t> header, std::span<const uint8_t> image,
                      const std::vector<UnsignedRange>& ranges) {
  std::vector<uint8_t> zeroed(header.begin(), header.end());
  if (zeroed.size() >= kDigestAt + kDigestLength) std::fill_n(zeroed.begin() + kDigestAt, kDigestLength, uint8_t{0});
  Sha256 h;
  h.Update(zeroed);
  size_t at = 0;
  for (const UnsignedRange& r : Merged(ranges)) {
    h.Update(image.subspan(at, r.start - at));
    at = size_t{r.start} + r.length;
  }
  h.Update(image.subspan(at));
  return h.Final();
}

std::vector<UnsignedRange> RangesOf(std::span<const uint8_t> header, uint32_t count) {
  std::vector<UnsignedRange> ranges;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = header.data() + kCapsuleFixedLength + 8 * i;
    ranges.push_back({LoadLe32(r), LoadLe32(r + 4)});
  }
  return ranges;
}

}  // namespace

const core::Guid& CapsuleGuid() {
  static const core::Guid g = core::GuidLiteral("4A3CA68B-7723-48FB-803D-578CC1FEC44D");
  return g;
}
const core::Guid& CapsuleMarkerGuid() {
  static const core::Guid g = core::GuidLiteral("414D94AD-998D-47D2-BFCD-4E882241DE32");
  return g;
}

uint16_t CapsuleHeaderLength(size_t ranges) {
  return static_cast<uint16_t>((kCapsuleFixedLength + 8 * ranges + 15) & ~size_t{15});
}

std::vector<uint8_t> BuildCapsuleHeader(std::span<const uint8_t> image, const std::vector<UnsignedRange>& ranges,
                                         bool sign) {
  std::vector<uint8_t> h(CapsuleHeaderLength(ranges.size()), 0);
  CapsuleGuid().WriteTo(std::span<uint8_t, 16>(h.data(), 16));
  core::StoreLe32(h.data() + 16, static_cast<uint32_t>(image.size()));
  core::StoreLe32(h.data() + 20, sign ? kSigned : 0);
  core::StoreLe32(h.data() + 24, static_cast<uint32_t>(ranges.size()));
  core::StoreLe16(h.data() + 28, static_cast<uint16_t>(h.size()));
  for (size_t i = 0; i < ranges.size(); ++i) {
    core::StoreLe32(h.data() + kCapsuleFixedLength + 8 * i, ranges[i].start);
    core::StoreLe32(h.data() + kCapsuleFixedLength + 8 * i + 4, ranges[i].length);
  }
  if (sign) {
    core::StoreLe16(h.data() + 30, kSha256);
    const Sha256::Digest d = Digest(h, image, ranges);
    std::copy(d.begin(), d.end(), h.begin() + kDigestAt);
  }
  return h;
}

CapsuleVerdict CheckCapsule(std::span<const uint8_t> header, std::span<const uint8_t> image, uint32_t flashSize,
                            bool requireSigned) {
  using namespace capsule;
  const auto refuse = [](uint8_t status, std::string reason) { return CapsuleVerdict{status, std::move(reason)}; };
  if (header.size() < kCapsuleFixedLength || !GuidAt(header, 0, CapsuleGuid())) {
    return refuse(kHeaderInvalid, "no capsule GUID at the start of the header");
  }
  const uint32_t size = LoadLe32(header.data() + 16);
  const uint32_t flags = LoadLe32(header.data() + 20);
  const uint32_t count = LoadLe32(header.data() + 24);
  const uint16_t length = LoadLe16(header.data() + 28);
  const uint16_t kind = LoadLe16(header.data() + 30);
  if (count > kMaxUnsignedRanges || length != CapsuleHeaderLength(count)) {
    return refuse(kHeaderInvalid, core::Format("header length %u does not hold %u unsigned ranges", length, count));
  }
  if (header.size() < length) return refuse(kHeaderInvalid, "header cut short");
  header = header.first(length);
  if (flags & ~kSigned) return refuse(kHeaderInvalid, core::Format("unknown header flags 0x%X", flags));
  if (size != flashSize) {
    return refuse(kDoesNotFit, core::Format("image of %u bytes for a flash part of %u", size, flashSize));
  }
  if (image.size() != size) {
    return refuse(kDoesNotFit, core::Format("the header says %u bytes, the image has %u", size,
                                            static_cast<unsigned>(image.size())));
  }
  const std::vector<UnsignedRange> ranges = RangesOf(header, count);
  for (const UnsignedRange& r : ranges) {
    if (!core::InRange(size, r.start, r.length)) {
      return refuse(kHeaderInvalid, core::Format("unsigned range 0x%X+0x%X outside the image", r.start, r.length));
    }
  }
  if (!(flags & kSigned)) {
    if (kind != 0) return refuse(kHeaderInvalid, "digest kind without the signed flag");
    return requireSigned ? refuse(kUnsignedRefused, "unsigned image refused") : CapsuleVerdict{};
  }
  if (kind != kSha256) return refuse(kHeaderInvalid, core::Format("unknown digest kind %u", kind));
  const Sha256::Digest d = Digest(header, image, ranges);
  if (!std::equal(d.begin(), d.end(), header.begin() + kDigestAt)) return refuse(kDamaged, "digest mismatch: image damaged");
  return {};
}

std::optional<CapsuleParts> LocateCapsule(std::span<const uint8_t> file) {
  const auto headerAt = [&](size_t at) -> std::optional<std::span<const uint8_t>> {
    if (!core::InRange(file.size(), at, kCapsuleFixedLength)) return std::nullopt;
    const uint16_t length = LoadLe16(file.data() + at + 28);
    if (length < kCapsuleFixedLength || !core::InRange(file.size(), at, length)) return std::nullopt;
    return file.subspan(at, length);
  };
  if (GuidAt(file, 0, CapsuleGuid())) {
    auto header = headerAt(0);
    if (!header) return std::nullopt;
    return CapsuleParts{*header, file.subspan(header->size())};
  }
  const auto marker = CapsuleMarkerGuid().ToBytes();
  for (size_t at = 0; at + marker.size() <= file.size(); ++at) {
    if (std::memcmp(file.data() + at, marker.data(), marker.size()) != 0) continue;
    const size_t from = at + marker.size();
    for (size_t g = from; g < from + kCapsuleSearchWindow && g + 16 <= file.size(); ++g) {
      if (!GuidAt(file, g, CapsuleGuid())) continue;
      auto header = headerAt(g);
      if (!header) return std::nullopt;
      return CapsuleParts{*header, file};
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::vector<UnsignedRange> MutableRanges(const Profile& profile, std::span<const uint8_t> image) {
  std::vector<UnsignedRange> ranges;
  for (const RomHole& h : FindRomHoles(image)) ranges.push_back({h.start, h.size});
  for (const BlockEntry& b : profile.flash.blocks) {
    if (b.type != 0 || !core::InRange(image.size(), b.start, b.size)) continue;
    const auto block = image.subspan(b.start, b.size);
    for (size_t i = 0; i + 8 <= block.size(); ++i) {
      if (std::memcmp(block.data() + i, "BSA_", 4) != 0) continue;
      const uint64_t length = 8 + uint64_t{LoadLe32(block.data() + i + 4)};
      if (length <= block.size() - i) ranges.push_back({static_cast<uint32_t>(b.start + i), static_cast<uint32_t>(length)});
      break;
    }
  }
  std::sort(ranges.begin(), ranges.end(), [](const UnsignedRange& a, const UnsignedRange& b) { return a.start < b.start; });
  return ranges;
}

RomResult BuildCapsuleImage(const Profile& profile, RomOptions options, const CapsuleOptions& capsule) {
  const bool inside = capsule.form != CapsuleForm::Leading;
  RomResult rom;
  std::vector<UnsignedRange> ranges;
  if (inside) options.fileName = CapsuleMarkerGuid();
  // The embedded header's length depends on how many ranges it lists, one of which is the
  // file that holds it: lay the image out again until the two agree.
  size_t expected = 0;
  bool written = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const size_t length = capsule.form == CapsuleForm::MarkerOnly ? kCapsuleFixedLength : CapsuleHeaderLength(expected);
    if (inside) options.fileData.assign(length, 0);
    rom = BuildRomImage(profile, options);
    if (!rom.error.empty()) return rom;
    ranges = MutableRanges(profile, rom.image);
    if (!inside) break;
    const auto file = std::find_if(rom.files.begin(), rom.files.end(),
                                   [](const RomFile& f) { return f.name == CapsuleMarkerGuid(); });
    if (file == rom.files.end()) return RomResult{{}, {}, {}, "the image has no main BIOS to carry the capsule header"};
    ranges.push_back({file->offset, file->size});
    std::sort(ranges.begin(), ranges.end(), [](const UnsignedRange& a, const UnsignedRange& b) { return a.start < b.start; });
    if (capsule.form == CapsuleForm::MarkerOnly) break;
    if (ranges.size() == expected) {
      const std::vector<uint8_t> header = BuildCapsuleHeader(rom.image, ranges, capsule.sign);
      std::copy(header.begin(), header.end(), rom.image.begin() + file->offset + kFfsHeaderLength);
      written = true;
      break;
    }
    expected = ranges.size();
  }
  if (inside && capsule.form != CapsuleForm::MarkerOnly && !written) {
    return RomResult{{}, {}, {}, "the capsule header's ranges do not settle"};
  }
  std::vector<uint8_t> header;
  if (capsule.form == CapsuleForm::Leading) header = BuildCapsuleHeader(rom.image, ranges, capsule.sign);
  if (capsule.damage) {
    // A byte in the middle of the main BIOS, stepped on until no range leaves it out.
    uint32_t at = 0;
    for (const BlockEntry& b : profile.flash.blocks) {
      if (b.type == 1) at = b.start + b.size / 2;
    }
    const auto unsignedAt = [&](uint32_t a) {
      return std::any_of(ranges.begin(), ranges.end(),
                         [&](const UnsignedRange& r) { return a >= r.start && a - r.start < r.length; });
    };
    while (unsignedAt(at)) at += 4096;
    rom.image.at(at) ^= 0x01;
  }
  rom.image.insert(rom.image.begin(), header.begin(), header.end());
  return rom;
}

}  // namespace nox::sim
