// The option script a package may carry: words such as "/p /b /caf" that the utility parses
// after the user's own options, either adding to them or, with "/cfgbhv:0", replacing them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/ConfigStore.h"
#include "config/OptionParser.h"

namespace nox::config {

namespace command_script {
// The list holds the program path and at most 57 further words; every word after the
// program path fits a 16-byte text.
inline constexpr size_t kMaxEntries = 58;
inline constexpr size_t kMaxWordLength = 15;
}  // namespace command_script

// The script's words: split at blanks (spaces, tabs, line ends), ending at a zero byte.
std::vector<std::string> SplitScriptWords(std::string_view script);

// Whether the script asks for a capsule flash, so that the confirmation box can warn of the
// restart. A word counts when what follows its first character starts the capsule option's
// name; only the first 58 words are looked at.
bool ScriptNamesCapsule(const ConfigStore& store, std::string_view script);

class CommandScript {
 public:
  enum class State {
    kNone,     // no script, or one that held nothing but its "cfgbhv:" word
    kHeld,     // a list waits for the second pass
    kRefused,  // too many words, or a word too long: the second pass fails
  };

  // Builds the script list from the package's script. `internalArguments` is the list the
  // word options produced (program path first); it only counts against the 58 entries. The
  // first "cfgbhv:" word selects option 30 and fixes ConfigBehaviour; it is not parsed again.
  State Build(ConfigStore& store, std::string_view programPath, std::span<const std::string> internalArguments,
              std::string_view script);

  State GetState() const { return state_; }
  // The first parse leaves the default region to a held script (ParseContext).
  bool Held() const { return state_ == State::kHeld; }
  // Whether start-up must run the second pass (and fail the run when it does not return 0).
  bool SecondPassDue() const { return state_ != State::kNone; }
  // -1 without a "cfgbhv:" word, else 0 (script replaces the user's options, the Setup page
  // locks them) or 1 (script adds to them).
  int32_t ConfigBehaviour() const { return configBehaviour_; }
  // Program path first, then the script's words.
  const std::vector<std::string>& Arguments() const { return arguments_; }

  // Parses the held list as the second pass and releases it; 0 or the parse's error id.
  // A refused script gives the unknown-command error without touching the options.
  uint32_t SecondPass(ConfigStore& store, ParseContext& context);

  // Drops the list (the end of a session releases it when the second pass did not).
  void Release();

 private:
  State state_ = State::kNone;
  int32_t configBehaviour_ = -1;
  std::vector<std::string> arguments_;
};

}  // namespace nox::config
