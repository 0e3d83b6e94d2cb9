// The Information page apart from any window: what the program knows of the running system,
// its firmware and the ROM file the user opened, as label and value texts with their
// tool-tips.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nox::ui {

namespace info_id {
inline constexpr int kOs = 1037;
inline constexpr int kBiosSize = 1038;
inline constexpr int kMainBiosSize = 1039;
inline constexpr int kBootBlockSize = 1040;
inline constexpr int kNvramSize = 1041;
inline constexpr int kCoreVersion = 1042;
inline constexpr int kProjectVersion = 1043;
inline constexpr int kFirmwareId = 1044;
inline constexpr int kFirmwareGuid = 1045;
inline constexpr int kInputRomFile = 1046;
inline constexpr int kFileRomId = 1047;
inline constexpr int kFileRomGuid = 1048;
}  // namespace info_id

inline constexpr const char* kUnknown = "Unknown";
inline constexpr const char* kNull = "NULL";

// The operating system's version query: platform (0 Win32s, 1 Windows 9x, 2 NT), major and
// minor version.
struct OsVersion {
  uint32_t platform = 2;
  uint32_t major = 0;
  uint32_t minor = 0;
};
std::string OsName(const OsVersion& version);

using GuidBytes = std::array<uint8_t, 16>;
// "%08lx-%04x-%04x-%02x%02x%02x%02x%02x%02x%02x%02x" from the GUID's 16 bytes, the first
// three fields little-endian.
std::string FormatGuid(const GuidBytes& guid);

// A firmware's identity as the page shows it; absent parts show "NULL" or "Unknown".
struct FirmwareIdentityText {
  std::optional<std::string> coreVersion;
  std::optional<std::string> projectVersion;
  std::optional<std::string> id;
  std::optional<GuidBytes> guid;
};

struct InformationFacts {
  OsVersion os;
  uint32_t biosSize = 0;
  uint32_t mainBiosSize = 0;
  uint32_t bootBlockSize = 0;
  uint32_t nvramSize = 0;
  FirmwareIdentityText running;
};

struct InfoField {
  int id;
  const char* label;
  std::string value;
};

// The page's tool-tip strings by control id; ids with a string but no control get none.
struct InfoToolTip {
  int id;
  const char* text;
};
std::span<const InfoToolTip> InformationToolTips();
// The tool-tips the page registers: every string whose id has a control on the page.
std::vector<InfoToolTip> RegisteredInformationToolTips();

class InformationPageModel {
 public:
  InformationPageModel();

  // The page starts: every value field from the facts.
  void Fill(const InformationFacts& facts);
  // A ROM file is being opened: its three fields go back to "Unknown".
  void ForgetRomFile();
  // The file was loaded and fits: its path, and its identity read the same way as the
  // running firmware's.
  void SetRomFile(const std::string& path, const FirmwareIdentityText& identity);
  // The file could not be loaded or does not fit: the path field is emptied.
  void ClearRomFilePath();

  const std::vector<InfoField>& Fields() const { return fields_; }
  const std::string& Value(int id) const;

 private:
  void Set(int id, std::string value);

  std::vector<InfoField> fields_;
};

}  // namespace nox::ui
