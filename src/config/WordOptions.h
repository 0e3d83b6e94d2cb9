// The user's command line of word options (/factory, /rom=3, /p=..., ...) and what it leaves
// behind for the rest of the run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nox::core {
class SessionEnd;
}
namespace nox::ui {
class Ui;
}

namespace nox::config {

struct WordOptionFlags {
  bool forceit = false;
  bool forcetype = false;
  bool nopause = false;
  bool noreboot = false;
  bool wipeall = false;
  bool wipeclean = false;
  bool writehdrfile = false;
  bool writeromfile = false;
  bool lr = false;          // the word "lr" (apart from the start-up lr flag)
  bool romGiven = false;    // "rom=": a fixed ROM number, no automatic choice
  uint32_t romNumber = 0;
  bool passwordGiven = false;  // "p="
  std::string password;        // at most 127 characters, lower-cased with the whole line
};

// Prints one finished console text (the caller decides where it goes and whether "q"
// silences it).
using ConsolePrinter = std::function<void(const std::string&)>;

namespace word_options {
// The firmware password is kept in a 128-byte field with its terminating zero.
inline constexpr size_t kPasswordCapacity = 128;
inline constexpr size_t kMaxPasswordLength = kPasswordCapacity - 1;
// The internal option text and each word of the list made from it.
inline constexpr size_t kOptionTextCapacity = 255;
inline constexpr size_t kWordCapacity = 32;

inline constexpr const char* kWarningTitle = "WARNING";
inline constexpr const char* kWarningText = "Start to flash ...\nPress OK to continue or CANCEL to quit.";
inline constexpr const char* kWarningTextReboot =
    "Start to flash ...\nSystem is going to reboot\nPress OK to continue or CANCEL to quit.";
}  // namespace word_options

struct TranslatedWordOptions {
  int32_t result = -1;                 // 0, or -1 when the command line is refused
  std::string refusal;                 // why, when it is more than an unknown command
  std::vector<std::string> arguments;  // the internal list: program path, then option words
  WordOptionFlags flags;
  std::string headerFileName;
  std::string romFileName;
};

// Checks the user's command line (program path first), asks for confirmation unless a
// no-pause word was given, and builds the internal argument list that replaces it.
// `lrFlag` is the start-up lr flag (the word "lr" or the firmware's status bit); without it
// /forceit, /forcetype and /nopause are refused. `capsuleWarning` says the package's script
// flashes through a capsule, so the box warns of the restart. Cancel in the box ends the
// session with 0 through `session`.
TranslatedWordOptions TranslateWordOptions(std::span<const std::string> args, bool lrFlag, bool capsuleWarning,
                                           ui::Ui& ui, core::SessionEnd& session, const ConsolePrinter& print);

// The internal option text for the (lower-cased) arguments after the program path, e.g.
// "/p /b /n /k0 /reboot /x ", setting the flags the words name; none for a word that is not
// a word option, or for region words that repeat what an earlier word already asked for.
std::optional<std::string> BuildInternalOptionText(std::span<const std::string> words, WordOptionFlags& flags,
                                                   const ConsolePrinter& print);

// HeaderFileName and RomFileName for a program path: "x.exe" gives "x.hdr" and "x.rom",
// a path without ".exe" gets ".hdr" and ".rom" appended.
std::pair<std::string, std::string> ImageFileNames(std::string_view programPath);

}  // namespace nox::config
