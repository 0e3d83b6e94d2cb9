// The Windows build of the utility. It loads its own kernel driver, or, when the environment
// variable NOXWINGUI_MACHINE names a simulated machine's directory, runs against that
// machine instead (NOXWINGUI_UI=text then answers the boxes from standard input).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Session.h"
#include "app/Startup.h"
#include "os/OsServices.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimDriverPort.h"
#include "platform/sim/SimOsServices.h"
#include "platform/win32/ConsoleCtrlInterrupts.h"
#include "platform/win32/Win32DriverPort.h"
#include "platform/win32/Win32OsServices.h"
#include "platform/win32/Win32Ui.h"
#include "ui/TextUi.h"

namespace {

std::optional<uint64_t> FreeSpace() {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(nullptr, &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

void Console(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void WaitForKey() {
  int c = 0;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
  }
}

// With the dialogs, a key is waited for only where someone sits at a console: a dialog
// program started from a script or a desktop must not hang on a pipe nobody writes to.
void WaitForKeyAtConsole() {
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) WaitForKey();
}

[[noreturn]] void RunSession(nox::app::Platform& platform, const std::vector<std::string>& args) {
  nox::app::Session session(platform);
  nox::app::RunProgram(session, args);
}

// Whether another instance of the utility is running now: its first instance mutex exists.
bool AnotherInstance() {
  const HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, nox::os::kFirstInstanceMutex);
  if (mutex == nullptr) return false;
  CloseHandle(mutex);
  return true;
}

int Run(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  nox::win32::Win32Ui windowsUi;
  nox::ui::TextUi textUi;
  const char* uiChoice = std::getenv("NOXWINGUI_UI");
  const bool textMode = uiChoice && std::string(uiChoice) == "text";
  nox::ui::Ui& ui = textMode ? static_cast<nox::ui::Ui&>(textUi) : windowsUi;
  void (*const waitForKey)() = textMode ? WaitForKey : WaitForKeyAtConsole;
  // The text window runs in a console, whose Ctrl+C or closing must not cut a flash short;
  // the dialogs shut out input during a flash by themselves.
  std::optional<nox::win32::ConsoleCtrlInterrupts> consoleEvents;
  if (textMode) consoleEvents.emplace();
  const nox::os::InterruptSource* interrupts = consoleEvents ? &*consoleEvents : nullptr;

  const char* machineDir = std::getenv("NOXWINGUI_MACHINE");
  if (machineDir && *machineDir) {
    // The machine is this run's alone. Another instance of the utility holding it is told by
    // the start-up's own instance check, exit code 1 and nothing said; anybody else is waited for.
    bool anotherInstance = false;
    std::string error;
    auto machine = nox::sim::Machine::Open(machineDir, error, nox::sim::Machine::Access::kChange, [&] {
      anotherInstance = AnotherInstance();
      if (!anotherInstance) std::fprintf(stderr, "NOXWINGUI: waiting for %s (in use)\n", machineDir);
      return !anotherInstance;
    });
    if (!machine && anotherInstance) return nox::app::kExitAlreadyRunning;
    if (!machine) {
      std::printf("NOXWINGUI: the simulated machine in %s cannot be used: %s\n", machineDir, error.c_str());
      return nox::app::kExitNoDriver;
    }
    machine->SetUtilityPaths(args.empty() ? "NOXWINGUI.exe" : args[0]);
    nox::sim::SimDriverPort driverPort(*machine, args.empty() ? "NOXWINGUI.exe" : args[0]);
    nox::sim::SimOsServices os(*machine, [](const std::string& name) {
      const HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
      return mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
    });
    os.SetInterruptSource(interrupts);
    nox::app::Platform platform{os, driverPort, ui, nullptr, Console, waitForKey, FreeSpace};
    RunSession(platform, args);
  }
  nox::win32::Win32DriverPort driverPort;
  nox::win32::Win32OsServices os;
  os.SetInterruptSource(interrupts);
  nox::app::Platform platform{os, driverPort, ui, nullptr, Console, waitForKey, FreeSpace};
  RunSession(platform, args);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "NOXWINGUI: unexpected failure: %s\n", e.what());
    return nox::app::kExitUnexpected;
  }
}
