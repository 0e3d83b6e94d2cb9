#include "app/StartupSteps.h"

#include "app/Session.h"
#include "config/CommandScript.h"
#include "config/WordOptions.h"
#include "core/CText.h"

namespace nox::app {

namespace {

// The file names come from the lower-cased program path; on a file system that tells case
// apart the directory must keep its own spelling, so the original characters come back.
std::string KeepOriginalCase(std::string name, const std::string& original) {
  for (size_t i = 0; i < name.size() && i < original.size(); ++i) {
    if (core::AsciiLower(original[i]) == name[i]) name[i] = original[i];
  }
  return name;
}

}  // namespace

void CheckCapsuleWords(Session& s, const std::optional<std::string>& script) {
  s.capsuleWarning = script && config::ScriptNamesCapsule(s.config, *script);
}

int TranslateWords(Session& s, std::vector<std::string>& args) {
  const auto print = [&](const std::string& text) { s.Print("%s", text.c_str()); };
  auto translated = config::TranslateWordOptions(args, s.flags.lrFlag, s.capsuleWarning, s.platform.ui, s, print);
  if (translated.result < 0) return -1;
  s.words = translated.flags;
  s.headerFileName = KeepOriginalCase(translated.headerFileName, args[0]);
  s.romFileName = KeepOriginalCase(translated.romFileName, args[0]);
  if (s.words.romGiven) s.romNumber = s.words.romNumber;
  translated.arguments[0] = args[0];
  args = std::move(translated.arguments);
  return 0;
}

void TakeCommandScript(Session& s, const std::optional<std::string>& script, const std::vector<std::string>& args) {
  if (script) s.script.Build(s.config, args[0], args, *script);
  s.parse.commandScriptHeld = s.script.Held();
}

uint32_t RunScriptPass(Session& s) {
  if (!s.script.SecondPassDue()) return 0;
  return s.script.SecondPass(s.config, s.parse);
}

void ApplyFirmwareDefaults(Session& s) {
  if (!s.defaults) s.defaults = std::make_unique<firmware::FirmwareDefaults>(s.ofbd);
  s.defaults->Fetch(s.config, s.script.ConfigBehaviour());
}

// INTERIM (branch only): replaced when the policy checks are merged.
bool CheckAdminPassword(Session&) { return true; }
std::optional<uint32_t> WholeImageDeclaredSize(Session&) { return std::nullopt; }
void RunPolicyChecks(Session& s) { s.candidateMatched = true; }
void ShowUnsupportedSystem(Session&, bool) {}

}  // namespace nox::app
