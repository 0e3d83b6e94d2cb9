// INTERIM (branch only): replaced when the word options and policy checks are merged.
#include "app/StartupSteps.h"

#include <cstdlib>

#include "app/Session.h"

namespace nox::app {

void CheckCapsuleWords(Session&, const std::optional<std::string>&) {}
int TranslateWords(Session&, std::vector<std::string>& args) {
  std::vector<std::string> out{args[0]};
  for (size_t i = 1; i < args.size(); ++i) out.push_back(args[i]);
  out.push_back("/reboot");
  out.push_back("/x");
  args = out;
  return 0;
}
void TakeCommandScript(Session&, const std::optional<std::string>&, const std::vector<std::string>&) {}
uint32_t RunScriptPass(Session&) { return 0; }
void ApplyFirmwareDefaults(Session&) {}
bool CheckAdminPassword(Session&) { return true; }
std::optional<uint32_t> WholeImageDeclaredSize(Session&) { return std::nullopt; }
void RunPolicyChecks(Session& s) { s.candidateMatched = true; }
void ShowUnsupportedSystem(Session&, bool) {}

}  // namespace nox::app
