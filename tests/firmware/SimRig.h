// The utility's firmware layer wired to an in-memory simulated machine, as a run would wire
// it: driver port, driver loader, SMI flash, OFBD, OEM calls and firmware information.
#pragma once

#include <filesystem>
#include <algorithm>
#include <functional>

#include "firmware/FirmwareInfo.h"
#include "firmware/IoDriver.h"
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
    secure = std::make_unique<firmware::SecureFlash>(*smi, *ofbd);
    info = std::make_unique<firmware::FirmwareInfo>(*smi, *ofbd, *oem, *secure, *os,
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
  size_t Mark() const { return Journal().size(); }
  // The journal lines from line `from` on that `keep` picks.
  std::vector<nlohmann::json> Lines(size_t from, const std::function<bool(const nlohmann::json&)>& keep) const {
    const auto all = Journal();
    std::vector<nlohmann::json> out;
    std::copy_if(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end(),
                 std::back_inserter(out), keep);
    return out;
  }
  // The SMI requests, and the events called `name`.
  std::vector<nlohmann::json> Smis(size_t from = 0) const {
    return Lines(from, [](const nlohmann::json& j) { return j.contains("smi") && !j.contains("event"); });
  }
  std::vector<nlohmann::json> Events(const std::string& name, size_t from = 0) const {
    return Lines(from, [&](const nlohmann::json& j) { return j.value("event", "") == name; });
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
  std::unique_ptr<firmware::SecureFlash> secure;
  std::unique_ptr<firmware::FirmwareInfo> info;
  std::string console;
};

}  // namespace nox::testing
