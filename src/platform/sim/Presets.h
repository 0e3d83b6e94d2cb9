// Ready-made machines, and the "key=value" edits that noxsim applies to a profile.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/sim/Profile.h"

namespace nox::sim {

std::vector<std::string> PresetNames();
std::optional<Profile> MakePreset(std::string_view name);

// Sets the field named by a dotted path ("faults.powerLossAfterSmi", "flash.blocks.2.type")
// in a profile's JSON form. The field must exist already, so that a typo is an error and
// not a silently ignored key. The value is read as JSON when it parses, else as text.
// Returns an empty string on success, else what is wrong.
std::string ApplySetting(nlohmann::json& profile, std::string_view assignment);

}  // namespace nox::sim
