#include "app/MainWindowHost.h"

#include <cstdlib>

#include "app/FlashRun.h"
#include "app/IdentityText.h"
#include "app/RomFileActions.h"
#include "core/Bytes.h"

namespace nox::app {

namespace {
// The kept ME answer: the span of the flash in front of the system firmware at 10, the
// system firmware region's size at 14.
constexpr size_t kMeSpanOffset = 10;
constexpr size_t kMeFirmwareSizeOffset = 14;
}  // namespace

ui::StartFacts MainWindowHost::Facts() {
  selected_.clear();
  for (const config::CommandRecord& command : s_.config.Records()) {
    if (command.Selected()) selected_.push_back(command.id);
  }
  ui::StartFacts facts;
  facts.packageSuppliedRom = s_.ImageFromPackage();
  facts.scriptNamedRom = s_.config.IsSelected(config::option::kRomFile) &&
                         s_.config.GetValue(config::option::kRomFile).has_value();
  facts.selectedOptionIds = selected_;
  return facts;
}

void MainWindowHost::ApplyStartPlan(const ui::StartPlan& plan) {
  if (plan.releasePackageRom) s_.ReleaseImage();
  if (plan.clearOptionSelection) {
    for (const config::CommandRecord& command : s_.config.Records()) s_.config.SelectCommand(command.id, false);
    // The settings follow the cleared selection, so that what the Setup page shows
    // unchecked is also what a flash does ("/x" from the start no longer lingers).
    ApplyOptionsToSession(s_.config, false, s_.flashSession);
  }
}

ui::FlashFacts MainWindowHost::MapFacts() {
  ui::FlashFacts facts;
  facts.biosFlashSize = s_.smi.TotalFlashSize();
  const auto& answer = s_.ofbd.KeptMeAnswer();
  if (s_.meCapability != 0 && answer) {
    const auto span = core::ReadLe32(*answer, kMeSpanOffset);
    const auto size = core::ReadLe32(*answer, kMeFirmwareSizeOffset);
    if (span && size) {
      facts.hasMeRegion = true;
      facts.wholeFlashSize = *span + *size;
    }
  }
  return facts;
}

ui::InformationFacts MainWindowHost::InfoFacts() {
  ui::InformationFacts facts;
  const os::OsVersionInfo os = s_.platform.os.OsVersion();
  facts.os = {os.platform, os.major, os.minor};
  const image::RegionBounds& bounds = s_.layout.Bounds();
  facts.biosSize = s_.smi.TotalFlashSize();
  facts.mainBiosSize = bounds.mainBios.size;
  facts.bootBlockSize = bounds.bootBlock.size;
  facts.nvramSize = bounds.nvram.size;
  facts.running = RunningIdentityText(s_);
  return facts;
}

ui::SetupFacts MainWindowHost::PageSetupFacts() {
  ui::SetupFacts facts;
  facts.configBehaviour = s_.script.ConfigBehaviour();
  facts.hasEcRegion = s_.layout.EcPresent();
  facts.meSupported = s_.meCapability != 0;
  facts.meImageCheckPassed = s_.meInImage;
  facts.ignitionSupported = (s_.meCapability & Session::kMeRegionAnswered) != 0;
  facts.entireSupported = (s_.meCapability & Session::kMeEntireAccepted) != 0;
  facts.setupPreserveSupported = !s_.setupPreserveUnsupported;
  return facts;
}

void MainWindowHost::OpenRomFile(ui::FlashDialog& dialog) { RomFileActions(s_, dialog).Open(); }

void MainWindowHost::SaveCurrentBios(ui::FlashDialog& dialog) { RomFileActions(s_, dialog).Save(); }

uint32_t MainWindowHost::EcImageSize() {
  return static_cast<uint32_t>(s_.config.Modules()[config::ModuleSlotId::kEc].size);
}

bool MainWindowHost::CheckUpdatePermission(std::string& message) {
  return s_.info.CheckUpdatePermission(s_.info.Ecb(), [&](const std::string& text) { message += text; });
}

uint32_t MainWindowHost::FlashSize(bool reread) {
  if (reread && s_.smi.LoadFlashInfo() == 0) {
    if (const auto& info = s_.smi.Info()) s_.layout.SetBlockTable(*info);
  }
  return s_.smi.TotalFlashSize();
}

void MainWindowHost::RunFlash(ui::FlashDialog& dialog) { FlashRun(s_, dialog).Run(); }

void MainWindowHost::EndSession(uint32_t errorId) {
  s_.EndSession(errorId);
  std::abort();  // the session's end does not come back
}

}  // namespace nox::app
