// The utility's firmware layer wired to an in-memory simulated machine, as a run would wire
// it: driver port, driver loader, SMI flash, OFBD, OEM calls and firmware information.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "config/ModuleSlots.h"
#include "firmware/FirmwareInfo.h"
#include "firmware/IoDriver.h"
#include "firmware/OemCall.h"
#include "firmware/Ofbd.h"
#include "firmware/SmiFlash.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"
#include "platform/sim/SimDriverPort.h"
#include "platform/sim/SimOsServices.h"

namespace nox::testing {

class SimRig {
 public:
  // `windowsMajor` is the Windows version the driver port reports.
  explicit SimRig(const std::string& preset, const std::function<void(sim::Profile&)>& tweak = {},
                  uint32_t windowsMajor = 10) {
    auto profile = sim::MakePreset(preset);
    if (!profile) throw std::runtime_error("no preset " + preset);
    if (tweak) tweak(*profile);
    std::string error;
    machine = sim::Machine::InMemory(*profile, error);
    if (!machine) throw std::runtime_error(error);
    dir = std::filesystem::temp_directory_path() /
          ("nox_rig_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(dir);
    port = std::make_unique<sim::SimDriverPort>(*machine, (dir / "NOXWINGUI.exe").string(), windowsMajor);
    os = std::make_unique<sim::SimOsServices>(*machine, nullptr);
    modules[config::ModuleSlotId::kW64].data = {'D', 'R', 'V'};
    modules[config::ModuleSlotId::kW64].size = 3;
    driver = std::make_unique<firmware::IoDriver>(*port, modules, true);
    smi = std::make_unique<firmware::SmiFlash>(*driver, *os);
    ofbd = std::make_unique<firmware::Ofbd>(*smi);
    oem = std::make_unique<firmware::OemCalls>(*smi);
    info = std::make_unique<firmware::FirmwareInfo>(*smi, *ofbd, *oem, *os,
                                                    [this](const std::string& t) { console += t; });
  }
  ~SimRig() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  // Load the driver, probe and open the firmware, as start-up does.
  void Open() {
    if (!driver->LoadIoDriver()) throw std::runtime_error("driver did not load");
    if (info->ProbeFirmware() != 0) throw std::runtime_error("probe failed");
    if (info->OpenFirmware(std::nullopt) != 0) throw std::runtime_error("open failed");
  }

  std::vector<nlohmann::json> Journal() const { return machine->GetJournal().Entries(); }
  // The SMI lines from journal line `from` on.
  std::vector<nlohmann::json> Smis(size_t from = 0) const {
    std::vector<nlohmann::json> out;
    const auto all = Journal();
    for (size_t i = from; i < all.size(); ++i) {
      if (all[i].contains("smi") && !all[i].contains("event")) out.push_back(all[i]);
    }
    return out;
  }
  size_t Mark() const { return Journal().size(); }
  std::vector<nlohmann::json> Events(const std::string& name, size_t from = 0) const {
    std::vector<nlohmann::json> out;
    const auto all = Journal();
    for (size_t i = from; i < all.size(); ++i) {
      if (all[i].value("event", "") == name) out.push_back(all[i]);
    }
    return out;
  }

  std::filesystem::path dir;
  std::unique_ptr<sim::Machine> machine;
  std::unique_ptr<sim::SimDriverPort> port;
  std::unique_ptr<sim::SimOsServices> os;
  config::ModuleSlots modules;
  std::unique_ptr<firmware::IoDriver> driver;
  std::unique_ptr<firmware::SmiFlash> smi;
  std::unique_ptr<firmware::Ofbd> ofbd;
  std::unique_ptr<firmware::OemCalls> oem;
  std::unique_ptr<firmware::FirmwareInfo> info;
  std::string console;
};

}  // namespace nox::testing
