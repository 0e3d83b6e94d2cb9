#include "app/FlashRun.h"

#include "app/ImagePreparation.h"
#include "app/MeUpdate.h"
#include "ecme/EcUpdate.h"

#include "core/Format.h"
#include "image/BlockEngine.h"
#include "image/LayoutView.h"
#include "policy/FirmwarePassword.h"
#include "policy/PolicyChecks.h"

namespace nox::app {

namespace {

using image::RegionKind;
namespace option = config::option;

struct RegionLogText {
  const char* update;
  const char* check;
};

const char* RegionName(RegionKind kind) {
  switch (kind) {
    case RegionKind::kBootBlock: return "boot block region";
    case RegionKind::kMainBios: return "main BIOS region";
    case RegionKind::kEc: return "EC region";
    case RegionKind::kNcb: return "NCB region";
    case RegionKind::kNvram: break;
  }
  return "NVRAM region";
}

RegionLogText LogText(RegionKind kind) {
  switch (kind) {
    case RegionKind::kBootBlock:
      return {" Start to update BootBlock region.\r\n", " Start to check BootBlock region.\r\n"};
    case RegionKind::kMainBios:
      return {" Start to update MainBios region.\r\n", " Start to check MainBios region.\r\n"};
    case RegionKind::kEc:
      return {" Start to update EC region.\r\n", " Start to check EC region.\r\n"};
    case RegionKind::kNcb:
      return {" Start to update NCB region.\r\n", " Start to check NCB region.\r\n"};
    case RegionKind::kNvram:
      break;
  }
  return {" Start to update Nvram region.\r\n", " Start to update Nvram region.\r\n"};
}

// An image without a version (a bare ME region) shows question marks, not raw bytes.
std::string VersionLine(const policy::SystemIdentity& id) {
  const auto shown = [](char c) { return c >= 0x20 && c < 0x7F ? c : '?'; };
  const auto& from = id.currentVersion;
  const auto& to = id.rom.version;
  return core::Format("Version %c%c%c to %c%c%c.", shown(from[0]), shown(from[1]), shown(from[2]), shown(to[0]),
                      shown(to[1]), shown(to[2]));
}

}  // namespace

void FlashRun::Run() {
  os::OsServices& os = s_.platform.os;
  FlashSession& fs = s_.flashSession;

  fs.retryCount = FlashSession::kDefaultRetries;
  s_.smi.EnableFlash();
  os.KeepAwake(true);
  // A flash that cannot be read leaves the window open with nothing changed.
  auto policyEnv = s_.Policy();
  if (const uint32_t error = policy::CheckEcVersion(policyEnv, s_.Image()); error != 0) {
    s_.Print(" - %s\n", s_.config.ErrorMessage(error));
    os.KeepAwake(false);
    return;
  }

  // The firmware password is asked for once per process.
  if (s_.firmwarePasswordPending) {
    policy::FirmwarePasswordEnv env{s_.config, s_.ofbd, s_.smi, s_.platform.ui, os,
                                    [this](const std::string& text) { s_.Print("%s", text.c_str()); }};
    const policy::FirmwarePasswordResult result = policy::RunFirmwarePassword(env);
    if (result.messageShown) s_.firmwareMessageShown = true;
    if (result.error != 0) s_.EndSession(0);
    s_.firmwarePasswordPending = false;
  }

  os.SetFlashProtection(true);
  // Stopping halfway through a region could leave the machine unable to start: from here a
  // request to stop waits until the region being written is finished.
  os.HoldInterrupts(true);
  dialog_.EnableFlashButton(false);
  dialog_.EnableExitButton(false);
  if (const std::string reason = dialog_.BlockingReason(); !reason.empty()) {
    s_.platform.ui.MessageBox(reason, flash_text::kCannotUpdateTitle, ui::style::kIconWarning);
    Finish();
    return;
  }

  // A file the user opened has passed no identity check; unless the Setup page says not
  // to check the ROM ID, it must be made for this machine.
  if (s_.ImageFromFile() && fs.checkRomId && !FileFitsMachine()) {
    Fail(flash_text::kRomIdMismatch);
    dialog_.EnableFlashButton(true);
    Finish();
    return;
  }

  // An EC that is not newer is refused when the firmware compares versions.
  const auto& ecb = s_.info.Ecb();
  if (fs.ecOnlyIfNewer && !s_.layout.EcNewer() &&
      (!ecb || (ecb->flags & image::EcBlockRecord::kCompareVersions) != 0)) {
    Fail(flash_text::kEcNotNewer);
    dialog_.EnableFlashButton(true);
    Finish();
    return;
  }

  // Firmware that programs the flash itself got an image prepared before it took it.
  const bool secure = s_.info.SecureFlashCapable();
  if (!secure && !PrepareNcbs()) {
    dialog_.EnableFlashButton(true);
    Finish();
    return;
  }

  os.BlockUserInput(true);
  dialog_.ResetMap(ui::kGrey);
  const config::ConfigStore& c = s_.config;
  if (c.IsSelected(option::kMainBios) || c.IsSelected(option::kNvram) || c.IsSelected(option::kBootBlock) ||
      c.IsSelected(option::kEc) || fs.programNcbs) {
    dialog_.ShowProgressPage();
  }
  dialog_.SetMessageLines("Updating BIOS from", VersionLine(s_.identity));

  if (!secure) PreserveSmbios();
  if (WriteRegions() && UpdateMeRegion()) {
    dialog_.SetStatus("Done.");
    if (c.IsSelected(option::kMeFwUpdLcl) && GoOn()) {
      // The vendor's tool may ask the user something; input is the user's while it runs.
      os.BlockUserInput(false);
      ecme::RunMeTool(s_.meTool, s_.config.Modules(), os, [this](const std::string& text) { s_.Print("%s", text.c_str()); });
      os.BlockUserInput(true);
    }
    dialog_.BringToFront();
    if (UpdatePackageEc()) success_ = true;
  }
  Finish();
}

bool FlashRun::WriteRegions() {
  const FlashSession& fs = s_.flashSession;
  const config::ConfigStore& c = s_.config;
  // A failed region stops the sequence; what was written before stays written.
  if (!UpdateNvram()) return false;
  if (!UpdateIfSelected(c.IsSelected(option::kMainBios), "Main Bios.", RegionKind::kMainBios)) return false;
  if (!UpdateIfSelected(c.IsSelected(option::kBootBlock), "BB.", RegionKind::kBootBlock)) return false;
  if (!UpdateIfSelected(fs.programNcbs, "NCB.", RegionKind::kNcb)) return false;
  return UpdateIfSelected(c.IsSelected(option::kEc), "EC.", RegionKind::kEc);
}

bool FlashRun::UpdateMeRegion() {
  const config::ConfigStore& c = s_.config;
  const bool ignition = c.IsSelected(option::kMeIgnition);
  if (!ignition && !c.IsSelected(option::kMeEntire)) return true;
  if (!GoOn()) return false;
  if (UpdateMe(s_, dialog_) == 0) {
    finished_ = "ME region";
    return true;
  }
  Fail(ignition ? flash_text::kMeIgnitionFailed : flash_text::kMeEntireFailed);
  return false;
}

// The EC firmware the package carries goes to the controller last; a controller that took
// it needs the machine to lose power, not merely restart.
bool FlashRun::UpdatePackageEc() {
  const config::ModuleSlot& module = s_.config.Modules()[config::ModuleSlotId::kEc];
  if (module.Empty()) return true;
  if (!GoOn()) return false;
  ecme::EcUpdateEnv env{s_.smi, s_.ofbd, s_.platform.os, [this](const std::string& text) { s_.Print("%s", text.c_str()); },
                        [this](uint16_t done, uint16_t total) { dialog_.OnEcProgress(done, total); }};
  const std::span<const uint8_t> image(module.data.data(), std::min<size_t>(module.size, module.data.size()));
  if (ecme::UpdateEcFirmware(env, image) != 0) {
    Fail(flash_text::kEcFailed);
    return false;
  }
  s_.config.SelectCommand(option::kReboot, false);
  s_.config.SelectCommand(option::kShutdown, true);
  finished_ = "EC firmware update";
  return true;
}

bool FlashRun::PrepareNcbs() {
  FlashSession& fs = s_.flashSession;
  fs.programNcbs = false;
  fs.allNcbs = false;
  if (s_.config.IsSelected(option::kNcbN)) fs.programNcbs = true;
  if (s_.config.IsSelected(option::kAllNcb)) fs.programNcbs = fs.allNcbs = true;
  const size_t count = s_.layout.NcbCount();
  if (fs.programNcbs && (count == 0 || (uint64_t{1} << count) <= fs.ncbMask)) {
    Fail(flash_text::kNcbNotAvailable);
    return false;
  }
  if (count == 0) return true;
  const bool prepared = app::PrepareNcbs(s_, [this](uint32_t a, uint32_t v, uint32_t l) { dialog_.OnReading(a, v, l); });
  if (!prepared) Fail(flash_text::kNcbPrepareFailed);
  return prepared;
}

bool FlashRun::FileFitsMachine() const {
  const policy::SystemIdentity& id = s_.identity;
  return policy::IdMatches(id) ||
         (s_.config.IsSelected(option::kSystemExtendedId) && policy::ExtensionListHolds(id));
}

void FlashRun::PreserveSmbios() {
  if (ui::SetupPageModel* setup = dialog_.SetupPage()) setup->ApplySmbiosTypes();
  const FlashSession& fs = s_.flashSession;
  if (fs.programBootBlock && !fs.skipSmbiosPreservation) CarryMachineSmbiosIntoImage(s_);
}

bool FlashRun::UpdateNvram() {
  if (!s_.config.IsSelected(option::kNvram)) return true;
  if (!GoOn()) return false;
  const bool preserve = s_.config.IsSelected(option::kPreserveSetup);
  if (preserve && s_.ofbd.SetupPreserve(2) != 0) {
    Fail(flash_text::kStoreSetupFailed);
    return false;
  }
  dialog_.SetRegionLabel("NVRAM.");
  if (!UpdateRegion(RegionKind::kNvram)) return false;
  if (preserve && s_.ofbd.SetupPreserve(4) != 0) {
    Fail(flash_text::kRestoreSetupFailed);
    return false;
  }
  finished_ = RegionName(RegionKind::kNvram);
  return true;
}

bool FlashRun::UpdateIfSelected(bool selected, const char* label, RegionKind kind) {
  if (!selected) return true;
  if (!GoOn()) return false;
  dialog_.SetRegionLabel(label);
  if (!UpdateRegion(kind)) return false;
  finished_ = RegionName(kind);
  return true;
}

bool FlashRun::UpdateRegion(RegionKind kind) {
  const FlashSession& fs = s_.flashSession;
  const bool compare = fs.compareAndSkipEqual && kind != RegionKind::kNvram;
  LogRegion(kind);

  const image::RegionSelection selection = fs.Selection();
  const image::LayoutView view(s_.layout, selection);
  image::LogSink sink;
  if (s_.flashLog) sink = [this](const std::string& line) { Log(line); };
  image::BlockEngine engine(s_.smi, s_.platform.os, view, s_.Image(), {fs.retryCount, fs.allNcbs}, sink);
  const core::ProgressCallback erasing = [this](uint32_t a, uint32_t v, uint32_t l) { dialog_.OnErasing(a, v, l); };
  const core::ProgressCallback programming = [this](uint32_t a, uint32_t v, uint32_t l) {
    dialog_.OnProgramming(a, v, l);
  };
  const core::ProgressCallback verifying = [this](uint32_t a, uint32_t v, uint32_t l) { dialog_.OnVerifying(a, v, l); };

  if (compare) {
    if (engine.CompareRegion(verifying, erasing, programming, kind)) return true;
    RegionFailed("Failed!", false);
    return false;
  }
  if (!engine.EraseRegion(erasing, kind)) {
    RegionFailed("Erase Failed!", true);
    return false;
  }
  if (!engine.ProgramRegion(programming, kind)) {
    RegionFailed("Write Failed!", true);
    return false;
  }
  if (!engine.VerifyRegion(verifying, kind)) {
    RegionFailed("Verify Failed!", true);
    return false;
  }
  return true;
}

void FlashRun::RegionFailed(const char* status, bool reenableButtons) {
  s_.platform.os.BlockUserInput(false);
  dialog_.SetStatus(status);
  s_.platform.ui.MessageBox(flash_text::kFailureBox, ui::kAppTitle, ui::style::kIconError);
  if (reenableButtons) {
    dialog_.EnableFlashButton(true);
    dialog_.EnableExitButton(true);
  }
}

void FlashRun::LogRegion(RegionKind kind) {
  if (!s_.flashLog) return;
  const RegionLogText text = LogText(kind);
  Log(s_.flashSession.compareAndSkipEqual ? text.check : text.update);
  const image::RegionBounds& b = s_.layout.Bounds();
  switch (kind) {
    case RegionKind::kBootBlock:
      Log(core::Format(" Boot Block Region 0x%08X - 0x%08X\r\n", b.bootBlock.low, b.bootBlock.end));
      break;
    case RegionKind::kMainBios:
      Log(core::Format(" Main BIOS Region 0x%08X - 0x%08X\r\n", b.mainBios.low, b.mainBios.end));
      break;
    case RegionKind::kEc: Log(core::Format(" EC Region 0x%08X - 0x%08X\r\n", b.ec.low, b.ec.end)); break;
    case RegionKind::kNvram: Log(core::Format(" Nvram Region 0x%08X - 0x%08X\r\n", b.nvram.low, b.nvram.end)); break;
    case RegionKind::kNcb:
      for (size_t i = 0; i < b.ncb.size(); ++i) {
        if (b.ncb[i].end != 0) {
          Log(core::Format(" NCB %d Region 0x%08X - 0x%08X\r\n", static_cast<int>(i), b.ncb[i].low, b.ncb[i].end));
        }
      }
      break;
  }
}

void FlashRun::Log(const std::string& line) {
  if (s_.flashLog) std::fwrite(line.data(), 1, line.size(), s_.flashLog);
}

void FlashRun::Fail(const char* text) {
  errorText_ = text;
  errorShown_ = true;
}

void FlashRun::ReportInterruption() {
  const std::string text =
      finished_ ? core::Format(flash_text::kInterruptedAfter, finished_) : std::string(flash_text::kInterruptedBefore);
  dialog_.SetStatus(flash_text::kInterruptedStatus);
  // No box is shown any more: a failure's text goes to the console with the rest.
  if (errorShown_) s_.Print(" - %s\n", errorText_.c_str());
  s_.Print(" - %s\n", text.c_str());
  Log(" " + text + "\r\n");
}

void FlashRun::Finish() {
  os::OsServices& os = s_.platform.os;
  const uint32_t stop = os.InterruptRequested();
  if (stop != 0) ReportInterruption();
  dialog_.EnableExitButton(true);
  ecme::CleanUpMeTool(s_.meTool, os);
  s_.smi.DisableFlash();
  os.BlockUserInput(false);
  // What follows asks the user or ends the program: a request to stop now ends it at once.
  // One that came during the flash ends it here, without a box or a key to wait for: the
  // user or the system wants the program gone.
  os.HoldInterrupts(false);
  if (stop != 0) {
    os.SetFlashProtection(false);
    os.KeepAwake(false);
    s_.EndInterrupted(stop);
  }
  if (errorShown_) s_.platform.ui.MessageBox(errorText_, ui::kAppTitle, ui::style::kIconError);
  os.SetFlashProtection(false);
  os.KeepAwake(false);

  if (success_) {
    const config::ConfigStore& c = s_.config;
    if (c.IsSelected(option::kMeEntire) && (s_.meCapability & Session::kMeEntireAccepted) != 0 &&
        !c.IsSelected(option::kReboot)) {
      s_.platform.ui.MessageBox(flash_text::kPowerOffWarning, ui::kAppTitle, ui::style::kIconWarning);
    }
    if (c.IsSelected(option::kReboot) || c.IsSelected(option::kShutdown)) {
      RestartOrPowerOff();
      return;
    }
  }
  s_.EndSession(0);
}

void FlashRun::RestartOrPowerOff() {
  const bool restart = s_.config.IsSelected(option::kReboot);
  s_.ReleaseForShutdown();
  if (restart) {
    s_.platform.os.RestartMachine();
  } else {
    s_.platform.os.PowerOffMachine();
  }
  // Back here, the system did not take the program down (no shutdown privilege, or the
  // request was refused). The session has let go of everything already: only the final exit
  // is left, once.
  s_.FinalExit(0);
}

}  // namespace nox::app
