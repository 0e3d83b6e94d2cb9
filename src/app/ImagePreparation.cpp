#include "app/ImagePreparation.h"

#include "app/MeUpdate.h"
#include "core/Format.h"
#include "image/FlashComparison.h"
#include "image/NcbPreparation.h"

namespace nox::app {

bool PrepareNcbs(Session& s, const core::ProgressCallback& onReading) {
  // A hole an interrupted update took away cannot be kept; whoever reruns an update should
  // see that the hole now holds what the image brought.
  const auto onLostHole = [&s](const image::HoleRecord& hole) {
    const std::string name = hole.name.ToRegistryString();
    s.Print(" - ROM hole %s not found in the flash part; the image's contents are written.\n", name.c_str());
    if (s.flashLog) {
      const std::string line =
          core::Format(" ROM hole %s not found in the flash part; the image's contents are written.\r\n", name.c_str());
      std::fwrite(line.data(), 1, line.size(), s.flashLog);
    }
  };
  return image::PrepareNcbsForWriting(s.layout, s.flashSession.Selection(), s.Image(), s.smi, onReading, onLostHole);
}

bool PartHoldsImage(Session& s, std::span<const uint8_t> image) {
  namespace option = config::option;
  const config::ConfigStore& c = s.config;
  image::RegionSelection selection;
  selection.programMainBios = c.IsSelected(option::kMainBios);
  selection.programBootBlock = c.IsSelected(option::kBootBlock);
  selection.programEc = c.IsSelected(option::kEc);
  selection.allNcbs = c.IsSelected(option::kAllNcb);
  selection.programNcbs = selection.allNcbs || c.IsSelected(option::kNcbN);
  if (c.IsSelected(option::kNcbN)) selection.ncbMask = c.GetNumber(option::kNcbN);
  const auto readFlash = [&s](uint32_t address, std::span<uint8_t> to) {
    return s.smi.ReadFlash(address, static_cast<uint32_t>(to.size()), to);
  };
  if (!image::FlashHoldsImage(s.layout, selection, image, readFlash).value_or(true)) return false;
  // The controller's own flash cannot be read back, and it takes the package's firmware only
  // at the end of a transfer: whether a cut-off run got that far is unknowable, so a package
  // that carries EC firmware is never taken as delivered.
  if (!s.config.Modules()[config::ModuleSlotId::kEc].Empty()) return false;
  return !(c.IsSelected(option::kMeIgnition) || c.IsSelected(option::kMeEntire)) || MeRegionHoldsImage(s);
}

void CarryMachineSmbiosIntoImage(Session& s) {
  std::vector<std::string> types;
  for (uint32_t i = 0; const auto value = s.config.GetValue(config::option::kPreserveAllSmbios, i); ++i) {
    types.push_back(*value);
  }
  os::OsServices& os = s.platform.os;
  const auto readFlash = [&s](uint32_t address, std::span<uint8_t> to) {
    return s.smi.ReadFlash(address, static_cast<uint32_t>(to.size()), to);
  };
  const auto saved = s.smbios.Save(s.layout, readFlash, types, [&](int type) {
    os.BlockUserInput(false);
    s.platform.ui.MessageBox(core::Format(image::kMissingTypeWarning, type), ui::kAppTitle, ui::style::kOk);
    os.BlockUserInput(true);
  });
  using Result = image::SmbiosArea::SaveResult;
  if (saved == Result::kReadFailed) s.EndSession(image::layout_error::kFlashReadFailed);
  if (saved == Result::kNoMemory) s.EndSession(config::error::kNoMemory);
  if (saved == Result::kSaved) s.smbios.Restore(s.layout, s.Image());
}

}  // namespace nox::app
