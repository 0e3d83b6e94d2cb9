// The vendor's ME update tool, carried in the package: written to temporary files at
// start-up, run through the command processor during a flash run, and cleared away at the
// run's end. What the tool does with the image is its own business; the utility neither
// reads its exit status nor its "error.log".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "config/ModuleSlots.h"
#include "os/OsServices.h"

namespace nox::ecme {

inline constexpr const char* kMeToolFileName = "FWUpd.exe";
inline constexpr const char* kMeImageFileName = "UpdTmp.bin";
inline constexpr const char* kMeToolErrorLog = "error.log";
inline constexpr uint32_t kMeToolPauseMs = 5000;

inline constexpr const char* kMeToolMissing =
    "- Warning : Intel FwUpdLcl Tool doesn't exist, cancel the ME firmware update process !!\n";
inline constexpr const char* kMeImageMissing =
    "- Warning : ME firmware bin file doesn't exist, cancel the ME firmware update process !!\n";

// Which temporary files this run wrote: only those are run and deleted.
namespace me_written {
inline constexpr uint8_t kImage = 1;
inline constexpr uint8_t kTool = 2;
}  // namespace me_written

struct MeToolFiles {
  std::string toolPath;
  std::string imagePath;
  uint8_t written = 0;  // me_written bits
};

using ConsolePrinter = std::function<void(const std::string&)>;

// Writes the package's ME image and tool into the temporary directory (the current one when
// the system has none). A file that cannot be written completely is left out, unreported:
// the run then says that it is missing.
MeToolFiles PrepareMeTool(const config::ModuleSlots& modules, os::OsServices& os);

// Runs the tool on the image, with the package's argument text, and waits for it; then
// pauses so that the ME settles before the run goes on. A file this run did not write, or
// that cannot be read any more, only gets its warning.
void RunMeTool(const MeToolFiles& files, const config::ModuleSlots& modules, os::OsServices& os,
               const ConsolePrinter& print);

// Keeps the tool's "error.log" in the temporary directory (replacing the one of an earlier
// run) and deletes the files PrepareMeTool wrote. Harmless to call when nothing was prepared.
void CleanUpMeTool(const MeToolFiles& files, os::OsServices& os);

}  // namespace nox::ecme
