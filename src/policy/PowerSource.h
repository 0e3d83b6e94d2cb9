// Waits for a proper power source before flashing: AC adapter and battery plugged in and
// the battery charged above 10 percent, as the firmware's platform status word says.
#pragma once

#include "policy/PolicyEnv.h"
#include "policy/SystemIdentity.h"

namespace nox::policy {

// 1 when the power source is in order; 0 after the user pressed OK on a warning (call
// again); Cancel ends the run.
int CheckPowerSource(PolicyEnv& env, const SystemIdentity& identity);

}  // namespace nox::policy
