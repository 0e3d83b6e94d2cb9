// Runs the vendor ME tool as a flash run does, with the host's real services (Windows's own,
// or those of a simulated run: on POSIX, and on Windows with SMOKE_SIM set): writes TOOL and
// IMAGE to the temporary directory as the package's "@MET" and "@ME0", runs the tool with
// ARGS as the "@MEC" text, and clears the files away. Prints the paths it used and whatever the run printed; the
// scripts check what the tool received (tests/scenarios/metool.sh, scripts/wine-smoke.sh).
// Usage: nox_metool_smoke TOOL IMAGE [ARGS]; on Windows SMOKE_TEMP names the temporary
// directory and SMOKE_COMSPEC the command processor.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ecme/MeTool.h"

#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"
#include "platform/sim/SimOsServices.h"
#ifdef _WIN32
#include "platform/win32/Win32OsServices.h"
#endif

namespace {

bool Load(const char* path, nox::config::ModuleSlot& slot) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) slot.data.insert(slot.data.end(), buffer, buffer + n);
  std::fclose(f);
  slot.size = static_cast<uint32_t>(slot.data.size());
  return true;
}

int Run(nox::os::OsServices& os, const nox::config::ModuleSlots& modules) {
  const nox::ecme::MeToolFiles files = nox::ecme::PrepareMeTool(modules, os);
  std::printf("tool=%s\nimage=%s\n", files.toolPath.c_str(), files.imagePath.c_str());
  nox::ecme::RunMeTool(files, modules, os, [](const std::string& text) { std::printf("%s", text.c_str()); });
  nox::ecme::CleanUpMeTool(files, os);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using nox::config::ModuleSlotId;
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: nox_metool_smoke TOOL IMAGE [ARGS]\n");
    return 2;
  }
  nox::config::ModuleSlots modules;
  if (!Load(argv[1], modules[ModuleSlotId::kMeTool]) || !Load(argv[2], modules[ModuleSlotId::kMe])) {
    std::fprintf(stderr, "nox_metool_smoke: cannot read %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  if (argc == 4) {
    const std::string args = argv[3];
    modules[ModuleSlotId::kMeToolArgs].data.assign(args.begin(), args.end());
    modules[ModuleSlotId::kMeToolArgs].size = static_cast<uint32_t>(args.size());
  }
#ifdef _WIN32
  // Wine sets TMP, TEMP and COMSPEC from its registry over the host's, so the values to use
  // come under names of their own.
  if (const char* temp = std::getenv("SMOKE_TEMP")) {
    SetEnvironmentVariableA("TMP", temp);
    SetEnvironmentVariableA("TEMP", temp);
  }
  if (const char* comspec = std::getenv("SMOKE_COMSPEC")) SetEnvironmentVariableA("COMSPEC", comspec);
  if (std::getenv("SMOKE_SIM") == nullptr) {
    nox::win32::Win32OsServices os;
    return Run(os, modules);
  }
#endif
  std::string error;
  const auto machine = nox::sim::Machine::InMemory(*nox::sim::MakePreset("minimal-1m"), error);
  nox::sim::SimOsServices os(*machine, nullptr, [](uint32_t) {});
  return Run(os, modules);
}
