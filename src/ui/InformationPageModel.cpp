#include "ui/InformationPageModel.h"

#include <utility>

#include "core/Format.h"
#include "core/Guid.h"

namespace nox::ui {
namespace {

constexpr InfoToolTip kToolTips[] = {
    {info_id::kOs, "Current Operating System."},
    {info_id::kBiosSize, "BIOS size in bytes."},
    {info_id::kMainBiosSize, "BIOS Main Bios size in bytes."},
    {info_id::kBootBlockSize, "BIOS BootBlock size in bytes."},
    {info_id::kNvramSize, "BIOS Non-Volatile-RAM size in bytes."},
    {info_id::kCoreVersion, "BIOS core version."},
    {info_id::kProjectVersion, "BIOS project version."},
    {info_id::kFirmwareId, "BIOS ID of current system."},
    {info_id::kFirmwareGuid, "BIOS GUID of current system."},
    {info_id::kInputRomFile, "BIOS file input rom file."},
    {info_id::kFileRomId, "BIOS ID of input rom file."},
    {info_id::kFileRomGuid, "BIOS GUID of input rom file."},
    // The string table carries one more text than the page has controls; it stays unused.
    {1049, "Information of input rom file."},
};

struct FieldDef {
  int id;
  const char* label;
};
constexpr FieldDef kFields[] = {
    {info_id::kOs, "OS:"},
    {info_id::kBiosSize, "Bios Size:"},
    {info_id::kMainBiosSize, "MainBios Size:"},
    {info_id::kBootBlockSize, "BootBlock Size:"},
    {info_id::kNvramSize, "NVRAM Size:"},
    {info_id::kCoreVersion, "Core Version:"},
    {info_id::kProjectVersion, "Project Version:"},
    {info_id::kFirmwareId, "Firmware ID:"},
    {info_id::kFirmwareGuid, "Firmware GUID:"},
    {info_id::kInputRomFile, "Input Rom File:"},
    {info_id::kFileRomId, "File Rom ID:"},
    {info_id::kFileRomGuid, "File Rom GUID:"},
};

bool HasControl(int id) {
  for (const FieldDef& f : kFields) {
    if (f.id == id) return true;
  }
  return false;
}

std::string SizeText(uint32_t size) {
  // Unsigned, so that a part of 2 GiB or more is not shown with a minus sign.
  return core::Format("%u bytes", size);
}

}  // namespace

std::string OsName(const OsVersion& v) {
  switch (v.platform) {
    case 0: return "Windows 3.1";
    case 1:
      if (v.minor == 0) return "Windows 95";
      if (v.minor == 10) return "Windows 98";
      return "Windows ME";
    case 2:
      if (v.major == 4 && v.minor == 0) return "Windows NT";
      if (v.major == 5 && v.minor == 0) return "Windows 2000";
      if (v.major == 5 && v.minor == 1) return "Windows XP";
      if (v.major == 5 && v.minor == 2) return "Windows 2003";
      if (v.major == 6 && v.minor == 0) return "Windows Vista/Longhorn";
      if (v.major == 6 && v.minor == 1) return "Windows 7";
      return kUnknown;
    default: return kUnknown;
  }
}

std::string FormatGuid(const GuidBytes& guid) { return core::Guid::FromBytes(guid)->ToCompactString(); }

std::span<const InfoToolTip> InformationToolTips() { return kToolTips; }

std::vector<InfoToolTip> RegisteredInformationToolTips() {
  std::vector<InfoToolTip> out;
  for (const InfoToolTip& t : kToolTips) {
    if (HasControl(t.id)) out.push_back(t);
  }
  return out;
}

InformationPageModel::InformationPageModel() {
  for (const FieldDef& f : kFields) fields_.push_back({f.id, f.label, kUnknown});
}

void InformationPageModel::Fill(const InformationFacts& facts) {
  Set(info_id::kOs, OsName(facts.os));
  Set(info_id::kBiosSize, SizeText(facts.biosSize));
  Set(info_id::kMainBiosSize, SizeText(facts.mainBiosSize));
  Set(info_id::kBootBlockSize, SizeText(facts.bootBlockSize));
  Set(info_id::kNvramSize, SizeText(facts.nvramSize));
  Set(info_id::kCoreVersion, facts.running.coreVersion.value_or(kUnknown));
  Set(info_id::kProjectVersion, facts.running.projectVersion.value_or(kUnknown));
  Set(info_id::kFirmwareId, facts.running.id.value_or(kNull));
  Set(info_id::kFirmwareGuid, facts.running.guid ? FormatGuid(*facts.running.guid) : kNull);
}

void InformationPageModel::ForgetRomFile() {
  for (const int id : {info_id::kInputRomFile, info_id::kFileRomId, info_id::kFileRomGuid}) Set(id, kUnknown);
}

void InformationPageModel::SetRomFile(const std::string& path, const FirmwareIdentityText& identity) {
  Set(info_id::kInputRomFile, path);
  Set(info_id::kFileRomId, identity.id.value_or(kNull));
  Set(info_id::kFileRomGuid, identity.guid ? FormatGuid(*identity.guid) : kNull);
}

void InformationPageModel::ClearRomFilePath() { Set(info_id::kInputRomFile, ""); }

const std::string& InformationPageModel::Value(int id) const {
  static const std::string kNone;
  for (const InfoField& f : fields_) {
    if (f.id == id) return f.value;
  }
  return kNone;
}

void InformationPageModel::Set(int id, std::string value) {
  for (InfoField& f : fields_) {
    if (f.id == id) f.value = std::move(value);
  }
}

}  // namespace nox::ui
