#include "policy/PolicyChecks.h"

#include <cstdlib>
#include <string>

#include "config/CommandTable.h"
#include "core/CText.h"
#include "core/Format.h"
#include "policy/PowerSource.h"

namespace nox::policy {
namespace {

constexpr const char* kWarning = "WARNING";
constexpr uint16_t kDowngradeBits = 0x0180;

[[noreturn]] void Refuse(PolicyEnv& env, const std::string& text, const char* title, uint32_t style = ui::style::kOk) {
  env.ui.MessageBox(text, title, style);
  env.session.EndSession(0);
  std::abort();  // EndSession does not return; this keeps the promise visible to the compiler
}

unsigned Code(char c) { return static_cast<unsigned char>(c); }

// Character codes, not digit values: for a letter and two digits this orders versions.
unsigned VersionCode(const Version& v) { return Code(v[0]) * 100 + Code(v[1]) * 10 + Code(v[2]); }

// The number of the second and third characters, as the protection options compare them.
unsigned VersionNumber(char second, char third) { return Code(second) * 10 + Code(third); }

std::optional<unsigned> OptionNumber(const config::ConfigStore& config, uint32_t id) {
  if (!config.IsSelected(id)) return std::nullopt;
  const auto value = config.GetValue(id);
  if (!value) return std::nullopt;
  // The first character of the value is not used; missing characters count as zero.
  const char second = value->size() > 1 ? (*value)[1] : '\0';
  const char third = value->size() > 2 ? (*value)[2] : '\0';
  return VersionNumber(second, third);
}

bool Confirmed(PolicyEnv& env, const std::string& text, const std::string& title) {
  // Anything but OK (Cancel, a closed box, the end of input) is a refusal.
  return env.ui.MessageBox(text, title, ui::style::kOkCancel | ui::style::kIconWarning) == ui::Button::kOk;
}

}  // namespace

int ReadCurrentIdentity(PolicyEnv& env, SystemIdentity& identity) {
  if (env.info.UefiFirmware()) {
    if (const auto areas = env.oem.ReadIdentity()) ReadIdentityArea(identity, areas->identity, areas->modelName);
  }
  if (identity.versionFound && identity.idsFound && identity.nameFound) return 0;
  const std::span<uint8_t> segment = env.driver.MapPhysical(firmware::segment::kF, firmware::segment::kViewLength);
  if (segment.empty()) {
    if (env.print) env.print(" error mapping physical memory!\n");
    return -1;
  }
  ReadSegmentMarkers(identity, segment, env.info.EcbPresent());
  env.driver.UnmapPhysical(segment);
  return 0;
}

uint32_t CheckEcVersion(PolicyEnv& env, std::span<const uint8_t> image) {
  std::optional<image::EcBlockRecord> record;
  if (const auto& ecb = env.info.Ecb()) {
    record = image::EcBlockRecord{ecb->flags, ecb->ecBlockAddress, ecb->ecBlockSize, ecb->ecVersionOffset,
                                  ecb->ecVersionMask};
  }
  return env.layout.CheckEcNewer(image, record, env.scratch, [&](uint32_t address, std::span<uint8_t> to) {
    return env.smi.ReadFlash(address, static_cast<uint32_t>(to.size()), to);
  });
}

void RefuseUnsupported(PolicyEnv& env, const SystemIdentity& identity) {
  env.ui.ShowKorvInfo(MakeKorvInfo(identity));
  env.session.EndSession(0);
  std::abort();
}

uint32_t CheckExtensionList(PolicyEnv& env, const SystemIdentity& identity) {
  if (ExtensionListHolds(identity)) return 0;
  Refuse(env, "Korv extension ID is not match.\n", kWarning);
}

void CheckVersionProtection(PolicyEnv& env, const SystemIdentity& identity) {
  const Version& v = identity.currentVersion;
  const char letter = core::AsciiUpper(v[0]);
  const unsigned number = VersionNumber(v[1], v[2]);
  const auto notA = OptionNumber(env.config, config::option::kNotAVersion);
  const auto notX = OptionNumber(env.config, config::option::kNotXVersion);
  const auto ndwA = OptionNumber(env.config, config::option::kNdwaVersion);
  const bool refused = (notA && letter == 'A' && number < *notA) || (notX && letter == 'X' && number < *notX) ||
                       (ndwA && letter == 'A' && number >= *ndwA);
  if (!refused) return;
  Refuse(env, core::Format("%c%c%c version is protected,can't to be flashed.\nPress OK to exit.", v[0], v[1], v[2]),
         kWarning);
}

void ConfirmVersionChange(PolicyEnv& env, const SystemIdentity& identity, std::span<const uint8_t> image) {
  const Version& rom = identity.rom.version;
  const Version& current = identity.currentVersion;
  if (core::AsciiUpper(rom[0]) == 'A' && core::AsciiUpper(current[0]) != 'A') return;
  const bool userMayConfirm = (env.info.EcbFlags() & kDowngradeBits) != 0;
  const unsigned romCode = VersionCode(rom);
  const unsigned currentCode = VersionCode(current);
  if (romCode > currentCode) return;
  if (romCode < currentCode) {
    if (!userMayConfirm) {
      if (env.words.forceit) return;
      Refuse(env,
             "You are about to flash your bios to an older Bios version.\nKorv does not recommend flashing your Bios "
             "to an older version.\nPress OK button to exit.",
             kWarning);
    }
    if (Confirmed(env,
                  "You are about to flash your BIOS to an older BIOS version.\nKorv does not recommend flashing your "
                  "BIOS to an older version.\nPress the \"OK\" button to continue the flash process.",
                  "WARNING!!")) {
      return;
    }
    env.session.EndSession(0);
  }
  // The machine may run this version because an update to it got far enough before it was
  // cut off: refusing it would leave the rest of the part as the cut left it.
  if (env.partHoldsImage && !env.partHoldsImage(image)) {
    env.print(" - The flash part does not hold this BIOS version completely: the update is repeated.\n");
    return;
  }
  if (!userMayConfirm) {
    if (env.words.forceit) return;
    Refuse(env, "Can't flash to the same Bios version.\nPress OK to exit.", kWarning);
  }
  const std::string title = core::Format("%s BIOS Flash %c%c%c", std::string(identity.rom.systemName.Text()).c_str(),
                                         rom[0], rom[1], rom[2]);
  const std::string text = core::Format(
      "Confirm - Replace \"%c%c%c\" BIOS wilth \"%c%c%c\" BIOS?\nPress OK will close all applications, shut down "
      "Windows, flash the BIOS, then reboot.",
      current[0], current[1], current[2], rom[0], rom[1], rom[2]);
  if (!Confirmed(env, text, title)) env.session.EndSession(0);
}

void RunPolicyChecks(PolicyEnv& env, SystemIdentity& identity, const Candidate& candidate, bool& matched) {
  matched = false;
  if (!candidate.loaded) {
    Refuse(env, core::Format("Can't find the number %02d ROM file ...\nPress OK to quit.", candidate.romNumber),
           kWarning);
  }
  if (candidate.meRegionOnly) {
    // Only the firmware's begin request decides whether the region may be written; the
    // power source must still hold out.
    matched = true;
    ReadCurrentIdentity(env, identity);
    if (env.info.EcbPresent()) {
      while (CheckPowerSource(env, identity) == 0) {
      }
    }
    return;
  }
  // The layout of this image also locates its identity file.
  env.smi.EnableFlash();
  if (const auto& info = env.smi.Info()) env.layout.SetBlockTable(*info);
  if (const uint32_t error = env.layout.AnalyseImage(candidate.image); error != 0) env.session.EndSession(error);
  // A flash that cannot be read here is not acted upon: the flash run checks the EC version
  // again and stops before anything is written.
  CheckEcVersion(env, candidate.image);

  ReadCurrentIdentity(env, identity);
  if (const auto index = env.oem.ReadSystemNameIndex()) identity.systemNameIndex = *index;
  const image::PlatformIdentityFile& file = env.layout.IdentityFile();
  ReadRomIdentity(identity, candidate.image, RomScanMode::kIdentityFile, file.Found() ? file.imageOffset : 0,
                  file.Found() ? file.size : 0);

  // The automatic choice among the package's images.
  const bool sysext = env.config.IsSelected(config::option::kSystemExtendedId);
  if (!env.words.romGiven && !env.words.forcetype) {
    matched = IdMatches(identity) || (sysext && ExtensionListHolds(identity));
    if (!matched) {
      if (candidate.romNumber == 0) identity.SaveFirstCandidate();
      if (candidate.romNumber < kLastRomNumber) return;
      // None fitted: show what the first image was made for, not the last one tried.
      identity.RestoreFirstCandidate();
      RefuseUnsupported(env, identity);
    }
  }

  // Flash writes stay enabled only while the image is examined.
  env.smi.DisableFlash();
  CheckVersionProtection(env, identity);
  const bool machineUnknown = identity.currentSystemId == 0 && identity.currentExtendedId == 0;
  const bool imageUnknown = identity.rom.systemId == 0 && identity.rom.extendedId == 0;
  if (machineUnknown || imageUnknown) RefuseUnsupported(env, identity);

  // The ID check proper.
  if (env.words.forcetype) {
    CheckExtensionList(env, identity);
  } else if (!env.info.EcbPresent()) {
    if (!IdMatches(identity)) {
      if (!sysext) Refuse(env, "Korv ID is not match.\n", kWarning);
      CheckExtensionList(env, identity);
    }
  } else {
    // With the capability block the model names decide first; the IDs are not looked at
    // when they differ.
    if (!(identity.currentSystemName == identity.rom.systemName)) RefuseUnsupported(env, identity);
    if (!IdMatches(identity)) {
      if (!sysext) RefuseUnsupported(env, identity);
      CheckExtensionList(env, identity);
    }
  }

  // An unattended forced run skips the questions.
  if (env.words.forceit && env.words.lr) return;

  if (env.info.EcbPresent()) {
    while (CheckPowerSource(env, identity) == 0) {
    }
  }
  ConfirmVersionChange(env, identity, candidate.image);

  // The firmware's own list of versions that must not be flashed.
  const Version& rom = identity.rom.version;
  if (env.oem.VersionProtected(identity.rom.extendedId, rom)) {
    const Version& cur = identity.currentVersion;
    Refuse(env,
           core::Format("\"%c%c%c\" version is protected, can't flash to \"%c%c%c\" version.\nPress OK to exit.",
                        cur[0], cur[1], cur[2], rom[0], rom[1], rom[2]),
           "System Warning !!");
  }
}

}  // namespace nox::policy
