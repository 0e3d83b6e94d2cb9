#include "app/FlashSession.h"

#include <algorithm>

#include "core/CText.h"

namespace nox::app {

using namespace config::option;

image::RegionSelection FlashSession::Selection() const {
  image::RegionSelection s;
  s.programBootBlock = programBootBlock;
  s.programMainBios = programMainBios;
  s.programNvram = programNvram;
  s.programEc = programEc;
  s.ecOnlyIfNewer = ecOnlyIfNewer;
  s.programNcbs = programNcbs;
  s.allNcbs = allNcbs;
  s.ncbMask = ncbMask;
  return s;
}

uint32_t OemSmiValue(std::string_view text) {
  uint32_t value = 0;
  uint32_t shift = 0;
  for (size_t i = text.size(); i-- > 0; shift += 4) {
    const char c = core::AsciiUpper(text[i]);
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    // Digits beyond the eighth would shift out of the 32-bit value.
    if (digit >= 0 && shift < 32) value += static_cast<uint32_t>(digit) << shift;
  }
  return value;
}

int ApplyOptionsToSession(const config::ConfigStore& config, bool packageImage, FlashSession& session) {
  session = FlashSession{};
  const auto value = [&](uint32_t id) { return config.GetValue(id).value_or(std::string()); };
  if (config.IsSelected(kRomFile) && config.GetValue(kRomFile)) {
    session.romFileGiven = true;
    session.romFileName = value(kRomFile);
  }
  if (packageImage) session.romFileGiven = true;
  if (config.IsSelected(kSaveFile) && config.GetValue(kSaveFile)) session.saveFileName = value(kSaveFile);
  session.programMainBios = config.IsSelected(kMainBios);
  session.programBootBlock = config.IsSelected(kBootBlock);
  session.programNvram = config.IsSelected(kNvram);
  session.programEc = config.IsSelected(kEc);
  if (config.IsSelected(kMeEntire)) session.meEntireUpdate = true;
  if (config.IsSelected(kMeFwUpdLcl)) {
    session.vendorMeTool = true;
    session.meEntireUpdate = false;
  }
  if (config.IsSelected(kNcbN)) {
    session.programNcbs = true;
    session.ncbMask = config.GetNumber(kNcbN);
  } else if (config.IsSelected(kAllNcb)) {
    session.programNcbs = true;
    session.allNcbs = true;
  }
  if (config.IsSelected(kOemSmi)) {
    session.oemSmiRequested = true;
    session.oemSmiValue = OemSmiValue(value(kOemSmi));
  }
  if (config.IsSelected(kNoRomIdCheck)) session.checkRomId = false;
  if (config.IsSelected(kPreserveAllSmbios)) session.skipSmbiosPreservation = false;
  if (config.IsSelected(kEcIfNewer)) session.ecOnlyIfNewer = true;
  if (config.IsSelected(kRetry)) {
    session.retryCount = static_cast<uint32_t>(std::clamp<int64_t>(core::CDecimal(value(kRetry)), 1, UINT32_MAX));
  }
  if (config.IsSelected(kCompareFirst)) session.compareAndSkipEqual = true;
  return 1;
}

}  // namespace nox::app
