// Turns an internal argument list ("/p", "-reboot", "/ifile.rom", ...) into selected
// commands with their values and numbers, then applies the fixed consistency rules.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "config/ConfigStore.h"

namespace nox::config {

// What a parse needs to know from the rest of the run, and what it hands back. The session
// keeps one of these for both passes.
struct ParseContext {
  // In: this is the second pass, over the package's command script.
  bool secondPass = false;
  // In: the package gave a command script, so the default region is left to it.
  bool commandScriptHeld = false;
  // Out: option "q" was given; console messages print nothing for the rest of the run.
  bool silenced = false;
  // In/out: whether the SMI flash interface is prepared when the firmware is opened;
  // option "ec" clears it.
  bool prepareFlashInterface = true;
  // Whether a file can be opened for reading (option "hole:" checks the ROM file).
  // Empty means: try to open it with the C library.
  std::function<bool(const std::string&)> canOpenForReading;
};

// Error ids ParseOptions can return besides 0.
namespace parse_error {
inline constexpr uint32_t kUnknownCommand = 1;
inline constexpr uint32_t kCannotOpenRomIdFile = 146;
inline constexpr uint32_t kInvalidRetryCount = 150;
inline constexpr uint32_t kInvalidRomIdLength = 151;
inline constexpr uint32_t kInvalidSmi = 152;
}  // namespace parse_error

// `args` holds the program path first, then the option words. Returns 0 or an error id.
uint32_t ParseOptions(ConfigStore& store, std::span<const std::string> args, ParseContext& context);

// Matches one argument against the table and applies it; false when no command takes it.
bool MatchArgument(ConfigStore& store, const std::string& argument);

}  // namespace nox::config
