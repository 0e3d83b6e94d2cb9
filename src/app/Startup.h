// Start-up: every stage from the first look at the command line to the main dialog, and the
// end of the program once the dialog is gone. Every outcome ends the process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Session.h"

namespace nox::app {

// Exit codes of the ends that do not go through the session's error table.
inline constexpr uint32_t kExitAlreadyRunning = 1;
inline constexpr uint32_t kExitUnknownCommand = 2;
inline constexpr uint32_t kExitNoDriver = 4;
inline constexpr uint32_t kExitNoFlashSupport = 6;
// A failure that no outcome foresees escaped the run (a defect); the program says which.
inline constexpr uint32_t kExitUnexpected = 99;

// Runs the program: start-up, the main dialog, and the end of the session. A failed
// allocation ends the session with the memory error.
[[noreturn]] void RunProgram(Session& session, std::vector<std::string> args);

}  // namespace nox::app
