// The terminal build of the utility. It runs against the simulated machine in the directory
// named by NOXWINGUI_MACHINE (default ./machine).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/Session.h"
#include "app/Startup.h"
#include "os/OsServices.h"
#include "platform/console/ConsoleUi.h"
#include "platform/console/InstanceLock.h"
#include "platform/console/RunningExecutable.h"
#include "platform/console/SignalInterrupts.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimDriverPort.h"
#include "platform/sim/SimOsServices.h"

namespace {

std::filesystem::path MachineDirectory() {
  const char* named = std::getenv("NOXWINGUI_MACHINE");
  return named && *named ? std::filesystem::path(named) : std::filesystem::path("machine");
}

int Run(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  const auto dir = MachineDirectory();
  std::error_code ec;
  if (std::filesystem::symlink_status(dir / "machine.json", ec).type() == std::filesystem::file_type::not_found) {
    std::printf("noxwingui: no simulated machine in %s; make one with: noxsim create %s --preset legacy-8m\n",
                dir.string().c_str(), dir.string().c_str());
    return nox::app::kExitNoDriver;
  }
  // The machine is this run's alone. Another instance of the utility holding it is told by the
  // start-up's own instance check, exit code 1 and nothing said; anybody else is waited for.
  bool anotherInstance = false;
  std::string error;
  auto machine = nox::sim::Machine::Open(dir, error, nox::sim::Machine::Access::kChange, [&] {
    anotherInstance = nox::console::InstanceLockHeld(dir, nox::os::kFirstInstanceMutex);
    if (!anotherInstance) std::fprintf(stderr, "noxwingui: waiting for %s (in use)\n", dir.string().c_str());
    return !anotherInstance;
  });
  if (!machine && anotherInstance) return nox::app::kExitAlreadyRunning;
  if (!machine) {
    std::printf("noxwingui: the simulated machine in %s cannot be used: %s\n", dir.string().c_str(), error.c_str());
    return nox::app::kExitNoDriver;
  }

  const auto exe = nox::platform::RunningExecutablePath();
  machine->SetUtilityPaths(exe.value_or(args.empty() ? "noxwingui" : args[0]));
  nox::sim::SimDriverPort driverPort(*machine, exe.value_or(args.empty() ? "noxwingui" : args[0]));
  nox::sim::SimOsServices os(*machine, [&](const std::string& name) { return nox::console::TakeInstanceLock(dir, name); });
  nox::console::SignalInterrupts interrupts;
  os.SetInterruptSource(&interrupts);
  nox::console::ConsoleUi ui;
  nox::app::Platform platform{
      os,
      driverPort,
      ui,
      [] { return nox::platform::RunningExecutablePath(); },
      [](const std::string& text) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
      },
      [] {
        int c = 0;
        while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
        }
      },
      []() -> std::optional<uint64_t> {
        std::error_code spaceError;
        const auto space = std::filesystem::space(".", spaceError);
        if (spaceError) return std::nullopt;
        return space.available;
      }};
  nox::app::Session session(platform);
  nox::app::RunProgram(session, args);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "noxwingui: unexpected failure: %s\n", e.what());
    return nox::app::kExitUnexpected;
  }
}
