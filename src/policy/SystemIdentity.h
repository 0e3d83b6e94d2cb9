// Who the running machine is and whom a ROM image is made for: versions, model codes and
// model names, read from the marker blocks the firmware keeps in memory (or hands over
// through an OEM call) and from the same blocks inside an image.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "ui/Ui.h"

namespace nox::policy {

// A model name: 20 bytes taken from a marker block into a zeroed 40-byte field.
struct ModelName {
  static constexpr size_t kCopied = 20;
  std::array<char, 40> bytes{};

  std::string_view Text() const;
  void Clear() { bytes.fill(0); }
  // Copies up to 20 bytes from `source` at `offset`; what lies past the source reads as zero.
  void CopyFrom(std::span<const uint8_t> source, size_t offset);
  bool operator==(const ModelName& other) const { return Text() == other.Text(); }
};

using Version = std::array<char, 3>;

// The ROM side of the identity, rebuilt for every candidate image.
struct RomIdentity {
  static constexpr size_t kListEntries = 12;
  // One entry always stays zero so that the list is terminated.
  static constexpr size_t kMaxListIds = kListEntries - 1;

  Version version{};
  uint8_t systemId = 0;
  uint16_t extendedId = 0;
  std::array<uint16_t, kListEntries> extensionList{};
  ModelName systemName;
};

struct SystemIdentity {
  static constexpr uint8_t kNoNameIndex = 255;
  static constexpr uint8_t kExtendedIdInForce = 0xFE;

  // The running machine; the found flags stay set for the life of the process.
  Version currentVersion{};
  uint8_t currentSystemId = 0;
  uint16_t currentExtendedId = 0;
  ModelName currentSystemName;
  bool versionFound = false;
  bool idsFound = false;
  bool nameFound = false;

  RomIdentity rom;
  uint32_t romDeclaredSize = 0;  // "$SIZ", whole-image mode only
  uint8_t systemNameIndex = kNoNameIndex;

  RomIdentity savedFirstCandidate;

  void SaveFirstCandidate() { savedFirstCandidate = rom; }
  void RestoreFirstCandidate() { rom = savedFirstCandidate; }
};

// The IDs agree: with 0xFE the extended IDs decide, otherwise the system ID byte alone.
bool IdMatches(const SystemIdentity& identity);
// The running machine's extended ID is one of the image's further extended IDs.
bool ExtensionListHolds(const SystemIdentity& identity);

// Searches for the markers that a ROM image carries. Normal mode reads the image's identity
// file region [regionOffset, regionOffset + regionSize); whole-image mode reads every byte
// of the image and also honours "$SIZ". Never reads outside `image`.
enum class RomScanMode { kIdentityFile, kWholeImage };
void ReadRomIdentity(SystemIdentity& identity, std::span<const uint8_t> image, RomScanMode mode,
                     size_t regionOffset = 0, size_t regionSize = 0);

// The identity area that the firmware fills on request (4 KiB) and its model-name area:
// only what is not known yet is taken from them.
void ReadIdentityArea(SystemIdentity& identity, std::span<const uint8_t> area,
                      std::span<const uint8_t> nameArea);
// The markers in the firmware's F segment: "$BV#", "$KOR" from where "$BV#" was found, and
// (when `withSystemName`) the "Korv System" block. Overwrites what it finds.
void ReadSegmentMarkers(SystemIdentity& identity, std::span<const uint8_t> segment, bool withSystemName);

// The version as text; characters never read (zero) are left out.
std::string VersionText(const Version& version);

// The six values of the unsupported-system dialog.
ui::KorvInfo MakeKorvInfo(const SystemIdentity& identity);

}  // namespace nox::policy
