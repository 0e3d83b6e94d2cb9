#include "app/IdentityText.h"

#include "core/Format.h"

namespace nox::app {

namespace {

// "KX300 (ID FE, extended ID 1234)": the model name when there is one, and the two codes
// the identity check compares. None when the firmware carries no "$KOR" block at all.
std::optional<std::string> IdText(uint8_t systemId, uint16_t extendedId, std::string_view name) {
  if (systemId == 0 && extendedId == 0 && name.empty()) return std::nullopt;
  std::string text = core::Format("(ID %02X, extended ID %04X)", systemId, extendedId);
  return name.empty() ? text : std::string(name) + " " + text;
}

std::optional<std::string> VersionOf(const policy::Version& version) {
  std::string text = policy::VersionText(version);
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

ui::FirmwareIdentityText RunningIdentityText(const Session& s) {
  const policy::SystemIdentity& id = s.identity;
  ui::FirmwareIdentityText out;
  // Nothing the firmware hands this program names a core version.
  if (id.versionFound) out.projectVersion = VersionOf(id.currentVersion);
  out.id = IdText(id.currentSystemId, id.currentExtendedId, id.currentSystemName.Text());
  return out;
}

ui::FirmwareIdentityText FileIdentityText(const Session& s) {
  const policy::RomIdentity& rom = s.identity.rom;
  ui::FirmwareIdentityText out;
  out.projectVersion = VersionOf(rom.version);
  out.id = IdText(rom.systemId, rom.extendedId, rom.systemName.Text());
  // The name of the firmware volume that holds the identity: the same for every image of
  // one machine, and another for other machines.
  if (const auto name = image::IdentityVolumeName(s.Image(), s.layout.IdentityFile())) {
    out.guid = name->ToBytes();
  }
  return out;
}

}  // namespace nox::app
