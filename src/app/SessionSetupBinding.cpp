#include "app/SessionSetupBinding.h"

#include <algorithm>

namespace nox::app {

bool SessionSetupBinding::OptionAvailable(uint32_t id) const {
  const config::CommandRecord* record = s_.config.Find(id);
  return record && record->Available();
}

std::vector<std::string> SessionSetupBinding::OptionValues(uint32_t id) const {
  // The store keeps the most recent value first.
  std::vector<std::string> values;
  for (uint32_t i = 0; const auto value = s_.config.GetValue(id, i); ++i) values.push_back(*value);
  std::reverse(values.begin(), values.end());
  return values;
}

void SessionSetupBinding::SetOptionValues(uint32_t id, const std::vector<std::string>& values) {
  s_.config.SetValue(id, "");
  for (const std::string& value : values) {
    if (!value.empty()) s_.config.SetValue(id, value);
  }
}

void SessionSetupBinding::SetSessionField(ui::SessionField field, bool on) {
  FlashSession& fs = s_.flashSession;
  using F = ui::SessionField;
  switch (field) {
    case F::kProgramMainBios: fs.programMainBios = on; break;
    case F::kProgramBootBlock: fs.programBootBlock = on; break;
    case F::kProgramNvram: fs.programNvram = on; break;
    case F::kProgramEc: fs.programEc = on; break;
    case F::kMeIgnition: fs.meIgnitionUpdate = on; break;
    case F::kMeEntire: fs.meEntireUpdate = on; break;
    case F::kAllNcbs: fs.allNcbs = on; break;
    case F::kCheckRomId: fs.checkRomId = on; break;
    case F::kRestart: fs.restartAfterFlash = on; break;
    case F::kSkipSmbios: fs.skipSmbiosPreservation = on; break;
    case F::kEcOnlyIfNewer: fs.ecOnlyIfNewer = on; break;
  }
}

void SessionSetupBinding::SetNcbMaskBit(int bit, bool on) {
  if (bit < 0 || bit >= 32) return;
  const uint32_t mask = uint32_t{1} << bit;
  FlashSession& fs = s_.flashSession;
  fs.ncbMask = on ? fs.ncbMask | mask : fs.ncbMask & ~mask;
}

}  // namespace nox::app
