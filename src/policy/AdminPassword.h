// The firmware's administrator password: when one is set, the update may only go on after
// the firmware has accepted the password from "/p=" or from the password dialog.
#pragma once

#include "config/WordOptions.h"
#include "policy/PolicyEnv.h"

namespace nox::policy {

inline constexpr const char* kAdminPasswordPrompt = "Enter Admin Password";

// True when updating may go on; false after a message box. `words` gives the "/p=" value,
// which is wiped once it has been used, as is every other copy the check made.
bool CheckAdminPassword(PolicyEnv& env, config::WordOptionFlags& words);

}  // namespace nox::policy
