// The start-up stages that hand over to the word options, the command script, the firmware
// defaults and the policy checks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nox::app {

class Session;

// Notes whether the package's command script selects the capsule update.
void CheckCapsuleWords(Session& s, const std::optional<std::string>& script);
// Translates the user's word options into the internal argument list; 0 or -1.
int TranslateWords(Session& s, std::vector<std::string>& args);
// Takes the package's command script as the second argument list.
void TakeCommandScript(Session& s, const std::optional<std::string>& script, const std::vector<std::string>& args);
// Runs the second pass over the command script when there is one; 0 or the parse error.
uint32_t RunScriptPass(Session& s);
// Asks the firmware for its default options and applies them.
void ApplyFirmwareDefaults(Session& s);
// The administrator password; false when the run must end.
bool CheckAdminPassword(Session& s);
// Reads the image's identity in whole-image mode; the declared size when the image has one.
std::optional<uint32_t> WholeImageDeclaredSize(Session& s);
// The policy checks of the loaded candidate (may end the session).
void RunPolicyChecks(Session& s);
// Shows the unsupported-system dialog for the first candidate (or the running machine).
void ShowUnsupportedSystem(Session& s, bool restoreFirstCandidate);

}  // namespace nox::app
