// The settings of one flash run, taken from the selected options at the end of start-up and
// changed afterwards only by the setup page.
#pragma once

#include <cstdint>
#include <string>

#include "config/ConfigStore.h"
#include "image/RegionSelection.h"

namespace nox::app {

struct FlashSession {
  // The engine's retry budget for the chunks of a pass; a flash run always starts with it,
  // whatever "retry:" said.
  static constexpr uint32_t kDefaultRetries = 5;

  bool romFileGiven = false;
  std::string romFileName;
  std::string saveFileName;
  bool programMainBios = false;
  bool programBootBlock = false;
  bool programNvram = false;
  bool programEc = false;
  bool programNcbs = false;
  bool allNcbs = false;
  uint32_t ncbMask = 0;
  bool skipSmbiosPreservation = true;
  bool checkRomId = true;
  bool ecOnlyIfNewer = false;
  bool oemSmiRequested = false;
  uint32_t oemSmiValue = 0;
  uint32_t retryCount = kDefaultRetries;
  bool meIgnitionUpdate = false;
  bool meEntireUpdate = false;
  bool restartAfterFlash = false;
  bool vendorMeTool = false;
  bool compareAndSkipEqual = false;

  // The regions as the flash layout and the engine take them.
  image::RegionSelection Selection() const;
};

// Resets `session` and fills it from the selected options, in the order 1, 2, 3, 4, 5, 7,
// 42, 57, 8/9, 35, 12, 18, 34, 21, 46. `packageImage` marks an image that came from the
// package. Always 1.
int ApplyOptionsToSession(const config::ConfigStore& config, bool packageImage, FlashSession& session);

// The "oemsmi:" value read as hexadecimal from its last character backwards; characters
// that are not hex digits still take a digit position.
uint32_t OemSmiValue(std::string_view text);

}  // namespace nox::app
