// What a build of the utility hands the session: its ports and the few facts about the
// running program that only the platform knows.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "firmware/DriverPort.h"
#include "os/OsServices.h"
#include "ui/Ui.h"

namespace nox::app {

struct Platform {
  os::OsServices& os;
  firmware::DriverPort& driver;
  ui::Ui& ui;
  // The system's record of the running program's file, where there is one.
  std::function<std::optional<std::string>()> runningExecutable;
  // Writes console text (the message printer's output).
  std::function<void(const std::string&)> console;
  // Waits for one key press (the end of a run that is not silent).
  std::function<void()> waitForKey;
  // Free space of the current drive; none when it cannot be read.
  std::function<std::optional<uint64_t>()> freeSpace;
};

}  // namespace nox::app
