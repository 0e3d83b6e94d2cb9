// The firmware password that some firmware asks for before it lets the flash be written:
// asked for through an OFBD exchange, typed into the password dialog, checked by the
// firmware, with a limited number of tries.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "config/ConfigStore.h"
#include "firmware/Ofbd.h"
#include "firmware/SmiFlash.h"
#include "os/OsServices.h"
#include "ui/Ui.h"

namespace nox::policy {

inline constexpr uint32_t kErrPasswordRetryExceeded = 155;

struct FirmwarePasswordResult {
  uint32_t error = 0;          // 0 or kErrPasswordRetryExceeded
  bool messageShown = false;   // a firmware text explained the refusal already
};

struct FirmwarePasswordEnv {
  const config::ConfigStore& config;
  firmware::Ofbd& ofbd;
  firmware::SmiFlash& smi;
  ui::Ui& ui;
  os::OsServices& os;
  std::function<void(const std::string&)> print;
};

// True when a flash region is selected and the firmware speaks OFBD: only then is the
// firmware asked whether it wants a password.
bool FirmwarePasswordApplies(const config::ConfigStore& config, uint16_t ofbdVersion);

// Runs the exchange when it applies; input stays blocked around the dialog and is lifted
// for every box the user must answer.
FirmwarePasswordResult RunFirmwarePassword(FirmwarePasswordEnv& env);

}  // namespace nox::policy
