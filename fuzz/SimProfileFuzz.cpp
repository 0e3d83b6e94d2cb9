// machine.json is edited by hand; any text must give a profile or a clear error.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/sim/Presets.h"
#include "platform/sim/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const nlohmann::json json = nlohmann::json::parse(data, data + size, nullptr, false);
  if (json.is_discarded()) return 0;
  nox::sim::ProfileResult r = nox::sim::ProfileFromJson(json);
  if (r.profile) {
    // What was accepted must survive its own JSON form unchanged.
    if (nox::sim::ProfileToJson(*nox::sim::ProfileFromJson(nox::sim::ProfileToJson(*r.profile)).profile) !=
        nox::sim::ProfileToJson(*r.profile)) {
      __builtin_trap();
    }
  } else if (r.error.empty()) {
    __builtin_trap();
  }
  nlohmann::json edited = nox::sim::ProfileToJson(*nox::sim::MakePreset("minimal-1m"));
  nox::sim::ApplySetting(edited, std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
