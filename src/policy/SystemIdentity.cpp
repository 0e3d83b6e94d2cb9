#include "policy/SystemIdentity.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/Bytes.h"
#include "core/CText.h"
#include "core/Format.h"

namespace nox::policy {
namespace {

// Marker fields may sit at the very end of the searched range; bytes past it read as zero,
// the way a zero-padded copy of the range would give them.
uint8_t ByteAt(std::span<const uint8_t> range, size_t at) { return at < range.size() ? range[at] : 0; }
uint16_t Le16At(std::span<const uint8_t> range, size_t at) {
  return static_cast<uint16_t>(ByteAt(range, at) | (ByteAt(range, at + 1) << 8));
}
uint32_t Le32At(std::span<const uint8_t> range, size_t at) {
  return static_cast<uint32_t>(Le16At(range, at)) | (static_cast<uint32_t>(Le16At(range, at + 2)) << 16);
}

bool TagAt(std::span<const uint8_t> range, size_t at, std::string_view tag) {
  return core::InRange(range.size(), at, tag.size()) && std::memcmp(range.data() + at, tag.data(), tag.size()) == 0;
}

// First offset in [from, last] where `tag` starts.
std::optional<size_t> FindTag(std::span<const uint8_t> range, std::string_view tag, size_t from, size_t last) {
  for (size_t at = from; at <= last && at < range.size(); ++at) {
    if (TagAt(range, at, tag)) return at;
  }
  return std::nullopt;
}

Version VersionAt(std::span<const uint8_t> range, size_t tagAt) {
  return {static_cast<char>(ByteAt(range, tagAt + 7)), static_cast<char>(ByteAt(range, tagAt + 8)),
          static_cast<char>(ByteAt(range, tagAt + 9))};
}

constexpr std::string_view kVersionTag = "$BV#";
constexpr std::string_view kIdTag = "$KOR";
constexpr std::string_view kListTag = "$DI$";
constexpr std::string_view kSizeTag = "$SIZ";
constexpr std::string_view kImageTag = "KORV";
constexpr std::string_view kSystemTag = "Korv System";
constexpr size_t kNameListOffset = 12;

// Chooses the model name of a "$KOR" block by the firmware's name index: names are
// NUL-terminated one after another and an empty one ends the list; an index past the end
// falls back to the first name.
void ChooseName(ModelName& name, std::span<const uint8_t> range, size_t listAt, uint8_t index) {
  name.Clear();
  name.CopyFrom(range, listAt);
  if (index == SystemIdentity::kNoNameIndex || index <= 1) return;
  const ModelName first = name;
  size_t at = listAt;
  for (unsigned number = 2; number <= index; ++number) {
    while (at < range.size() && range[at] != 0) ++at;
    ++at;  // past the terminating zero (or the end of the range, which reads as zero)
    if (ByteAt(range, at) == 0) {
      name = first;
      return;
    }
    name.Clear();
    name.CopyFrom(range, at);
  }
}

}  // namespace

std::string_view ModelName::Text() const { return core::BoundedCString(std::span<const char>(bytes)); }

void ModelName::CopyFrom(std::span<const uint8_t> source, size_t offset) {
  for (size_t i = 0; i < kCopied; ++i) bytes[i] = static_cast<char>(ByteAt(source, offset + i));
}

bool IdMatches(const SystemIdentity& id) {
  if (id.currentSystemId != SystemIdentity::kExtendedIdInForce) return id.currentSystemId == id.rom.systemId;
  return id.rom.systemId == SystemIdentity::kExtendedIdInForce && id.currentExtendedId == id.rom.extendedId;
}

bool ExtensionListHolds(const SystemIdentity& id) {
  for (uint16_t entry : id.rom.extensionList) {
    if (entry == 0) return false;
    if (entry == id.currentExtendedId) return true;
  }
  return false;
}

void ReadRomIdentity(SystemIdentity& id, std::span<const uint8_t> image, RomScanMode mode, size_t regionOffset,
                     size_t regionSize) {
  RomIdentity& rom = id.rom;
  rom.version = {};
  rom.systemId = 0;
  rom.extendedId = 0;
  rom.extensionList.fill(0);
  // A candidate without a "$KOR" block must not inherit the previous candidate's name.
  rom.systemName.Clear();

  const bool whole = mode == RomScanMode::kWholeImage;
  std::span<const uint8_t> range;
  if (whole) {
    range = image;
  } else if (regionSize != 0 && regionOffset < image.size()) {
    range = image.subspan(regionOffset, std::min(regionSize, image.size() - regionOffset));
  }

  bool seenImage = false, seenVersion = false, seenList = false, seenIds = false, seenSize = false;
  size_t listLength = 0;
  for (size_t at = 0; at + 4 <= range.size(); ++at) {
    if (TagAt(range, at, kImageTag)) {
      seenImage = true;
    } else if (TagAt(range, at, kVersionTag)) {
      rom.version = VersionAt(range, at);
      seenVersion = true;
    } else if (TagAt(range, at, kListTag)) {
      // A further list continues this one, over its terminating zero; IDs beyond what the
      // list holds are dropped, and its last entry always stays zero.
      for (size_t k = at + 4;; k += 2) {
        const uint16_t value = Le16At(range, k);
        if (value == 0) break;
        if (listLength < RomIdentity::kMaxListIds) rom.extensionList[listLength++] = value;
      }
      seenList = true;
    } else if (TagAt(range, at, kIdTag)) {
      rom.extendedId = Le16At(range, at + 4);
      rom.systemId = ByteAt(range, at + 9);
      if (whole) {
        rom.systemName.Clear();
        rom.systemName.CopyFrom(range, at + kNameListOffset);
      } else {
        ChooseName(rom.systemName, range, at + kNameListOffset, id.systemNameIndex);
      }
      seenIds = true;
    } else if (whole && TagAt(range, at, kSizeTag)) {
      // The first declared size counts; a later match is taken for data that happens to
      // hold the same four bytes.
      if (!seenSize) id.romDeclaredSize = Le32At(range, at + 4);
      seenSize = true;
    } else {
      continue;
    }
    if (seenImage && seenVersion && seenList && seenIds && (!whole || seenSize)) break;
  }
}

void ReadIdentityArea(SystemIdentity& id, std::span<const uint8_t> area, std::span<const uint8_t> nameArea) {
  constexpr size_t kLastVersionOffset = 4091;
  constexpr size_t kLastIdOffset = 4090;
  size_t idsFrom = 0;
  if (!id.versionFound) {
    if (const auto at = FindTag(area, kVersionTag, 0, kLastVersionOffset)) {
      id.currentVersion = VersionAt(area, *at);
      id.versionFound = true;
      idsFrom = *at;
    }
  }
  if (!id.idsFound) {
    if (const auto at = FindTag(area, kIdTag, idsFrom, kLastIdOffset)) {
      id.currentExtendedId = Le16At(area, *at + 4);
      id.currentSystemId = ByteAt(area, *at + 9);
      id.idsFound = true;
    }
  }
  if (!id.nameFound) {
    id.currentSystemName.Clear();
    id.currentSystemName.CopyFrom(nameArea, 0);
    id.nameFound = true;
  }
}

void ReadSegmentMarkers(SystemIdentity& id, std::span<const uint8_t> segment, bool withSystemName) {
  constexpr size_t kLastVersionOffset = 65531;
  constexpr size_t kLastIdOffset = 65530;
  size_t idsFrom = 0;
  if (const auto at = FindTag(segment, kVersionTag, 0, kLastVersionOffset)) {
    id.currentVersion = VersionAt(segment, *at);
    id.versionFound = true;
    idsFrom = *at;
  }
  if (const auto at = FindTag(segment, kIdTag, idsFrom, kLastIdOffset)) {
    id.currentExtendedId = Le16At(segment, *at + 4);
    id.currentSystemId = ByteAt(segment, *at + 9);
    id.idsFound = true;
  }
  if (withSystemName) {
    if (const auto at = FindTag(segment, kSystemTag, 0, segment.size())) {
      id.currentSystemName.Clear();
      id.currentSystemName.CopyFrom(segment, *at + kNameListOffset);
      id.nameFound = true;
    }
  }
}

std::string VersionText(const Version& version) {
  std::string text;
  for (char c : version) {
    if (c != 0) text += c;
  }
  return text;
}

ui::KorvInfo MakeKorvInfo(const SystemIdentity& id) {
  constexpr const char* kVendor = "Korv Inc.";
  ui::KorvInfo info;
  info.romSystem = core::Format("%s %X", std::string(id.rom.systemName.Text()).c_str(), unsigned{id.rom.extendedId});
  info.romRevision = VersionText(id.rom.version);
  info.romVendor = kVendor;
  info.currentSystem =
      core::Format("%s %X", std::string(id.currentSystemName.Text()).c_str(), unsigned{id.currentExtendedId});
  info.currentRevision = VersionText(id.currentVersion);
  info.currentVendor = kVendor;
  return info;
}

}  // namespace nox::policy
