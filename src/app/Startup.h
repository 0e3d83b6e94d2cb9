// Start-up: every stage from the first look at the command line to the main dialog. Returns
// 0 after the main dialog closes; every other outcome ends the process.
#pragma once

#include <string>
#include <vector>

#include "app/Session.h"

namespace nox::app {

inline constexpr const char* kStartText =
    "To ensure that no other program interferes with the BIOS update process,\n"
    "it is highly recommended to close all other programs before continue.";

int RunStartup(Session& session, std::vector<std::string> args);

// Writes `image` to `path` unless the current drive's free space cannot be read.
void WriteImageFile(Session& session, const std::string& path, std::span<const uint8_t> image);

// The NCB selection check: false when the mask names an NCB the image does not have.
bool NcbSelectionValid(size_t ncbCount, uint32_t mask);

}  // namespace nox::app
