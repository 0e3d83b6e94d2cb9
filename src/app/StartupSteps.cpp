#include "app/StartupSteps.h"

#include "app/Session.h"
#include "config/CommandScript.h"
#include "config/WordOptions.h"
#include "core/CText.h"
#include "policy/AdminPassword.h"
#include "policy/PolicyChecks.h"
#include "policy/Wipe.h"

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
  // The password given with "/p=" lives on only in the word flags, which the check wipes.
  for (std::string& arg : args) {
    if (core::AsciiLower(arg).rfind("/p=", 0) == 0) policy::WipeString(arg);
  }
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

bool CheckAdminPassword(Session& s) {
  auto env = s.Policy();
  return policy::CheckAdminPassword(env, s.words);
}

std::optional<uint32_t> WholeImageDeclaredSize(Session& s) {
  policy::ReadRomIdentity(s.identity, s.Image(), policy::RomScanMode::kWholeImage);
  // Without a "$SIZ" block there is no declared size to cut the image to.
  if (s.identity.romDeclaredSize == 0) return std::nullopt;
  return s.identity.romDeclaredSize;
}

void RunPolicyChecks(Session& s) {
  auto env = s.Policy();
  const policy::Candidate candidate{s.romNumber, !s.config.Modules()[config::ModuleSlotId::kRom].Empty(), s.Image()};
  bool matched = false;
  policy::RunPolicyChecks(env, s.identity, candidate, matched);
  s.candidateMatched = matched;
}

void ShowUnsupportedSystem(Session& s, bool restoreFirstCandidate) {
  auto env = s.Policy();
  if (restoreFirstCandidate) {
    s.identity.RestoreFirstCandidate();
  } else {
    policy::ReadCurrentIdentity(env, s.identity);
  }
  policy::RefuseUnsupported(env, s.identity);
}

}  // namespace nox::app
