// What the policy checks work with: the run's configuration, the firmware layer, the flash
// layout, the user interface and the way a run ends. The session hands these out; the
// checks own none of them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "config/ConfigStore.h"
#include "config/WordOptions.h"
#include "core/SessionEnd.h"
#include "firmware/FirmwareInfo.h"
#include "firmware/IoDriver.h"
#include "firmware/OemCall.h"
#include "firmware/SmiFlash.h"
#include "image/FlashLayout.h"
#include "ui/Ui.h"

namespace nox::policy {

struct PolicyEnv {
  config::ConfigStore& config;
  const config::WordOptionFlags& words;
  firmware::SmiFlash& smi;
  firmware::FirmwareInfo& info;
  firmware::OemCalls& oem;
  firmware::IoDriver& driver;
  image::FlashLayout& layout;
  ui::Ui& ui;
  core::SessionEnd& session;
  // One console line, already formatted.
  std::function<void(const std::string&)> print;
  // The session's work buffer, where the EC block is read to compare versions.
  std::span<uint8_t> scratch = {};
  // Whether the flash part holds the candidate image in what the run writes; unset means it
  // does. The version the machine runs says nothing of an update of it that was cut off.
  std::function<bool(std::span<const uint8_t> image)> partHoldsImage = {};
};

// The ROM image under test.
struct Candidate {
  uint32_t romNumber = 0;
  bool loaded = false;                 // the package holds an image for romNumber
  std::span<const uint8_t> image;
  // The image is the bare ME region: it carries no system identity or version to check.
  bool meRegionOnly = false;
};

}  // namespace nox::policy
