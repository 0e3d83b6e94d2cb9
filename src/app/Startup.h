// Start-up: every stage from the first look at the command line to the main dialog, and the
// end of the program once the dialog is gone. Every outcome ends the process.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/Session.h"

namespace nox::app {

inline constexpr const char* kStartText =
    "To ensure that no other program interferes with the BIOS update process,\n"
    "it is highly recommended to close all other programs before continue.";

// Exit codes of the ends that do not go through the session's error table.
inline constexpr uint32_t kExitAlreadyRunning = 1;
inline constexpr uint32_t kExitUnknownCommand = 2;
inline constexpr uint32_t kExitNoDriver = 4;
inline constexpr uint32_t kExitNoFlashSupport = 6;

// Runs the program: start-up, the main dialog, and the end of the session. A failed
// allocation ends the session with the memory error.
[[noreturn]] void RunProgram(Session& session, std::vector<std::string> args);

// Writes `image` to `path` unless the current drive's free space cannot be read.
void WriteImageFile(Session& session, const std::string& path, std::span<const uint8_t> image);

}  // namespace nox::app
